#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <utility>

#include "Platform/Console.h"
#include "Platform/Posix/CodePage.h"
#include "Platform/Posix/StandardStreams.h"
#include "Platform/RecodingChannel.h"
#include "Platform/Text.h"
#include "Platform/Utf8.h"

namespace quillet::platform {

namespace {

class DescriptorChannel final : public ConsoleChannel {
public:
  DescriptorChannel(int fd, ChannelKind kind) : fd_(fd), kind_(kind) {}

  ChannelKind Kind() const override { return kind_; }

  ReadOutcome Read(char* buffer, std::size_t capacity, std::size_t& got) override {
    got = 0;
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, capacity);
      if (n > 0) {
        got = static_cast<std::size_t>(n);
        return ReadOutcome::Data;
      }
      if (n == 0) {
        return ReadOutcome::End;
      }
      if (errno == EINTR) {
        continue;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        WaitUntilReady(POLLIN); // a non-blocking descriptor inherited from the caller
        continue;
      }
      return errno == EPIPE ? ReadOutcome::BrokenPipe : ReadOutcome::Failed;
    }
  }

  std::size_t Write(const char* data, std::size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        WaitUntilReady(POLLOUT);
      } else {
        break;
      }
    }
    return done;
  }

private:
  // Reads and writes block, as a console program expects, even on a descriptor that was handed
  // over in non-blocking mode.
  void WaitUntilReady(short events) const {
    pollfd entry{fd_, events, 0};
    while (::poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
  }

  int fd_; // the standard descriptors belong to the process: never closed here
  ChannelKind kind_;
};

// How many bytes at the end of `text`, in a double-byte code page, are a lead byte still waiting
// for its second byte.
std::size_t UnpairedLeadByte(std::string_view text, const posix::LeadByteTable* leadBytes) {
  if (leadBytes == nullptr) {
    return 0;
  }
  std::size_t i = 0;
  while (i < text.size()) {
    if ((*leadBytes)[static_cast<unsigned char>(text[i])]) {
      if (i + 1 == text.size()) {
        return 1;
      }
      i += 2;
    } else {
      ++i;
    }
  }
  return 0;
}

// How many bytes at the end of `text` begin a character of `codePage` that is not complete yet.
std::size_t IncompleteTail(std::string_view text, const posix::CodePage& codePage) {
  return codePage.Number() == CODE_PAGE_UTF8 ? IncompleteUtf8Tail(text)
                                             : UnpairedLeadByte(text, codePage.LeadBytes());
}

// A terminal speaks the locale's encoding, as Wine's console does for a Windows program.
class TerminalRecoding final : public Recoding {
public:
  std::size_t IncompleteWireTail(std::string_view wire) const override {
    return IncompleteUtf8Tail(wire);
  }
  std::size_t IncompleteTextTail(std::string_view text) const override {
    return IncompleteUtf8Tail(text);
  }
  std::string FromWire(std::string_view wire) const override {
    return posix::CodePage::Active().FromNative(wire);
  }
  std::string ToWire(std::string_view text) const override {
    return posix::CodePage::Active().ToNative(text);
  }
};

// A pipe or a file carries the system's ANSI code page, the program's texts are UTF-8.
class AnsiRecoding final : public Recoding {
public:
  std::size_t IncompleteWireTail(std::string_view wire) const override {
    return IncompleteTail(wire, posix::CodePage::System());
  }
  std::size_t IncompleteTextTail(std::string_view text) const override {
    return IncompleteUtf8Tail(text);
  }
  std::string FromWire(std::string_view wire) const override {
    return posix::CodePage::Active().Encode(posix::CodePage::System().Decode(wire));
  }
  std::string ToWire(std::string_view text) const override {
    return posix::CodePage::System().Encode(posix::CodePage::Active().Decode(text));
  }
};

std::unique_ptr<ConsoleChannel> OpenDescriptor(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return nullptr;
  }
  if (S_ISCHR(info.st_mode) && ::isatty(fd) != 0) {
    return std::make_unique<RecodingChannel>(
        std::make_unique<DescriptorChannel>(fd, ChannelKind::Console),
        std::make_unique<TerminalRecoding>());
  }
  std::optional<ChannelKind> kind;
  if (S_ISCHR(info.st_mode)) {
    kind = ChannelKind::Console;
  } else if (S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
    kind = ChannelKind::Stream;
  }
  if (!kind) {
    return nullptr; // a folder or anything else cannot serve as a stream
  }
  // Pipes and files carry the system's ANSI code page: the bytes as they are when that is UTF-8.
  if (posix::CodePage::System().Number() != CODE_PAGE_UTF8) {
    return std::make_unique<RecodingChannel>(std::make_unique<DescriptorChannel>(fd, *kind),
                                             std::make_unique<AnsiRecoding>());
  }
  return std::make_unique<DescriptorChannel>(fd, *kind);
}

} // namespace

std::unique_ptr<ConsoleChannel> OpenStandardInput() {
  return OpenDescriptor(STDIN_FILENO);
}
std::unique_ptr<ConsoleChannel> OpenStandardOutput() {
  return OpenDescriptor(STDOUT_FILENO);
}
std::unique_ptr<ConsoleChannel> OpenStandardError() {
  return OpenDescriptor(STDERR_FILENO);
}

bool LoneLineFeedEndsLine() {
  return true;
}

} // namespace quillet::platform
