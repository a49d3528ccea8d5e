unit TallowGrid;

interface

uses
  Classes, Grids;

type
  TTallowGrid = class(TStringGrid)
  private
    FStripeColor: Integer;
  published
    property StripeColor: Integer read FStripeColor write FStripeColor default 0;
  end;

procedure Register;

implementation

procedure Register;
begin
  RegisterComponents('Tallowmere', [TTallowGrid]);
end;

end.
