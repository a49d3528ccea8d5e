#include "Package/PackageCrc.h"

#include <array>

#include "Package/Crc32.h"

namespace quillet {

namespace {

// Byte k of the CRC-32 table's little-endian image.
constexpr std::uint32_t TableImageByte(std::uint32_t k) {
  return CRC32_TABLE[k / 4] >> (8 * (k % 4)) & 0xFF;
}

// The word the checksum takes for index i: the four table bytes that begin at byte offset i.
constexpr std::array<std::uint32_t, 256> MakeStraddledWords() {
  std::array<std::uint32_t, 256> words{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    words[i] = TableImageByte(i) | TableImageByte(i + 1) << 8 | TableImageByte(i + 2) << 16 |
               TableImageByte(i + 3) << 24;
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
