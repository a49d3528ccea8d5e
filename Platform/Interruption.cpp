// The holds, the same on every platform; each platform's Interruption.cpp takes the interrupt.
#include "Platform/Interruption.h"

#include "Platform/InterruptHolds.h"
#include "Platform/Testing.h"

namespace quillet::platform {

namespace holds {

// Never destroyed: an interrupt may come while the program's static objects are being destroyed.
std::recursive_mutex& HoldLock() {
  static auto* lock = new std::recursive_mutex;
  return *lock;
}

std::atomic<bool> interrupted = false;
thread_local int holdDepth = 0;

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
