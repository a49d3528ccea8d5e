// Faults for the tests to provoke: failures that a real system shows rarely and never on demand,
// such as a close that reports written data lost (a disk found full late, a network file system).
//
// The hooks live in Platform/Testing.cpp, for both platforms; the services call them.
#pragma once

namespace quillet::platform::testing {

// Makes the next OutputFile::Close in this process close the file and then report failure.
void FailNextOutputFileClose();

// Makes the next OutputFile::Commit that puts a file in place call `hook`, right after it did so,
// from inside the commit.
void CallAfterNextOutputFileCommit(void (*hook)());

// Makes the next flush of an OutputFile (a UserRecord's, Platform/FileSystem.h) call `hook`, right
// after it, before the file takes the target's name; nullptr takes back a hook not yet called.
void CallAfterNextOutputFileFlush(void (*hook)());

// Makes the next change of user.reg (POSIX) call `hook` after it read the file and wrote the new
// text, before it checks that the file is still the one it read.
void CallBeforeNextUserRegistryCheck(void (*hook)());

// The InterruptHolds that the calling thread holds now.
int InterruptHoldsOnThisThread();

// For the platform's own files: whether the next close is to fail (once), and the call that a
// commit makes once a file is in place.
bool TakeCloseFailure();
void CommitDone();
void FlushDone();
void UserRegistryWritten();

// Not a function but an environment variable, read by the installer program itself so that the
// end-to-end tests can interrupt it at a known point: when QUILLET_TEST_STALL_WRITE names a file,
// the first OutputFile::Write of the process writes its bytes, then creates that file and waits
// for ever (only an interrupt or a kill ends it).
inline constexpr const char* STALL_WRITE_VARIABLE = "QUILLET_TEST_STALL_WRITE";

} // namespace quillet::platform::testing
