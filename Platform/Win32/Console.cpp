// Standard input and output through the process's standard handles. The handles belong to the
// process: they are used, never closed.
#include <limits>

#include "Platform/Console.h"
#include "Platform/Win32/Win32.h"

namespace quillet::platform {

namespace {

// ReadFile and WriteFile count in DWORDs: larger requests go in pieces.
constexpr std::size_t MAX_TRANSFER = std::numeric_limits<DWORD>::max();

class HandleChannel final : public ConsoleChannel {
public:
  HandleChannel(HANDLE handle, ChannelKind kind) : handle_(handle), kind_(kind) {}

  ChannelKind Kind() const override { return kind_; }

  ReadOutcome Read(char* buffer, std::size_t capacity, std::size_t& got) override {
    got = 0;
    DWORD read = 0;
    const DWORD request = static_cast<DWORD>(capacity < MAX_TRANSFER ? capacity : MAX_TRANSFER);
    if (::ReadFile(handle_, buffer, request, &read, nullptr) == 0) {
      // The writing end of a pipe went away: that is how a pipe ends.
      return ::GetLastError() == ERROR_BROKEN_PIPE ? ReadOutcome::BrokenPipe : ReadOutcome::Failed;
    }
    if (read == 0) {
      return ReadOutcome::End;
    }
    got = read;
    return ReadOutcome::Data;
  }

  std::size_t Write(const char* data, std::size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      const std::size_t left = size - done;
      const DWORD request = static_cast<DWORD>(left < MAX_TRANSFER ? left : MAX_TRANSFER);
      DWORD written = 0;
      if (::WriteFile(handle_, data + done, request, &written, nullptr) == 0 || written == 0) {
        break;
      }
      done += written;
    }
    return done;
  }

private:
  HANDLE handle_;
  ChannelKind kind_;
};

std::unique_ptr<ConsoleChannel> OpenStandardHandle(DWORD which) {
  const HANDLE handle = ::GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  switch (::GetFileType(handle)) {
  case FILE_TYPE_CHAR:
    return std::make_unique<HandleChannel>(handle, ChannelKind::Console);
  case FILE_TYPE_DISK:
  case FILE_TYPE_PIPE:
    return std::make_unique<HandleChannel>(handle, ChannelKind::Stream);
  default:
    return nullptr; // an unknown kind of handle cannot serve as a stream
  }
}

} // namespace

std::unique_ptr<ConsoleChannel> OpenStandardInput() {
  return OpenStandardHandle(STD_INPUT_HANDLE);
}
std::unique_ptr<ConsoleChannel> OpenStandardOutput() {
  return OpenStandardHandle(STD_OUTPUT_HANDLE);
}

bool LoneLineFeedEndsLine() {
  // The Windows console ends a typed line with CR LF; a lone LF is an ordinary character.
  return false;
}

} // namespace quillet::platform
