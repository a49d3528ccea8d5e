#include <gtest/gtest.h>

#include <cstdint>
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
