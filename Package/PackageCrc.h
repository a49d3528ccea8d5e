// The package checksum of an entry's stored bytes. It is not CRC-32: it reads 32-bit words out of
// the CRC-32 table's little-endian byte image at byte offsets 0 to 255 (so most words straddle two
// table entries), and it has no final complement. Every stored package carries this value.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillet {

// 0xFFFFFFFF for a null address or no bytes.
std::uint32_t PackageCrc(const void* data, std::size_t length);

} // namespace quillet
