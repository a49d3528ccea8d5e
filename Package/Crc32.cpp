#include "Package/Crc32.h"

namespace quillet {

void Crc32::Add(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < length; ++i) {
    state_ = (state_ >> 8) ^ CRC32_TABLE[(state_ ^ bytes[i]) & 0xFF];
  }
}

} // namespace quillet
