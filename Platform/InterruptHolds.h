// What the interrupt handling of Platform/Interruption.h shares between its common part
// (Platform/Interruption.cpp: the holds) and each platform's part (taking the interrupt).
// For Platform/ only.
#pragma once

#include <atomic>
#include <mutex>

namespace quillet::platform::holds {

// Held by every InterruptHold and taken for good by the interrupt before it cleans up.
std::recursive_mutex& HoldLock();

// Set once an interrupt has been taken: from then on no thread begins a new hold.
extern std::atomic<bool> interrupted;

// The holds this thread has taken and not yet let go.
extern thread_local int holdDepth;

// Blocks the calling thread until the process ends. Each platform has its own way to sleep.
[[noreturn]] void WaitForever();

} // namespace quillet::platform::holds
