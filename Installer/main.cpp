// quillet-sfx: the installer. Its package is appended to this program file or named by the first
// argument.
#include <string>

#include "Installer/Console.h"
#include "Installer/RunInstaller.h"
#include "Platform/Interruption.h"
#include "Platform/Process.h"

int main(int argc, char** argv) {
  quillet::platform::InitialiseProcess();
  // Before any thread starts. An interrupt removes the temporary file of the entry being written,
  // ends the console's line and ends the run.
  quillet::platform::HandleInterrupts([] { quillet::StdConsole().FinishForInterrupt(); });
  int status = quillet::EXIT_FAILURE_REPORT;
  try {
    status = quillet::RunInstaller(quillet::platform::ProgramArguments(argc, argv));
  } catch (...) {
    status = quillet::ReportCurrentException();
  }
  quillet::StdConsole().Log("Exit status: " + std::to_string(status));
  quillet::StdConsole().Flush();
  quillet::platform::EndInterruptHandling(); // the run is over: what comes now is the exit
  return status;
}
