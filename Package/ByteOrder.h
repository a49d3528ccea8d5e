// Little-endian field access for records read in place. Fields are assembled byte by byte, so a
// record never needs alignment and is never reinterpreted as a struct.
#pragma once

#include <cstdint>
#include <string>

namespace quillet {

inline std::uint32_t ReadU32LE(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void WriteU32LE(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

inline void AppendU32LE(std::string& out, std::uint32_t value) {
  std::uint8_t bytes[4];
  WriteU32LE(bytes, value);
  out.append(reinterpret_cast<const char*>(bytes), 4);
}

} // namespace quillet
