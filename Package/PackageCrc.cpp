#include "Package/PackageCrc.h"

#include <array>

namespace quillet {

namespace {

// The reflected CRC-32 table for 0xEDB88320, laid out as 1024 bytes (little-endian entries).
constexpr std::array<std::uint8_t, 1024> MakeCrcTableBytes() {
  std::array<std::uint8_t, 1024> bytes{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int round = 0; round < 8; ++round) {
      c = (c & 1) != 0 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    for (int b = 0; b < 4; ++b) {
      bytes[n * 4 + b] = static_cast<std::uint8_t>(c >> (8 * b));
    }
  }
  return bytes;
}

// The word the checksum takes for index i: the four table bytes that begin at byte offset i.
constexpr std::array<std::uint32_t, 256> MakeStraddledWords() {
  constexpr auto bytes = MakeCrcTableBytes();
  std::array<std::uint32_t, 256> words{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    words[i] = static_cast<std::uint32_t>(bytes[i]) |
               static_cast<std::uint32_t>(bytes[i + 1]) << 8 |
               static_cast<std::uint32_t>(bytes[i + 2]) << 16 |
               static_cast<std::uint32_t>(bytes[i + 3]) << 24;
  }
  return words;
}

constexpr std::array<std::uint32_t, 256> kWords = MakeStraddledWords();

} // namespace

std::uint32_t PackageCrc(const void* data, std::size_t length) {
  std::uint32_t state = 0xFFFFFFFFu;
  if (data == nullptr || length == 0) {
    return state;
  }
  const auto* p = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < length; ++i) {
    state = (state >> 8) ^ kWords[(state ^ p[i]) & 0xFF];
  }
  return state;
}

} // namespace quillet
