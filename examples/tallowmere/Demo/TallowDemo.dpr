program TallowDemo;

uses
  Forms, TallowGrid, TallowLabel;

begin
  Application.Initialize;
  Application.Run;
end.
