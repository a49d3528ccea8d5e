// The holds, the same on every platform; each platform's Interruption.cpp takes the interrupt.
#include "Platform/Interruption.h"

#include "Platform/InterruptHolds.h"
#include "Platform/Testing.h"

#include <algorithm>
#include <vector>

namespace quillet::platform {

namespace holds {

// Never destroyed: an interrupt may come while the program's static objects are being destroyed.
std::recursive_mutex& HoldLock() {
  static auto* lock = new std::recursive_mutex;
  return *lock;
}

std::atomic<bool> interrupted = false;
thread_local int holdDepth = 0;

namespace {

// The running children and whether the interrupt has ended them. Never destroyed, as the lock.
struct Children {
  std::mutex lock;
  std::vector<std::intptr_t> running;
  bool ended = false;
};

Children& RunningChildren() {
  static auto* children = new Children;
  return *children;
}

} // namespace

RunningChild::RunningChild(std::intptr_t child) : child_(child) {
  Children& children = RunningChildren();
  const std::lock_guard lock(children.lock);
  if (children.ended) {
    EndChild(child); // the run is being ended: this one does not get to run either
  }
  children.running.push_back(child);
}

RunningChild::~RunningChild() {
  Children& children = RunningChildren();
  const std::lock_guard lock(children.lock);
  const auto at = std::find(children.running.begin(), children.running.end(), child_);
  if (at != children.running.end()) {
    children.running.erase(at);
  }
}

void EndRunningChildren() {
  Children& children = RunningChildren();
  const std::lock_guard lock(children.lock);
  children.ended = true;
  for (const std::intptr_t child : children.running) {
    EndChild(child);
  }
}

} // namespace holds

InterruptHold::InterruptHold() {
  if (holds::holdDepth == 0 && holds::interrupted) {
    holds::WaitForever(); // the run is ending: wait for the interrupt to end the process
  }
  holds::HoldLock().lock();
  ++holds::holdDepth;
}

InterruptHold::~InterruptHold() {
  --holds::holdDepth;
  holds::HoldLock().unlock();
}

int testing::InterruptHoldsOnThisThread() {
  return holds::holdDepth;
}

void EndInterruptHandling() {
  holds::HoldLock().lock(); // and never unlocked
}

} // namespace quillet::platform
