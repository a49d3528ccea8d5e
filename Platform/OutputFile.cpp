// The parts of OutputFile (Platform/FileSystem.h) that are the same on both sides: which files are
// flushed, what a failing close means, and the order of Commit's steps. The steps themselves, on
// each side's own kind of file, are in Platform/Posix/OutputFile.cpp and
// Platform/Win32/FileSystem.cpp.
#include <atomic>
#include <cstdlib>
#include <utility>

#include "Platform/FileSystem.h"
#include "Platform/Interruption.h"
#include "Platform/Testing.h"

namespace quillet::platform {

void OutputFile::StallIfAsked() {
  static const char* const mark = std::getenv(testing::STALL_WRITE_VARIABLE);
  static std::atomic<bool> stalled = false;
  if (mark != nullptr && !stalled.exchange(true)) {
    MarkAndStall(mark);
  }
}

bool OutputFile::FlushIfUserRecord() {
  if (kind_ != OutputKind::UserRecord) {
    return true;
  }
  const bool flushed = FlushFile();
  testing::FlushDone();
  return flushed;
}

bool OutputFile::Close() {
  if (!state_ || !IsOpen()) {
    return false;
  }
  if (ClosedOnlyByCommit()) {
    return !std::exchange(closeRequested_, true);
  }
  const bool flushed = FlushIfUserRecord();
  // A failing close can be the first report of lost data (a full disk, a network file system).
  const bool closed = CloseFile();
  closedCleanly_ = !testing::TakeCloseFailure() && closed && flushed;
  return closedCleanly_;
}

bool OutputFile::LostData() const {
  return state_ && lostData_;
}

bool OutputFile::Commit() {
  const InterruptHold hold; // an interrupt finds the file either in the list or in place
  if (state_ && ClosedOnlyByCommit()) {
    return CommitUnnamed();
  }
  if (!state_ || !HasTemporary()) {
    return false;
  }
  if (IsOpen() && !Close()) {
    lostData_ = true;
  }
  const bool placed = PutInPlace(closedCleanly_);
  if (placed) {
    testing::CommitDone();
  }
  return placed;
}

} // namespace quillet::platform
