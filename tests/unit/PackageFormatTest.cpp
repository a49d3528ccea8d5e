#include <gtest/gtest.h>

#include <cstring>

#include "Package/PackageFormat.h"
#include "Package/PackageWriter.h"

namespace quillet {
namespace {

// An entry with raw stored bytes: the layout code never looks inside them.
StoredEntry RawEntry(std::string name, std::size_t storedSize, std::string folder = "") {
  StoredEntry entry;
  entry.folderTemplate = std::move(folder);
  entry.fileName = std::move(name);
  entry.stored.assign(storedSize, 's');
  return entry;
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::uint8_t> PackageOf(std::vector<StoredEntry> entries) {
  PackageContents package;
  package.defaultFolder = "%Delphi%Lib\\";
  package.entries = std::move(entries);
  return Bytes(SerializePackage(package));
}

void PatchU32(std::vector<std::uint8_t>& image, std::size_t offset, std::uint32_t value) {
  WriteU32LE(image.data() + offset, value);
}

TEST(PackageFormat, OneEntryPackageHasTheDocumentedLayout) {
  const auto image = PackageOf({RawEntry("a.pas", 100)});
  ASSERT_EQ(image.size(), 948u);
  PackageLayout layout;
  ASSERT_TRUE(ValidatePackage(image.data(), image.size(), layout));
  EXPECT_EQ(layout.header, 0u);
  EXPECT_EQ(layout.firstEntry, 284u);
  EXPECT_EQ(layout.trailer, 940u);
  EXPECT_EQ(ReadU32LE(image.data() + 944), 948u);
  EXPECT_EQ(layout.HeaderEntryCount(), 1u);
  EXPECT_EQ(layout.HeaderDefaultFolder(), "%Delphi%Lib\\");
}

TEST(PackageFormat, AppendedPackageStartsAfterTheProgram) {
  std::vector<std::uint8_t> image(100000, 0x90);
  const auto package = PackageOf({RawEntry("a.pas", 100)});
  image.insert(image.end(), package.begin(), package.end());
  PackageLayout layout;
  ASSERT_TRUE(ValidatePackage(image.data(), image.size(), layout));
  EXPECT_EQ(layout.header, 100000u);
  EXPECT_EQ(layout.firstEntry, 100284u);
  EXPECT_EQ(ReadU32LE(image.data() + image.size() - 4), 948u);
}

TEST(PackageFormat, MinimumSizeIsRefusedWithoutReading) {
  PackageLayout layout;
  layout.header = 1234; // must stay untouched
  // A null view proves that nothing is read.
  EXPECT_FALSE(ValidatePackage(nullptr, MIN_PACKAGE_SIZE, layout));
  EXPECT_FALSE(ValidatePackage(nullptr, 0, layout));
  EXPECT_EQ(layout.header, 1234u);
}

TEST(PackageFormat, SmallestPackageIs849Bytes) {
  const auto image = PackageOf({RawEntry("x", 1)});
  ASSERT_EQ(image.size(), 849u);
  PackageLayout layout;
  EXPECT_TRUE(ValidatePackage(image.data(), image.size(), layout));
  EXPECT_TRUE(layout.valid);
}

struct CorruptCase {
  const char* name;
  std::size_t offset; // from the start for positive, from the end when fromEnd
  bool fromEnd;
  std::uint32_t value;
};

class ValidationRejects : public ::testing::TestWithParam<CorruptCase> {};

TEST_P(ValidationRejects, Malformed) {
  auto image = PackageOf({RawEntry("a.pas", 100), RawEntry("b.pas", 10)});
  const CorruptCase& c = GetParam();
  PatchU32(image, c.fromEnd ? image.size() - c.offset : c.offset, c.value);
  // Copy into an exactly sized buffer so that a read past the end is caught by the sanitizers.
  std::vector<std::uint8_t> exact(image);
  PackageLayout layout;
  EXPECT_FALSE(ValidatePackage(exact.data(), exact.size(), layout));
  EXPECT_FALSE(layout.valid);
  EXPECT_FALSE(FindEntryByIndex(layout, 0).found);
  EXPECT_FALSE(FindEntryByName(layout, "a.pas").found);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValidationRejects,
    ::testing::Values(CorruptCase{"TrailerSignature", 8, true, 0x44551972},
                      CorruptCase{"HeaderSignature", 0, false, ENTRY_SIGNATURE},
                      CorruptCase{"FirstEntrySignature", 284, false, PACKAGE_SIGNATURE},
                      CorruptCase{"BackDistanceZero", 4, true, 0},
                      CorruptCase{"BackDistanceTrailerOnly", 4, true, 8},
                      CorruptCase{"BackDistanceHeaderOnly", 4, true, 283},
                      CorruptCase{"BackDistanceNoRoomForRecord", 4, true, 847},
                      CorruptCase{"BackDistanceBeyondFile", 4, true, 100000},
                      CorruptCase{"BackDistanceMaximum", 4, true, 0xFFFFFFFF}),
    [](const auto& info) { return info.param.name; });

// Entries A, B, C with distinct sizes and folders; B and a later entry share a name.
std::vector<std::uint8_t> ThreeEntries() {
  return PackageOf({RawEntry("A.pas", 7, "one\\"), RawEntry("Welcome.Txt", 0, "two\\"),
                    RawEntry("C.pas", 300, "three\\"), RawEntry("welcome.txt", 5, "four\\")});
}

struct IndexCase {
  std::int32_t index;
  bool found;
  const char* folder;
};

class FindByIndex : public ::testing::TestWithParam<IndexCase> {};

TEST_P(FindByIndex, WalksFromTheFirstEntry) {
  const auto image = ThreeEntries();
  PackageLayout layout;
  ASSERT_TRUE(ValidatePackage(image.data(), image.size(), layout));
  const EntryLookup lookup = FindEntryByIndex(layout, GetParam().index);
  ASSERT_EQ(lookup.found, GetParam().found);
  if (lookup.found) {
    EXPECT_EQ(lookup.entry.FolderTemplate(), GetParam().folder);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FindByIndex,
                         ::testing::Values(IndexCase{0, true, "one\\"}, IndexCase{1, true, "two\\"},
                                           IndexCase{2, true, "three\\"},
                                           IndexCase{3, true, "four\\"}, IndexCase{4, false, ""},
                                           IndexCase{-1, false, ""},
                                           IndexCase{INT32_MAX, false, ""},
                                           IndexCase{INT32_MIN, false, ""}));

TEST(FindByName, IgnoresCaseAndTakesTheFirstMatch) {
  const auto image = ThreeEntries();
  PackageLayout layout;
  ASSERT_TRUE(ValidatePackage(image.data(), image.size(), layout));
  const struct {
    const char* name;
    bool found;
    const char* folder;
  } cases[] = {{"welcome.txt", true, "two\\"}, {"WELCOME.TXT", true, "two\\"},
               {"a.PAS", true, "one\\"},       {"c.pas", true, "three\\"},
               {"missing.txt", false, ""},     {"", false, ""},
               {"welcome.tx", false, ""}};
  for (const auto& c : cases) {
    const EntryLookup lookup = FindEntryByName(layout, c.name);
    EXPECT_EQ(lookup.found, c.found) << c.name;
    if (lookup.found) {
      EXPECT_EQ(lookup.entry.FolderTemplate(), c.folder) << c.name;
    }
  }
}

TEST(FindByName, EmptyNameMatchesAnEmptyField) {
  const auto image = PackageOf({RawEntry("a", 3), RawEntry("", 4, "empty\\")});
  PackageLayout layout;
  ASSERT_TRUE(ValidatePackage(image.data(), image.size(), layout));
  const EntryLookup lookup = FindEntryByName(layout, "");
  ASSERT_TRUE(lookup.found);
  EXPECT_EQ(lookup.entry.FolderTemplate(), "empty\\");
}

TEST(FindByName, FieldWithoutNulHas256Bytes) {
  const std::string longName(256, 'n');
  const auto image = PackageOf({RawEntry(longName, 3)});
  PackageLayout layout;
  ASSERT_TRUE(ValidatePackage(image.data(), image.size(), layout));
  const EntryLookup lookup = FindEntryByName(layout, longName);
  ASSERT_TRUE(lookup.found);
  EXPECT_EQ(lookup.entry.FileName().size(), 256u);
  EXPECT_FALSE(FindEntryByName(layout, longName.substr(0, 255)).found);
}

TEST(PackageFormat, HeaderCountPlaysNoPartInLookups) {
  for (std::uint32_t count : {0u, 1u, 7u, 0xFFFFFFFFu}) {
    PackageContents package;
    package.entries = {RawEntry("a", 1), RawEntry("b", 2)};
    package.entryCount = count;
    const auto image = Bytes(SerializePackage(package));
    PackageLayout layout;
    ASSERT_TRUE(ValidatePackage(image.data(), image.size(), layout));
    EXPECT_EQ(layout.HeaderEntryCount(), count);
    EXPECT_TRUE(FindEntryByIndex(layout, 1).found);
    EXPECT_FALSE(FindEntryByIndex(layout, 2).found);
    EXPECT_TRUE(FindEntryByName(layout, "b").found);
  }
}

TEST(PackageFormat, FlagsAreTestedInTheLowestByteOnly) {
  auto entry = RawEntry("a", 1);
  entry.flags = 0x100 | ENTRY_PREPEND_PATCH;
  const auto image = PackageOf({entry});
  PackageLayout layout;
  ASSERT_TRUE(ValidatePackage(image.data(), image.size(), layout));
  const PackageEntry record = FindEntryByIndex(layout, 0).entry;
  EXPECT_TRUE(record.HasFlag(ENTRY_PREPEND_PATCH));
  EXPECT_FALSE(record.HasFlag(ENTRY_INSTALL));
}

struct StoredSizeCase {
  const char* name;
  std::size_t entry;   // which entry's stored size is damaged
  std::uint32_t value; // the damaged stored size
  int reachable;       // how many indexes are still found
};

class StoredSizeOutsideImage : public ::testing::TestWithParam<StoredSizeCase> {};

TEST_P(StoredSizeOutsideImage, WalkStopsWithoutReadingOutside) {
  auto image = PackageOf({RawEntry("a", 10), RawEntry("b", 20), RawEntry("c", 30)});
  const std::size_t recordOffsets[] = {284, 284 + 556 + 10, 284 + 2 * 556 + 30};
  const StoredSizeCase& c = GetParam();
  PatchU32(image, recordOffsets[c.entry] + entry_field::STORED_SIZE, c.value);
  std::vector<std::uint8_t> exact(image);
  PackageLayout layout;
  ASSERT_TRUE(ValidatePackage(exact.data(), exact.size(), layout));
  EXPECT_EQ(layout.entries.size(), static_cast<std::size_t>(c.reachable));
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(FindEntryByIndex(layout, i).found, i < c.reachable) << "index " << i;
  }
  EXPECT_FALSE(FindEntryByName(layout, "zzz").found);
}

INSTANTIATE_TEST_SUITE_P(Cases, StoredSizeOutsideImage,
                         ::testing::Values(StoredSizeCase{"FirstPastTrailer", 0, 5000, 0},
                                           StoredSizeCase{"FirstMaximum", 0, 0xFFFFFFFF, 0},
                                           StoredSizeCase{"MiddleIntoTrailer", 1, 20 + 556 + 31, 1},
                                           StoredSizeCase{"MiddleMaximum", 1, 0xFFFFFFFF, 1},
                                           StoredSizeCase{"LastOneByteLong", 2, 31, 2},
                                           StoredSizeCase{"MiddleLandsInsideNextRecord", 1, 24, 2}),
                         [](const auto& info) { return info.param.name; });

// Every prefix and every single-byte change of a small package: validation and lookups must
// neither crash nor read outside the image (the sanitizer build checks the latter).
TEST(PackageFormat, TruncationAndCorruptionSweep) {
  const auto image =
      PackageOf({RawEntry("a.pas", 3), RawEntry("readme.html", 2), RawEntry("b", 1)});
  auto probe = [](const std::vector<std::uint8_t>& bytes) {
    PackageLayout layout;
    const std::vector<std::uint8_t> exact(bytes);
    const bool valid = ValidatePackage(exact.data(), exact.size(), layout);
    int found = 0;
    for (int i = -1; i < 5; ++i) {
      if (FindEntryByIndex(layout, i).found) {
        ++found;
      }
    }
    FindEntryByName(layout, "readme.html");
    EXPECT_TRUE(valid || found == 0);
  };
  for (std::size_t length = 0; length <= image.size(); ++length) {
    probe(std::vector<std::uint8_t>(image.begin(), image.begin() + length));
  }
  for (std::size_t pos = 0; pos < image.size(); ++pos) {
    for (std::uint8_t mask : {0x01, 0x80, 0xFF}) {
      auto damaged = image;
      damaged[pos] ^= mask;
      probe(damaged);
    }
  }
}

} // namespace
} // namespace quillet
