// The fault hooks of Platform/Testing.h, the same on every platform.
#include "Platform/Testing.h"

#include <atomic>

namespace quillet::platform::testing {

namespace {
std::atomic<bool> failNextClose = false;
std::atomic<void (*)()> afterNextCommit = nullptr;
} // namespace

void FailNextOutputFileClose() {
  failNextClose = true;
}

bool TakeCloseFailure() {
  return failNextClose.exchange(false);
}

void CallAfterNextOutputFileCommit(void (*hook)()) {
  afterNextCommit = hook;
}

void CommitDone() {
  if (void (*hook)() = afterNextCommit.exchange(nullptr)) {
    hook();
  }
}

} // namespace quillet::platform::testing
