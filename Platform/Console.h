// Console channels: standard input and standard output as byte streams.
//
// One piece of the interface between Quillet and the operating system: declared once here,
// implemented in Platform/Posix/Console.cpp and Platform/Win32/Console.cpp.
// No OS type appears in it.
#pragma once

#include <cstddef>
#include <memory>

namespace quillet::platform {

enum class ChannelKind {
  Console, // a character device: output is written out at the end of every write operation
  Stream,  // a disk file or a pipe: output is written in blocks
};

enum class ReadOutcome {
  Data,       // one or more bytes were delivered
  End,        // the input has no more bytes
  BrokenPipe, // the writer went away: also the end of input
  Failed,     // any other failure; a later read may succeed
};

class ConsoleChannel {
public:
  virtual ~ConsoleChannel() = default;
  virtual ChannelKind Kind() const = 0;
  // Reads up to `capacity` bytes; `got` receives the count when the outcome is Data.
  virtual ReadOutcome Read(char* buffer, std::size_t capacity, std::size_t& got) = 0;
  // Writes all `size` bytes, or fewer when the handle fails; gives the number written.
  virtual std::size_t Write(const char* data, std::size_t size) = 0;
};

// The process's standard input or output; nullptr when the handle cannot be used.
std::unique_ptr<ConsoleChannel> OpenStandardInput();
std::unique_ptr<ConsoleChannel> OpenStandardOutput();
// The process's standard error, for misuse of the command line.
std::unique_ptr<ConsoleChannel> OpenStandardError();

// Whether a lone LF ends an input line. POSIX terminals and text end lines with LF; the Windows
// console ends them with CR LF and a lone LF is an ordinary character there.
bool LoneLineFeedEndsLine();

} // namespace quillet::platform
