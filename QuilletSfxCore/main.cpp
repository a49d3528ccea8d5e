// quillet-sfx: the installer. Its package is appended to this program file or named by the first
// argument.
#include "Platform/Process.h"
#include "QuilletSfxCore/Console.h"
#include "QuilletSfxCore/RunInstaller.h"

int main(int argc, char** argv) {
  quillet::platform::InitialiseProcess();
  int status = quillet::EXIT_FAILURE_REPORT;
  try {
    status = quillet::RunInstaller(quillet::platform::ProgramArguments(argc, argv));
  } catch (...) {
    status = quillet::ReportCurrentException();
  }
  quillet::StdConsole().Flush();
  return status;
}
