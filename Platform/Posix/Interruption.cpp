// Interrupts on POSIX: SIGINT, SIGTERM and SIGHUP are blocked in every thread and taken with
// sigwait by a thread of their own, so that the clean-up runs as ordinary code (it may wait for a
// lock, allocate, write through the console's channel) instead of inside a signal handler, and no
// other thread's system call is ever cut short by them.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <ctime>

#include "Platform/InterruptHolds.h"
#include "Platform/Interruption.h"
#include "Platform/Posix/UncommittedFiles.h"

namespace quillet::platform {

namespace {

constexpr int INTERRUPT_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
// How often an interrupt that waits for a hold looks again; meanwhile it watches for a second one.
constexpr long HOLD_RETRY_NANOSECONDS = 20'000'000;

sigset_t handledSignals;
void (*finishOutput)() = nullptr;

void* TakeInterrupts(void*) {
  int signal = 0;
  while (::sigwait(&handledSignals, &signal) != 0) {
  }
  const int status = 128 + signal;
  holds::interrupted = true;
  // The programs the run started end first: they are in process groups of their own, which the
  // terminal's Ctrl+C does not reach, and a compile holds no hold that would let them finish.
  holds::EndRunningChildren();
  ++holds::holdDepth; // the finishing code's own holds must not wait for themselves
  while (!holds::HoldLock().try_lock()) {
    const timespec retry{0, HOLD_RETRY_NANOSECONDS};
    if (::sigtimedwait(&handledSignals, nullptr, &retry) > 0) {
      ::_exit(status); // asked twice: the run is stuck in a hold, so it ends as it stands
    }
  }
  posix::RemoveUncommittedFiles();
  if (finishOutput != nullptr) {
    finishOutput();
  }
  ::_exit(status);
}

} // namespace

bool HandleInterrupts(void (*finish)()) {
  sigemptyset(&handledSignals);
  bool any = false;
  for (const int signal : INTERRUPT_SIGNALS) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
      sigaddset(&handledSignals, signal);
      any = true;
    }
  }
  if (!any) {
    return true; // every one of them is ignored: nothing to take
  }
  finishOutput = finish;
  sigset_t previous;
  if (::pthread_sigmask(SIG_BLOCK, &handledSignals, &previous) != 0) {
    return false;
  }
  pthread_t thread{};
  if (::pthread_create(&thread, nullptr, TakeInterrupts, nullptr) != 0) {
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return false;
  }
  ::pthread_detach(thread); // it ends only with the process
  return true;
}

void holds::EndChild(std::intptr_t child) {
  ::kill(-static_cast<pid_t>(child), SIGKILL); // the whole group
}

[[noreturn]] void holds::WaitForever() {
  for (;;) {
    ::pause();
  }
}

} // namespace quillet::platform
