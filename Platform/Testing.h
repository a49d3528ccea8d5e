// Faults for the tests to provoke: failures that a real system shows rarely and never on demand,
// such as a close that reports written data lost (a disk found full late, a network file system).
//
// Implemented with the service each concerns, in Platform/Posix and Platform/Win32.
#pragma once

namespace quillet::platform::testing {

// Makes the next OutputFile::Close in this process close the file and then report failure.
void FailNextOutputFileClose();

} // namespace quillet::platform::testing
