// Interrupts on Windows: Ctrl+C, Ctrl+Break and closing the console window reach the console
// control handler, which the system calls on a new thread of the process; the clean-up runs
// there as ordinary code while the rest of the program goes on until it meets the hold.
#include <atomic>

#include "Platform/InterruptHolds.h"
#include "Platform/Interruption.h"
#include "Platform/Win32/Win32.h"

namespace quillet::platform {

namespace {

// How often an interrupt that waits for a hold looks again (and for a second interrupt).
constexpr DWORD HOLD_RETRY_MILLISECONDS = 20;

void (*finishOutput)() = nullptr;
std::atomic<bool> askedAgain = false; // a second interrupt came while the first waited

[[noreturn]] void EndProcess() {
  ::TerminateProcess(::GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  holds::WaitForever(); // TerminateProcess does not return for the calling process
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE; // logoff and shutdown reach services only
  }
  if (holds::interrupted.exchange(true)) {
    askedAgain = true; // the first one decides; this thread only waits for the end
    holds::WaitForever();
  }
  // The programs the run started end first, with every process they started (their jobs): a
  // program started without a console never sees the Ctrl+C itself.
  holds::EndRunningChildren();
  ++holds::holdDepth; // the finishing code's own holds must not wait for themselves
  while (!holds::HoldLock().try_lock()) {
    if (askedAgain) {
      EndProcess(); // asked twice: the run is stuck in a hold, so it ends as it stands
    }
    ::Sleep(HOLD_RETRY_MILLISECONDS);
  }
  win32::RemoveUncommittedFiles();
  if (finishOutput != nullptr) {
    finishOutput();
  }
  EndProcess();
}

} // namespace

bool HandleInterrupts(void (*finish)()) {
  finishOutput = finish;
  return ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

void holds::EndChild(std::intptr_t child) {
  ::TerminateJobObject(reinterpret_cast<HANDLE>(child), STATUS_CONTROL_C_EXIT);
}

[[noreturn]] void holds::WaitForever() {
  for (;;) {
    ::Sleep(INFINITE);
  }
}

} // namespace quillet::platform
