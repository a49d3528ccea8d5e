// A console channel whose bytes are in another encoding than the program's texts, converted both
// ways: a POSIX terminal speaks the locale's encoding, and a pipe or a file carries the system's
// ANSI code page while the program's texts are UTF-8 (Platform/Text.h). Each platform supplies the
// conversion; holding back a character split between two calls is the same on both.
// For Platform/ only.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "Platform/Console.h"

namespace quillet::platform {

class Recoding {
public:
  virtual ~Recoding() = default;
  // How many bytes at the end begin a character that more bytes would complete.
  virtual std::size_t IncompleteWireTail(std::string_view wire) const = 0;
  virtual std::size_t IncompleteTextTail(std::string_view text) const = 0;
  // Whole characters converted; a character the other side lacks becomes its nearest one or "?".
  virtual std::string FromWire(std::string_view wire) const = 0;
  virtual std::string ToWire(std::string_view text) const = 0;
};

class RecodingChannel final : public ConsoleChannel {
public:
  RecodingChannel(std::unique_ptr<ConsoleChannel> raw, std::unique_ptr<Recoding> recoding)
      : raw_(std::move(raw)), recoding_(std::move(recoding)) {}

  ChannelKind Kind() const override { return raw_->Kind(); }
  ReadOutcome Read(char* buffer, std::size_t capacity, std::size_t& got) override;
  std::size_t Write(const char* data, std::size_t size) override;

private:
  std::unique_ptr<ConsoleChannel> raw_;
  std::unique_ptr<Recoding> recoding_;
  std::string heldInput_;    // bytes of a character not yet complete
  std::string pendingInput_; // converted bytes not yet delivered
  std::string heldOutput_;   // a character whose last bytes have not been written yet
};

} // namespace quillet::platform
