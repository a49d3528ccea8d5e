#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "Package/EntryContent.h"
#include "Package/PackageCrc.h"
#include "Package/PackageWriter.h"

namespace quillet {
namespace {

// A package built in memory and validated, with its entries in package order.
class PackageFixture {
public:
  explicit PackageFixture(std::vector<StoredEntry> entries) {
    PackageContents contents;
    contents.defaultFolder = "%Delphi%\\Lib\\";
    contents.entries = std::move(entries);
    image_ = SerializePackage(contents);
    valid_ = ValidatePackage(Base(), image_.size(), layout_);
  }

  bool Valid() const { return valid_; }
  const PackageLayout& Layout() const { return layout_; }
  PackageEntry Entry(std::int32_t index) const {
    const EntryLookup lookup = FindEntryByIndex(layout_, index);
    EXPECT_TRUE(lookup.found) << "entry " << index;
    return lookup.entry;
  }

private:
  const std::uint8_t* Base() const { return reinterpret_cast<const std::uint8_t*>(image_.data()); }

  std::string image_;
  PackageLayout layout_;
  bool valid_ = false;
};

std::string SourceText(std::size_t length, unsigned seed) {
  static const char* const words[] = {"begin", "end;", "procedure", "TWidget.",  "Paint",
                                      "var",   "I:",   "Integer;",  "inherited", "\r\n  "};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < length) {
    text += words[random() % 10];
    text += ' ';
  }
  text.resize(length);
  return text;
}

std::string RandomBytes(std::size_t length, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(length, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random());
  }
  return bytes;
}

// Makes the stored bytes pass the checksum again after a test changed them.
void Reseal(StoredEntry& entry) {
  entry.crc = PackageCrc(entry.stored.data(), entry.stored.size());
}

const std::uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const std::uint8_t*>(s.data());
}

// DecompressStream into one string; nullopt unless the stream was complete.
std::optional<std::string> Inflate(const std::string& stored, std::size_t length,
                                   const Bzip2Memory& memory = {}) {
  std::string out;
  const auto append = [&out](const char* d, std::size_t n) { return out.append(d, n), true; };
  const auto end =
      DecompressStream(Bytes(stored), static_cast<std::uint32_t>(length), append, memory);
  return end == StreamEnd::Complete ? std::optional(out) : std::nullopt;
}

// --- The unpacked-size field is only an estimate -------------------------------------------

struct EstimateCase {
  const char* name;
  std::size_t contentLength;
  // The unpacked-size field from the real length.
  std::uint32_t (*estimate)(std::uint32_t real);
  // Bytes stored after the end of the stream.
  std::string after;
};

class EntryEstimateTest : public ::testing::TestWithParam<EstimateCase> {};

TEST_P(EntryEstimateTest, ContentIsCompleteAndExact) {
  const EstimateCase& c = GetParam();
  const std::string content = SourceText(c.contentLength, 7);
  StoredEntry entry = MakeStoredEntry("%zel_root%", "Unit1.pas", content);
  entry.unpackedSize = c.estimate(static_cast<std::uint32_t>(content.size()));
  entry.stored += c.after;
  Reseal(entry);
  PackageFixture package({entry});
  ASSERT_TRUE(package.Valid());

  const EntryContent result = ExtractEntry(package.Entry(0));
  EXPECT_EQ(result.status, EntryStatus::Content);
  EXPECT_EQ(result.bytes, content);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, EntryEstimateTest,
    ::testing::Values(
        EstimateCase{"Exact", 50000, [](std::uint32_t n) { return n; }, ""},
        EstimateCase{"ZeroMeansNoEstimate", 50000, [](std::uint32_t) { return 0u; }, ""},
        EstimateCase{"TooSmallByOne", 50000, [](std::uint32_t n) { return n - 1; }, ""},
        EstimateCase{"FarTooSmall", 50000, [](std::uint32_t) { return 1u; }, ""},
        EstimateCase{"TooLarge", 50000, [](std::uint32_t n) { return n * 3; }, ""},
        EstimateCase{"ZeroForEmptyContent", 0, [](std::uint32_t) { return 0u; }, ""},
        EstimateCase{"LargeForEmptyContent", 0, [](std::uint32_t) { return 4096u; }, ""},
        // The size field is not covered by the checksum: a damaged one near 4 GiB still gives
        // the exact content, and reserves no more than the cap.
        EstimateCase{"DamagedNear4GiB", 50000, [](std::uint32_t) { return 0xFFFFFFF0u; }, ""},
        // Decompression ends with the first stream; what follows it is never read.
        EstimateCase{"TrailingGarbage", 50000, [](std::uint32_t n) { return n; },
                     "garbage after the stream"},
        EstimateCase{"SecondStreamIgnored", 50000, [](std::uint32_t n) { return n; },
                     CompressBzip2("second stream")}),
    [](const auto& info) { return info.param.name; });

// --- Checksum and data errors ---------------------------------------------------------------

