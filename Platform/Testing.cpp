// The fault hooks of Platform/Testing.h, the same on every platform.
#include "Platform/Testing.h"

#include <atomic>

namespace quillet::platform::testing {

namespace {
std::atomic<bool> failNextClose = false;
std::atomic<void (*)()> afterNextCommit = nullptr;
std::atomic<void (*)()> afterNextFlush = nullptr;
std::atomic<void (*)()> beforeNextUserRegistryCheck = nullptr;
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

void CallAfterNextOutputFileFlush(void (*hook)()) {
  afterNextFlush = hook;
}

void FlushDone() {
  if (void (*hook)() = afterNextFlush.exchange(nullptr)) {
    hook();
  }
}

void CallBeforeNextUserRegistryCheck(void (*hook)()) {
  beforeNextUserRegistryCheck = hook;
}

void UserRegistryWritten() {
  if (void (*hook)() = beforeNextUserRegistryCheck.exchange(nullptr)) {
    hook();
  }
}

} // namespace quillet::platform::testing
