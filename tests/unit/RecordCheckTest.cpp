#include <gtest/gtest.h>

#include <functional>

#include "Package/EntryContent.h"
#include "Package/PackageWriter.h"
#include "Package/RecordCheck.h"

namespace quillet {
namespace {

// welcome.txt, two installed units, and package.crc last.
PackageContents CheckedPackage() {
  PackageContents package;
  package.defaultFolder = "%Delphi%Lib\\";
  package.entries = {
      MakeStoredEntry("", "welcome.txt", "hello", 0),
      MakeStoredEntry("%zel_root%src", "a.pas", "unit a;"),
      MakeStoredEntry("%zel_root%src", "b.pas", "unit b;", ENTRY_INSTALL | ENTRY_PREPEND_PATCH)};
  AddRecordCheck(package);
  return package;
}

// Offsets of the records of CheckedPackage.
std::size_t RecordOffset(const std::string& image, std::size_t index) {
  std::size_t offset = header_field::SIZE;
  for (std::size_t i = 0; i < index; ++i) {
    offset += entry_field::SIZE + ReadU32LE(reinterpret_cast<const std::uint8_t*>(image.data()) +
                                            offset + entry_field::STORED_SIZE);
  }
  return offset;
}

struct DamageCase {
  const char* name;
  std::function<void(std::string&)> damage;
  RecordCheck expected;
};

class RecordCheckTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(RecordCheckTest, SeesDamageThatEntryChecksumsCannot) {
  std::string image = SerializePackage(CheckedPackage());
  GetParam().damage(image);
  const auto* base = reinterpret_cast<const std::uint8_t*>(image.data());
  PackageLayout layout;
  ASSERT_TRUE(ValidatePackage(base, image.size(), layout));
  EXPECT_EQ(CheckPackageRecords(layout), GetParam().expected);
}

void Flip(std::string& image, std::size_t offset, char bits = 0x04) {
  image[offset] = static_cast<char>(image[offset] ^ bits);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordCheckTest,
    ::testing::Values(
        DamageCase{"Untouched", [](std::string&) {}, RecordCheck::Match},
        DamageCase{"AppendedToAProgram",
                   [](std::string& image) { image.insert(0, std::string(5000, '\x90')); },
                   RecordCheck::Match},
        DamageCase{"StoredBytesAreLeftToTheirOwnChecksum",
                   [](std::string& image) { Flip(image, RecordOffset(image, 1) + 600); },
                   RecordCheck::Match},
        DamageCase{"HeaderCount",
                   [](std::string& image) { Flip(image, header_field::ENTRY_COUNT, 0x01); },
                   RecordCheck::Mismatch},
        DamageCase{"DefaultFolder",
                   [](std::string& image) { Flip(image, header_field::DEFAULT_FOLDER); },
                   RecordCheck::Mismatch},
        DamageCase{"InstallFlag",
                   [](std::string& image) {
                     Flip(image, RecordOffset(image, 1) + entry_field::FLAGS, ENTRY_INSTALL);
                   },
                   RecordCheck::Mismatch},
        DamageCase{"FolderTemplate",
                   [](std::string& image) {
                     Flip(image, RecordOffset(image, 2) + entry_field::FOLDER_TEMPLATE, 0x20);
                   },
                   RecordCheck::Mismatch},
        DamageCase{"FileName",
                   [](std::string& image) {
                     Flip(image, RecordOffset(image, 2) + entry_field::FILE_NAME);
                   },
                   RecordCheck::Mismatch},
        // The walk ends at the damaged record; the check is then found from the trailer.
        DamageCase{"StoredSizeEndsTheWalk",
                   [](std::string& image) {
                     Flip(image, RecordOffset(image, 1) + entry_field::STORED_SIZE + 2, 0x10);
                   },
                   RecordCheck::Mismatch},
        DamageCase{"SignatureEndsTheWalk",
                   [](std::string& image) { Flip(image, RecordOffset(image, 2)); },
                   RecordCheck::Mismatch},
        DamageCase{"ChecksOwnFlags",
                   [](std::string& image) {
                     Flip(image, RecordOffset(image, 3) + entry_field::FLAGS, ENTRY_INSTALL);
                   },
                   RecordCheck::Mismatch},
        DamageCase{"ChecksOwnUnpackedSize",
                   [](std::string& image) {
                     Flip(image, RecordOffset(image, 3) + entry_field::UNPACKED_SIZE + 3, 0x40);
                   },
                   RecordCheck::Mismatch},
        DamageCase{"ChecksOwnContent",
                   [](std::string& image) { Flip(image, image.size() - 8 - 10); },
                   RecordCheck::Mismatch},
        // Too damaged to be found by name: read as a package without the check.
        DamageCase{"ChecksOwnName",
                   [](std::string& image) {
                     Flip(image, RecordOffset(image, 3) + entry_field::FILE_NAME);
                   },
                   RecordCheck::Absent}),
    [](const auto& info) { return info.param.name; });

TEST(RecordCheck, PackageWithoutItIsAbsentAndTheNameIsKept) {
  PackageContents package = CheckedPackage();
  package.entries.pop_back();
  const std::string image = SerializePackage(package);
  PackageLayout layout;
  ASSERT_TRUE(
      ValidatePackage(reinterpret_cast<const std::uint8_t*>(image.data()), image.size(), layout));
  EXPECT_EQ(CheckPackageRecords(layout), RecordCheck::Absent);

  package.entries.push_back(MakeStoredEntry("", "Package.CRC", "mine"));
  EXPECT_THROW(AddRecordCheck(package), std::invalid_argument);
}

TEST(RecordCheck, Crc32OfTheStandardCheckInput) {
  Crc32 crc;
  crc.Add("1234", 4);
  crc.Add("56789", 5);
  EXPECT_EQ(crc.Value(), 0xCBF43926u);
}

// What every installer reads: the check of a fixed package has a fixed value. A change of what
// the check covers, made alike in the packer and the installer, still fails here.
TEST(RecordCheck, FixedPackageHasAFixedCheck) {
  const std::string image = SerializePackage(CheckedPackage());
  PackageLayout layout;
  ASSERT_TRUE(
      ValidatePackage(reinterpret_cast<const std::uint8_t*>(image.data()), image.size(), layout));
  EXPECT_EQ(ExtractEntry(layout, RECORD_CHECK_NAME).bytes, RecordCheckContent(4, 0x58CFB7B1u));
}

} // namespace
} // namespace quillet
