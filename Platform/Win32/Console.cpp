// Standard input and output through the process's standard handles. The handles belong to the
// process: they are used, never closed. A real console is read and written through its
// wide-character calls, with the text converted from and to the program's texts, UTF-8
// (Platform/Text.h); a pipe or a file carries bytes in the system's ANSI code page, converted
// unless that is UTF-8 too.
#include <limits>
#include <string>
#include <utility>

#include "Platform/Console.h"
#include "Platform/RecodingChannel.h"
#include "Platform/Text.h"
#include "Platform/Utf8.h"
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

// How many bytes at the end of `text` begin a character of `codePage` not complete yet.
std::size_t IncompleteTail(std::string_view text, UINT codePage) {
  if (codePage == CP_UTF8) {
    return IncompleteUtf8Tail(text);
  }
  std::size_t i = 0;
  while (i < text.size()) {
    const bool lead = ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[i])) != 0;
    if (lead && i + 1 == text.size()) {
      return 1;
    }
    i += lead ? 2 : 1;
  }
  return 0;
}

// A pipe or a file: the bytes are in the system's ANSI code page, as for any other program.
class AnsiRecoding final : public Recoding {
public:
  std::size_t IncompleteWireTail(std::string_view wire) const override {
    return IncompleteTail(wire, CP_ACP);
  }
  std::size_t IncompleteTextTail(std::string_view text) const override {
    return IncompleteTail(text, CP_UTF8);
  }
  std::string FromWire(std::string_view wire) const override {
    return Recode(wire, CP_ACP, CP_UTF8);
  }
  std::string ToWire(std::string_view text) const override { return Recode(text, CP_UTF8, CP_ACP); }

private:
  static std::string Recode(std::string_view text, UINT from, UINT to) {
    std::wstring wide;
    win32::Widen(text, from, wide);
    return win32::Narrow(wide, to);
  }
};

// Wide characters asked of the console at once.
constexpr DWORD CONSOLE_READ_CHUNK = 1024;

class ConsoleTextChannel final : public ConsoleChannel {
public:
  explicit ConsoleTextChannel(HANDLE handle) : handle_(handle) {}

  ChannelKind Kind() const override { return ChannelKind::Console; }

  ReadOutcome Read(char* buffer, std::size_t capacity, std::size_t& got) override {
    got = 0;
    while (pendingInput_.empty()) {
      std::wstring wide(CONSOLE_READ_CHUNK, L'\0');
      DWORD read = 0;
      ::SetLastError(ERROR_SUCCESS);
      const BOOL answered =
          ::ReadConsoleW(handle_, wide.data(), CONSOLE_READ_CHUNK, &read, nullptr);
      if ((answered == 0 || read == 0) && ::GetLastError() == ERROR_OPERATION_ABORTED) {
        // Ctrl+C or Ctrl+Break cut the read short. Its interrupt ends the run (Interruption.cpp),
        // so this is no empty answer that would confirm a folder: wait for input again.
        continue;
      }
      if (answered == 0) {
        return ReadOutcome::Failed;
      }
      if (read == 0) {
        return ReadOutcome::End;
      }
      wide.resize(read);
      pendingInput_ = win32::Narrow(wide, CP_UTF8);
      if (pendingInput_.empty()) {
        return ReadOutcome::Failed;
      }
    }
    got = capacity < pendingInput_.size() ? capacity : pendingInput_.size();
    pendingInput_.copy(buffer, got);
    pendingInput_.erase(0, got);
    return ReadOutcome::Data;
  }

  std::size_t Write(const char* data, std::size_t size) override {
    // A character split between two writes is held back until it is complete.
    std::string text = std::exchange(pendingOutput_, std::string());
    text.append(data, size);
    const std::size_t complete = text.size() - IncompleteUtf8Tail(text);
    pendingOutput_ = text.substr(complete);
    std::wstring wide;
    if (!win32::Widen(std::string_view(text).substr(0, complete), CP_UTF8, wide)) {
      return 0;
    }
    std::size_t done = 0;
    while (done < wide.size()) {
      const std::size_t left = wide.size() - done;
      const DWORD request = static_cast<DWORD>(left < MAX_TRANSFER ? left : MAX_TRANSFER);
      DWORD written = 0;
      if (::WriteConsoleW(handle_, wide.data() + done, request, &written, nullptr) == 0 ||
          written == 0) {
        return 0; // the caller learns that the write failed; how far it got is not known in bytes
      }
      done += written;
    }
    return size;
  }

private:
  HANDLE handle_;
  std::string pendingInput_;
  std::string pendingOutput_;
};

std::unique_ptr<ConsoleChannel> OpenStandardHandle(DWORD which) {
  const HANDLE handle = ::GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  switch (::GetFileType(handle)) {
  case FILE_TYPE_CHAR: {
    // A console answers GetConsoleMode; other character devices (NUL, a serial port) do not.
    DWORD mode = 0;
    if (::GetConsoleMode(handle, &mode) != 0) {
      return std::make_unique<ConsoleTextChannel>(handle);
    }
    return std::make_unique<HandleChannel>(handle, ChannelKind::Console);
  }
  case FILE_TYPE_DISK:
  case FILE_TYPE_PIPE:
    if (::GetACP() != CP_UTF8) {
      return std::make_unique<RecodingChannel>(
          std::make_unique<HandleChannel>(handle, ChannelKind::Stream),
          std::make_unique<AnsiRecoding>());
    }
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
std::unique_ptr<ConsoleChannel> OpenStandardError() {
  return OpenStandardHandle(STD_ERROR_HANDLE);
}

bool LoneLineFeedEndsLine() {
  // The Windows console ends a typed line with CR LF; a lone LF is an ordinary character.
  return false;
}

} // namespace quillet::platform
