// Standard descriptors that were closed when the program started.
#pragma once

namespace quillet::platform::posix {

// Puts /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no file the program
// opens later (the package, for one) takes that number and is mistaken for a standard stream.
void ReserveClosedStandardDescriptors();

} // namespace quillet::platform::posix
