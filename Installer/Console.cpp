#include "Installer/Console.h"
#include "Common/Text.h"
#include "Platform/Console.h"
#include "Platform/Interruption.h"

#include <cstring>
#include <utility>

namespace quillet {

Console::Console(Opener openInput, Opener openOutput, bool loneLineFeedEndsLine)
    : openInput_(std::move(openInput)), openOutput_(std::move(openOutput)),
      loneLineFeedEndsLine_(loneLineFeedEndsLine) {}

Console::~Console() {
  Flush();
}

bool Console::EnsureOutput() {
  if (!output_) {
    output_ = openOutput_();
  }
  return output_ != nullptr;
}

bool Console::EnsureInput() {
  if (!input_) {
    input_ = openInput_();
  }
  return input_ != nullptr;
}

void Console::Flush() {
  const platform::InterruptHold hold;
  if (outUsed_ == 0) {
    return;
  }
  if (output_) {
    output_->Write(outBuffer_, outUsed_); // what cannot be written is dropped
  }
  outUsed_ = 0;
}

void Console::Append(std::string_view text) {
  if (!text.empty()) {
    lineOpen_ = text.back() != '\n';
  }
  while (!text.empty()) {
    const std::size_t room = CONSOLE_BUFFER_SIZE - outUsed_;
    const std::size_t n = text.size() < room ? text.size() : room;
    std::memcpy(outBuffer_ + outUsed_, text.data(), n);
    outUsed_ += n;
    text.remove_prefix(n);
    if (outUsed_ == CONSOLE_BUFFER_SIZE) {
      Flush();
    }
  }
}

void Console::EndOperation() {
  if (output_ && output_->Kind() == platform::ChannelKind::Console) {
    Flush();
  }
}

void Console::ToLog(std::string_view text) {
  if (!log_) {
    return;
  }
  if (std::optional<std::string> failure = log_(text)) {
    log_ = nullptr;
    NoteLogFailure(std::move(*failure));
  }
}

void Console::NoteLogFailure(std::string line) {
  logFailed_ = true;
  logFailure_ = std::move(line);
}

void Console::ShowLogFailure() {
  if (logFailure_.empty() || lineOpen_ || !EnsureOutput()) {
    return;
  }
  Append(ShownText(std::exchange(logFailure_, std::string()), TextShape::Lines, /*utf8=*/true));
  Append("\r\n");
  EndOperation();
}

void Console::WriteText(std::string_view text, std::optional<std::string_view> logText) {
  const platform::InterruptHold hold;
  ShowLogFailure(); // before the line opens
  ToLog(InLine(logText.value_or(text)));
  if (!EnsureOutput()) {
    return;
  }
  Append(InLine(text));
  EndOperation();
}

void Console::WriteLine(std::string_view text) {
  const platform::InterruptHold hold;
  const std::string shown = ShownText(text, TextShape::Lines, /*utf8=*/true);
  ToLog(shown + "\r\n");
  if (!EnsureOutput()) {
    return;
  }
  Append(shown);
  Append("\r\n");
  EndOperation();
  ShowLogFailure();
}

bool Console::PeekByte(char& byte) {
  if (inPos_ == inEnd_) {
    if (inputEnded_ || fetchFailed_) {
      return false;
    }
    // Never wait for an answer while its question still sits in the output buffer.
    Flush();
    std::size_t got = 0;
    switch (input_->Read(inBuffer_, CONSOLE_BUFFER_SIZE, got)) {
    case platform::ReadOutcome::Data:
      inPos_ = 0;
      inEnd_ = got;
      break;
    case platform::ReadOutcome::End:
    case platform::ReadOutcome::BrokenPipe:
      inputEnded_ = true;
      return false;
    case platform::ReadOutcome::Failed:
      fetchFailed_ = true; // ends this line only; the next ReadLine fetches again
      return false;
    }
  }
  byte = inBuffer_[inPos_];
  if (byte == 0x1A) {
    inputEnded_ = true; // nothing after the end-of-file byte is ever read
    inPos_ = inEnd_ = 0;
    return false;
  }
  return true;
}

bool Console::NextByte(char& byte) {
  if (!PeekByte(byte)) {
    return false;
  }
  ++inPos_;
  return true;
}

std::string Console::ReadLine() {
  std::string line = ReadInputLine();
  const platform::InterruptHold hold;
  ToLog(InLine(line) + "\r\n"); // the answer, as a terminal would have echoed it
  ShowLogFailure();
  return line;
}

void Console::SetLog(LogWriter log) {
  log_ = std::move(log);
}

void Console::Log(std::string_view text) {
  const platform::InterruptHold hold;
  ToLog(ShownText(text, TextShape::Lines, /*utf8=*/true) + "\r\n");
  ShowLogFailure();
}

std::string Console::ReadInputLine() {
  std::string line;
  if (!EnsureInput()) {
    return line;
  }
  fetchFailed_ = false;
  char byte = 0;
  while (NextByte(byte)) {
    if (byte == '\r') {
      char next = 0;
      if (PeekByte(next) && next == '\n') {
        ++inPos_;
      }
      return line;
    }
    if (byte == '\n' && loneLineFeedEndsLine_) {
      return line;
    }
    if (line.size() < MAX_LINE_LENGTH) {
      line.push_back(byte); // the rest of an overlong line is read and dropped
    }
  }
  return line;
}

void Console::FinishForInterrupt() {
  const platform::InterruptHold hold;
  if (!output_) {
    return; // nothing was ever written
  }
  if (lineOpen_ || output_->Kind() == platform::ChannelKind::Console) {
    Append("\r\n");
  }
  Flush();
}

std::string InLine(std::string_view text) {
  return ShownText(text, TextShape::Line, /*utf8=*/true);
}

Console& StdConsole() {
  static Console console(platform::OpenStandardInput, platform::OpenStandardOutput,
                         platform::LoneLineFeedEndsLine());
  return console;
}

} // namespace quillet