TEST(ExtractEntry, ChecksumFailureDecompressesNothing) {
  const std::string content = SourceText(3000, 5);
  StoredEntry changed = MakeStoredEntry("%zel_root%", "a.pas", content);
  changed.stored[changed.stored.size() / 2] ^= 0x20;
  // Garbage that would be a data error if it reached the decompressor.
  StoredEntry garbage = MakeStoredEntry("%zel_root%", "b.pas", content);
  garbage.stored = "this is no bzip2 stream";
  Reseal(garbage);
  garbage.crc ^= 1;
  PackageFixture package({changed, garbage});
  ASSERT_TRUE(package.Valid());

  for (std::int32_t index : {0, 1}) {
    const EntryContent result = ExtractEntry(package.Entry(index));
    EXPECT_EQ(result.status, EntryStatus::ChecksumFailure) << "entry " << index;
    EXPECT_TRUE(result.bytes.empty());
  }
}

struct DamageCase {
  const char* name;
  void (*damage)(std::string& stored);
};

class EntryDataErrorTest : public ::testing::TestWithParam<DamageCase> {};

// Each of these must end, and end as a data error of that one entry, with the checksum intact.
TEST_P(EntryDataErrorTest, EndsAsDataError) {
  const std::string content = SourceText(20000, 9);
  StoredEntry bad = MakeStoredEntry("%zel_root%", "bad.pas", content);
  GetParam().damage(bad.stored);
  Reseal(bad);
  const StoredEntry good = MakeStoredEntry("%zel_root%", "good.pas", content);
  PackageFixture package({bad, good});
  ASSERT_TRUE(package.Valid());

  const EntryContent result = ExtractEntry(package.Entry(0));
  EXPECT_EQ(result.status, EntryStatus::DataError);
  EXPECT_TRUE(result.bytes.empty());
  // The failure stays with its entry.
  const EntryContent next = ExtractEntry(package.Entry(1));
  EXPECT_EQ(next.status, EntryStatus::Content);
  EXPECT_EQ(next.bytes, content);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, EntryDataErrorTest,
    ::testing::Values(
        DamageCase{"EmptyStoredBytes", [](std::string& s) { s.clear(); }},
        DamageCase{"TruncatedToHalf", [](std::string& s) { s.resize(s.size() / 2); }},
        DamageCase{"LastByteMissing", [](std::string& s) { s.pop_back(); }},
        DamageCase{"HeaderOnly", [](std::string& s) { s.resize(4); }},
        DamageCase{"BadMagic", [](std::string& s) { s[0] = 'X'; }},
        DamageCase{"BadBlockSizeDigit", [](std::string& s) { s[3] = '0'; }},
        DamageCase{"NotCompressedAtAll", [](std::string& s) { s = "plain text, not bzip2"; }},
        DamageCase{"CorruptBlockData", [](std::string& s) { s[s.size() / 2] ^= 0x5A; }},
        DamageCase{"CorruptStreamChecksum", [](std::string& s) { s[s.size() - 3] ^= 0x01; }}),
    [](const auto& info) { return info.param.name; });

TEST(DecompressStream, EveryTruncationIsADataError) {
  const std::string stored = CompressBzip2(SourceText(5000, 21));
  for (std::size_t length = 0; length < stored.size(); ++length) {
    EXPECT_FALSE(Inflate(stored, length).has_value()) << "length " << length;
  }
  EXPECT_TRUE(Inflate(stored, stored.size()));
}

TEST(DecompressStream, ChangedBytesNeverGiveOtherContent) {
  const std::string content = SourceText(5000, 23);
  const std::string stored = CompressBzip2(content);
  int errors = 0;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    std::string changed = stored;
    changed[i] ^= 0x55;
    const auto out = Inflate(changed, changed.size());
    if (out) {
      EXPECT_EQ(*out, content) << "byte " << i; // only unused padding bits may change
    } else {
      ++errors;
    }
  }
  EXPECT_GE(errors, static_cast<int>(stored.size()) - 1);
}

// libbz2's own memory: a hook that refuses after a number of allocations.
struct RefusingHeap {
  int allowed;
  int taken = 0;
};

void* RefusingAllocate(void* opaque, int items, int size) {
  auto* heap = static_cast<RefusingHeap*>(opaque);
  if (heap->taken == heap->allowed) {
    return nullptr;
  }
  ++heap->taken;
  return std::malloc(static_cast<std::size_t>(items) * static_cast<std::size_t>(size));
}

void ReleaseToHeap(void*, void* address) {
  std::free(address);
}

TEST(DecompressStream, LibraryMemoryErrorsAreDataErrors) {
  const std::string content = SourceText(3000, 25);
  const std::string stored = CompressBzip2(content);
  // 0: the decompressor's state; 1: the block tables, taken once the header is read.
  for (int allowed : {0, 1}) {
    RefusingHeap heap{allowed};
    const Bzip2Memory memory{RefusingAllocate, ReleaseToHeap, &heap};
    EXPECT_FALSE(Inflate(stored, stored.size(), memory)) << "allowed " << allowed;
  }
  RefusingHeap enough{100};
  const Bzip2Memory memory{RefusingAllocate, ReleaseToHeap, &enough};
  const auto out = Inflate(stored, stored.size(), memory);
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(*out, content);
}

