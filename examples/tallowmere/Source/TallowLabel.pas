unit TallowLabel;

interface

uses
  Classes, StdCtrls;

type
  TTallowLabel = class(TLabel)
  published
    property Caption;
  end;

procedure Register;

implementation

procedure Register;
begin
  RegisterComponents('Tallowmere', [TTallowLabel]);
end;

end.
