// SHA-256, for the checksum of an install record that the user's registry keeps: the record lies
// in a folder that other users may write, the registry does not, and unlike a CRC a changed text
// cannot be made to match it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillet {

class Sha256 {
public:
  Sha256();
  void Add(const void* data, std::size_t length);
  // The digest; the object is spent afterwards.
  std::array<std::uint8_t, 32> Finish();

private:
  void Block(const std::uint8_t* block);
  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0; // in bytes
};

// The digest of a text as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view text);

} // namespace quillet
