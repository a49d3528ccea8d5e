#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "Package/PackageCrc.h"

namespace quillet {
namespace {

struct CrcVector {
  const char* name;
  std::string bytes;
  std::uint32_t crc;
};

class PackageCrcVectorTest : public ::testing::TestWithParam<CrcVector> {};

// Values computed independently from the rule: words read at byte offsets of the CRC-32 table's
// little-endian image, no final complement.
TEST_P(PackageCrcVectorTest, MatchesTheStoredValue) {
  const CrcVector& v = GetParam();
  EXPECT_EQ(PackageCrc(v.bytes.data(), v.bytes.size()), v.crc);
}

std::string AllByteValues() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) {
    bytes.push_back(static_cast<char>(b));
  }
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, PackageCrcVectorTest,
    ::testing::Values(CrcVector{"Abc", "abc", 0x6CD439F9u}, CrcVector{"Empty", "", 0xFFFFFFFFu},
                      CrcVector{"OneLetter", "a", 0xA8055AF5u},
                      CrcVector{"Digits", "123456789", 0xE46B75A8u},
                      CrcVector{"OneNul", std::string(1, '\0'), 0xDCBE6F49u},
                      CrcVector{"AllByteValues", AllByteValues(), 0xD26F542Du},
                      CrcVector{"FourFF", std::string(4, '\xFF'), 0x00000000u}),
    [](const auto& info) { return info.param.name; });

TEST(PackageCrc, NullAddressGivesAllOnesWhateverTheLength) {
  EXPECT_EQ(PackageCrc(nullptr, 0), 0xFFFFFFFFu);
  EXPECT_EQ(PackageCrc(nullptr, 100), 0xFFFFFFFFu);
}

TEST(PackageCrc, IsNotEntryWiseCrc32) {
  // The entry-wise table lookup (CRC-32 without its final complement) gives 0xCADBBE3D for
  // "abc"; a package checksum that equals it reads the table the wrong way.
  EXPECT_NE(PackageCrc("abc", 3), 0xCADBBE3Du);
}

// A direct transcription of the rule, to cross-check the table-driven implementation on data of
// every length and value.
std::uint32_t ReferenceCrc(const std::string& data) {
  std::uint8_t table[1024 + 3] = {};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) {
      c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    for (int b = 0; b < 4; ++b) {
      table[n * 4 + b] = static_cast<std::uint8_t>(c >> (8 * b));
    }
  }
  std::uint32_t state = 0xFFFFFFFFu;
  for (unsigned char byte : data) {
    const std::uint32_t i = (state ^ byte) & 0xFF;
    const std::uint32_t word = table[i] | table[i + 1] << 8 | table[i + 2] << 16 |
                               static_cast<std::uint32_t>(table[i + 3]) << 24;
    state = (state >> 8) ^ word;
  }
  return state;
}

TEST(PackageCrc, AgreesWithTheRuleOnRandomData) {
  std::mt19937 random(1234);
  for (std::size_t length = 1; length < 600; length += 7) {
    std::string data(length, '\0');
    for (char& c : data) {
      c = static_cast<char>(random());
    }
    ASSERT_EQ(PackageCrc(data.data(), data.size()), ReferenceCrc(data)) << "length " << length;
  }
}

TEST(PackageCrc, EveryChangedByteChangesTheValue) {
  std::string data = "unit Widgets; interface implementation end.";
  const std::uint32_t original = PackageCrc(data.data(), data.size());
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::string changed = data;
    changed[i] = static_cast<char>(changed[i] ^ 0x01);
    EXPECT_NE(PackageCrc(changed.data(), changed.size()), original) << "byte " << i;
  }
}

} // namespace
} // namespace quillet
