unit TallowReg;

interface

procedure Register;

implementation

uses
  Classes, TallowGrid, TallowLabel;

procedure Register;
begin
  RegisterComponents('Tallowmere', [TTallowGrid, TTallowLabel]);
end;

end.
