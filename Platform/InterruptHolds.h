// What the interrupt handling of Platform/Interruption.h shares between its common part
// (Platform/Interruption.cpp: the holds) and each platform's part (taking the interrupt).
// For Platform/ only.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace quillet::platform::holds {

// Held by every InterruptHold and taken for good by the interrupt before it cleans up.
std::recursive_mutex& HoldLock();

// Set once an interrupt has been taken: from then on no thread begins a new hold.
extern std::atomic<bool> interrupted;

// The holds this thread has taken and not yet let go.
extern thread_local int holdDepth;

// The children running now, which an interrupt ends before the process ends: on POSIX a process
// group's id, on Windows a job object's handle. The list is kept by Platform/Interruption.cpp,
// each platform ends one child its own way (EndChild).
class RunningChild {
public:
  // Adds `child` to the list; once an interrupt has ended the children, ends it at once instead.
  explicit RunningChild(std::intptr_t child);
  ~RunningChild(); // takes it off the list
  RunningChild(const RunningChild&) = delete;
  RunningChild& operator=(const RunningChild&) = delete;

private:
  std::intptr_t child_;
};

// For the interrupt: ends every child on the list now, and each one added from now on.
void EndRunningChildren();

// Ends one child and every process it started, at once; each platform has its own way.
void EndChild(std::intptr_t child);

// Blocks the calling thread until the process ends. Each platform has its own way to sleep.
[[noreturn]] void WaitForever();

} // namespace quillet::platform::holds
