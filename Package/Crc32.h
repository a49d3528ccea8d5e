// Standard CRC-32 and its table. The table is also the source of the package's entry checksum
// (Package/PackageCrc.h), which reads it in its own way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quillet {

// The reflected CRC-32 table for the polynomial 0xEDB88320, one entry per byte value.
constexpr std::array<std::uint32_t, 256> MakeCrc32Table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int round = 0; round < 8; ++round) {
      c = (c & 1) != 0 ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    table[n] = c;
  }
  return table;
}

inline constexpr std::array<std::uint32_t, 256> CRC32_TABLE = MakeCrc32Table();

// Standard CRC-32 (reflected 0xEDB88320, initial and final complement), fed in pieces.
class Crc32 {
public:
  void Add(const void* data, std::size_t length);
  std::uint32_t Value() const { return ~state_; }

private:
  std::uint32_t state_ = 0xFFFFFFFF;
};

} // namespace quillet
