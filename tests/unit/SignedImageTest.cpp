#include <gtest/gtest.h>

#include "Package/PackageFormat.h"
#include "Package/PackageWriter.h"
#include "Package/SignedImage.h"

namespace quillet {
namespace {

constexpr std::size_t kPeOffset = 0x80;
constexpr std::size_t kProgramSize = 0x400;

// A program file reduced to what the lookup reads: DOS header, PE signature, COFF header and an
// optional header of the given kind with `directories` data directories.
std::string Program(std::uint16_t magic, std::uint32_t directories) {
  const bool plus = magic == pe_field::MAGIC_PE32_PLUS;
  const std::size_t first = plus ? pe_field::PE32_PLUS_DIRECTORIES : pe_field::PE32_DIRECTORIES;
  std::string image(kProgramSize, '\0');
  auto* p = reinterpret_cast<std::uint8_t*>(image.data());
  image[0] = 'M';
  image[1] = 'Z';
  WriteU32LE(p + pe_field::NEW_HEADER_OFFSET, kPeOffset);
  image.replace(kPeOffset, 4, std::string("PE\0\0", 4));
  const std::size_t coff = kPeOffset + 4;
  const auto optionalSize = static_cast<std::uint16_t>(first + directories * 8);
  p[coff + 16] = static_cast<std::uint8_t>(optionalSize);
  p[coff + 17] = static_cast<std::uint8_t>(optionalSize >> 8);
  const std::size_t optional = coff + pe_field::COFF_HEADER_SIZE;
  p[optional] = static_cast<std::uint8_t>(magic);
  p[optional + 1] = static_cast<std::uint8_t>(magic >> 8);
  WriteU32LE(p + optional +
                 (plus ? pe_field::PE32_PLUS_DIRECTORY_COUNT : pe_field::PE32_DIRECTORY_COUNT),
             directories);
  return image;
}

// Points the security directory at a table of `tableSize` bytes at the end of `image`, after
// `padding` zero bytes, and appends it.
void Sign(std::string& image, std::uint16_t magic, std::size_t padding, std::size_t tableSize,
          std::int64_t offsetSkew = 0) {
  image.append(padding, '\0');
  const std::size_t optional = kPeOffset + 4 + pe_field::COFF_HEADER_SIZE;
  const std::size_t entry = optional +
                            (magic == pe_field::MAGIC_PE32_PLUS ? pe_field::PE32_PLUS_DIRECTORIES
                                                                : pe_field::PE32_DIRECTORIES) +
                            pe_field::SECURITY_DIRECTORY * 8;
  auto* p = reinterpret_cast<std::uint8_t*>(image.data());
  WriteU32LE(p + entry, static_cast<std::uint32_t>(image.size() + offsetSkew));
  WriteU32LE(p + entry + 4, static_cast<std::uint32_t>(tableSize));
  image.append(tableSize, 'C');
}

struct EndCase {
  const char* name;
  std::uint16_t magic;
  std::uint32_t directories;
  bool sign;
  std::size_t padding;
  std::int64_t offsetSkew; // moves the table's recorded offset away from where it lies
  bool packageFound;       // the package validates at the end given
};

class PackageEndTest : public ::testing::TestWithParam<EndCase> {};

TEST_P(PackageEndTest, EndsWhereACertificateTableEndingTheFileBegins) {
  const EndCase& c = GetParam();
  PackageContents contents;
  contents.defaultFolder = "%Delphi%Lib\\";
  contents.entries = {MakeStoredEntry("%zel_root%", "a.pas", "unit a;", ENTRY_INSTALL)};
  const std::string package = SerializePackage(contents);
  std::string image = Program(c.magic, c.directories) + package;
  if (c.sign) {
    Sign(image, c.magic, c.padding, 24, c.offsetSkew);
  } else {
    image.append(c.padding, '\0'); // what removing a signature leaves
  }
  const auto* base = reinterpret_cast<const std::uint8_t*>(image.data());
  const std::uint64_t end = PackageEnd(base, image.size());
  PackageLayout layout;
  EXPECT_EQ(ValidatePackage(base, end, layout), c.packageFound);
  if (c.packageFound) {
    EXPECT_EQ(layout.header, kProgramSize);
    EXPECT_EQ(end, kProgramSize + package.size());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Images, PackageEndTest,
    ::testing::Values(
        EndCase{"Unsigned64", pe_field::MAGIC_PE32_PLUS, 16, false, 0, 0, true},
        EndCase{"Signed64", pe_field::MAGIC_PE32_PLUS, 16, true, 0, 0, true},
        EndCase{"Signed32", pe_field::MAGIC_PE32, 16, true, 0, 0, true},
        EndCase{"SignedAfterPadding", pe_field::MAGIC_PE32_PLUS, 16, true, 4, 0, true},
        EndCase{"SignatureRemoved", pe_field::MAGIC_PE32_PLUS, 16, false, 7, 0, true},
        EndCase{"EightZerosAreNoPadding", pe_field::MAGIC_PE32_PLUS, 16, false, 8, 0, false},
        // The table must end the file: anything else is left as it is.
        EndCase{"TableNotAtTheEnd", pe_field::MAGIC_PE32_PLUS, 16, true, 0, -8, false},
        EndCase{"TableBeyondTheFile", pe_field::MAGIC_PE32_PLUS, 16, true, 0, 4096, false},
        // Too few directories for entry 4: not a security directory.
        EndCase{"FourDirectories", pe_field::MAGIC_PE32_PLUS, 4, true, 0, 0, false},
        EndCase{"UnknownMagic", 0x107, 16, true, 0, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SignedImage, TruncatedHeadersAreNotAProgram) {
  std::string image = Program(pe_field::MAGIC_PE32_PLUS, 16);
  Sign(image, pe_field::MAGIC_PE32_PLUS, 0, 24);
  const auto* base = reinterpret_cast<const std::uint8_t*>(image.data());
  ASSERT_TRUE(FindCertificateTable(base, image.size()));
  // Cut inside the DOS header, the PE signature and the optional header.
  for (const std::size_t size : {std::size_t{0x3F}, kPeOffset + 2, kPeOffset + 30}) {
    EXPECT_FALSE(FindCertificateTable(base, size)) << size;
  }
  // A new-header offset near 4 GiB must not wrap around.
  WriteU32LE(reinterpret_cast<std::uint8_t*>(image.data()) + pe_field::NEW_HEADER_OFFSET,
             0xFFFFFFF0u);
  EXPECT_FALSE(FindCertificateTable(base, image.size()));
}

} // namespace
} // namespace quillet
