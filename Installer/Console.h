// The installer's console: standard output gathered in a 128-byte buffer, standard input read
// line by line. Neither stream opens before its first use, and no operation reports an error:
// text that cannot be written is dropped, and input that cannot be read reads as an empty line.
// Every change of the output buffer is made under an interrupt hold, so that an interrupt, which
// finishes the output from its own thread, never meets a write half done.
// No control character but a line end or a tab reaches the output (ShownText, Common/Text.h), so
// that a text from a package or the registry never drives the terminal.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Console.h"

namespace quillet {

inline constexpr std::size_t CONSOLE_BUFFER_SIZE = 128;
// The longest input line kept (the longest Windows path), so that memory stays bounded on any
// input.
inline constexpr std::size_t MAX_LINE_LENGTH = 32767;

class Console {
public:
  using Opener = std::function<std::unique_ptr<platform::ConsoleChannel>()>;

  // `loneLineFeedEndsLine`: whether LF on its own ends an input line (POSIX), besides CR and CR LF.
  Console(Opener openInput, Opener openOutput, bool loneLineFeedEndsLine);
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // The beginning of a line, which a later WriteLine ends: it stays within its line, so its line
  // ends and tabs are shown as "?" too.
  // `logText`, when given, stands in the log in its place (an entry's line with its full path).
  void WriteText(std::string_view text, std::optional<std::string_view> logText = std::nullopt);
  // Text and a line end; the text keeps its own line ends (LF, CR LF) and tabs.
  void WriteLine(std::string_view text);
  std::string ReadLine();

  // Everything shown from now on, and every answer read, also goes to `log` (--log); the log
  // sees a line before the console does, so that a killed run has logged what it showed.
  // `log` gives nothing when it wrote its text, otherwise the line that says why it could not:
  // the log then ends, and the console shows that line once, as soon as the line it is on ends.
  using LogWriter = std::function<std::optional<std::string>(std::string_view)>;
  void SetLog(LogWriter log);
  // A line for the log alone (its head and its exit status); nothing without a log.
  void Log(std::string_view text);
  // A log that could not be started: `line` is shown once, as for a write that failed.
  void NoteLogFailure(std::string line);
  // Whether the log failed, to be started or to be written.
  bool LogFailed() const { return logFailed_; }

  // Writes out whatever the output buffer holds (at exit, and before waiting for input).
  void Flush();

  // The console's part when an interrupt ends the run (Platform/Interruption.h): writes out what
  // the buffer holds and ends the last line when it is open, so that whatever follows (the
  // shell's prompt) starts on a line of its own. A line is open after text without a line end
  // (an entry's "Installing NAME .. "), and always on a console: there the echoed ^C, and any
  // answer typed so far, stand on the line after the installer's own text.
  void FinishForInterrupt();

private:
  std::string ReadInputLine();
  bool EnsureOutput();
  bool EnsureInput();
  void Append(std::string_view text);
  void EndOperation();
  // Next input byte; false at the end of the input or when a fetch fails.
  bool NextByte(char& byte);
  bool PeekByte(char& byte);

  Opener openInput_;
  Opener openOutput_;
  bool loneLineFeedEndsLine_;

  // Passes the text to the log; a failure ends the log and waits for ShowLogFailure.
  void ToLog(std::string_view text);
  // The failed log's line, when one waits and no line is open.
  void ShowLogFailure();

  LogWriter log_;
  bool logFailed_ = false;
  std::string logFailure_; // the failed log's line, until it is shown
  std::unique_ptr<platform::ConsoleChannel> output_;
  char outBuffer_[CONSOLE_BUFFER_SIZE];
  std::size_t outUsed_ = 0;
  bool lineOpen_ = false; // the last text appended did not end with a line end

  std::unique_ptr<platform::ConsoleChannel> input_;
  char inBuffer_[CONSOLE_BUFFER_SIZE];
  std::size_t inPos_ = 0;
  std::size_t inEnd_ = 0;
  bool inputEnded_ = false; // once the input is exhausted it stays exhausted
  bool fetchFailed_ = false;
};

// A text from outside (a name, a folder, a registry value) for its place within a line written
// with WriteLine: its line ends and tabs are shown as "?", as every other control character is.
std::string InLine(std::string_view text);

// The process's console on its standard input and output.
Console& StdConsole();

inline void WriteText(std::string_view text) {
  StdConsole().WriteText(text);
}
inline void WriteLine(std::string_view text) {
  StdConsole().WriteLine(text);
}
inline std::string ReadLine() {
  return StdConsole().ReadLine();
}

} // namespace quillet