TEST(ExtractEntry, BinaryContentWithNulsIsExact) {
  const std::string content = RandomBytes(70000, 31) + std::string(5000, '\0');
  PackageFixture package({MakeStoredEntry("%zel_root%", "data.bin", content)});
  ASSERT_TRUE(package.Valid());
  const EntryContent result = ExtractEntry(package.Entry(0));
  EXPECT_EQ(result.status, EntryStatus::Content);
  EXPECT_EQ(result.bytes, content);
}

// --- By name and by record ------------------------------------------------------------------

TEST(ExtractEntry, ByNameTakesTheFirstOfTwoEqualNames) {
  PackageFixture package({MakeStoredEntry("%zel_root%\\A", "Same.pas", "first"),
                          MakeStoredEntry("%zel_root%\\B", "same.PAS", "second")});
  ASSERT_TRUE(package.Valid());
  for (const char* name : {"Same.pas", "SAME.pas", "same.pas"}) {
    const EntryContent result = ExtractEntry(package.Layout(), name);
    EXPECT_EQ(result.status, EntryStatus::Content);
    EXPECT_EQ(result.bytes, "first") << name;
  }
}

TEST(ExtractEntry, ByRecordEachGetsItsOwnContentAndChecksum) {
  StoredEntry first = MakeStoredEntry("%zel_root%\\A", "same.pas", "first");
  first.crc ^= 0x10; // the earlier entry is damaged, the later one is not
  PackageFixture package({first, MakeStoredEntry("%zel_root%\\B", "same.pas", "second"),
                          MakeStoredEntry("%zel_root%\\C", "same.pas", "third")});
  ASSERT_TRUE(package.Valid());

  EXPECT_EQ(ExtractEntry(package.Entry(0)).status, EntryStatus::ChecksumFailure);
  const EntryContent second = ExtractEntry(package.Entry(1));
  EXPECT_EQ(second.status, EntryStatus::Content);
  EXPECT_EQ(second.bytes, "second");
  EXPECT_EQ(ExtractEntry(package.Entry(2)).bytes, "third");
  // By name every one of them would be judged by the first record.
  EXPECT_EQ(ExtractEntry(package.Layout(), "same.pas").status, EntryStatus::ChecksumFailure);
}

TEST(ExtractEntry, ByNameFindsOtherCapitalsAndMissesUnknownNames) {
  PackageFixture package({MakeStoredEntry("", "Welcome.Txt", "Hello", 0),
                          MakeStoredEntry("%zel_root%", "a.pas", "unit a;")});
  ASSERT_TRUE(package.Valid());
  const EntryContent welcome = ExtractEntry(package.Layout(), "welcome.txt");
  EXPECT_EQ(welcome.status, EntryStatus::Content);
  EXPECT_EQ(welcome.bytes, "Hello");

  const EntryContent missing = ExtractEntry(package.Layout(), "patchinfo.txt");
  EXPECT_EQ(missing.status, EntryStatus::Content);
  EXPECT_TRUE(missing.bytes.empty());
}

TEST(ExtractEntry, ByNameOnAnInvalidLayoutIsEmptyContent) {
  const PackageLayout notValidated;
  const EntryContent result = ExtractEntry(notValidated, "welcome.txt");
  EXPECT_EQ(result.status, EntryStatus::Content);
  EXPECT_TRUE(result.bytes.empty());
}

struct StreamCase {
  const char* name;
  std::string content;
  std::size_t keep;   // stored bytes kept; npos for all
  std::size_t refuse; // the sink refuses the chunk with this number (from 1); 0 never
  StreamEnd end;
};

TEST(DecompressStream, ChunksAreBoundedAndTheEndIsReported) {
  const std::string big = SourceText(3 * STREAM_CHUNK_SIZE + 77, 5);
  const StreamCase cases[] = {
      {"Complete", big, std::string::npos, 0, StreamEnd::Complete},
      {"Empty", "", std::string::npos, 0, StreamEnd::Complete},
      {"Truncated", big, 200, 0, StreamEnd::DataError},
      {"NoBytes", big, 0, 0, StreamEnd::DataError},
      {"SinkRefuses", big, std::string::npos, 2, StreamEnd::Stopped},
  };
  for (const StreamCase& c : cases) {
    const std::string stored = CompressBzip2(c.content);
    const auto length = static_cast<std::uint32_t>(std::min(c.keep, stored.size()));
    std::string out;
    std::size_t chunks = 0;
    const StreamEnd end =
        DecompressStream(Bytes(stored), length, [&](const char* d, std::size_t n) {
          EXPECT_LE(n, STREAM_CHUNK_SIZE);
          if (++chunks == c.refuse) {
            return false;
          }
          out.append(d, n);
          return true;
        });
    EXPECT_EQ(end, c.end) << c.name;
    if (c.end == StreamEnd::Complete) {
      EXPECT_EQ(out, c.content) << c.name;
    } else {
      EXPECT_EQ(out, c.content.substr(0, out.size())) << c.name << ": only the stream's own bytes";
    }
  }
}

} // namespace
} // namespace quillet
