#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "Package/PackageWriter.h"

namespace quillet {
namespace {

std::string Content(std::size_t length, unsigned seed) {
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < length) {
    text += "procedure P" + std::to_string(random() % 50) + ";\r\n";
  }
  text.resize(length);
  return text;
}

// Built by appending: GCC 12 at -O3 reports a false -Wrestrict in `"literal" + std::to_string(n)`
// (its std::string operator+ inserts at the front; GCC bug 105329).
std::string Numbered(const char* prefix, std::size_t number, const char* suffix = "") {
  std::string text(prefix);
  text += std::to_string(number);
  text += suffix;
  return text;
}

std::vector<EntrySource> Sources(std::size_t count) {
  std::vector<EntrySource> sources;
  for (std::size_t i = 0; i < count; ++i) {
    EntrySource source;
    source.folderTemplate = Numbered("%zel_root%\\F", i % 3);
    source.fileName = Numbered("U", i, ".pas");
    source.flags = i % 2 == 0 ? ENTRY_INSTALL : ENTRY_INSTALL | ENTRY_PREPEND_PATCH;
    source.date = 46000 + static_cast<std::uint32_t>(i);
    source.time = static_cast<std::uint32_t>(i * 37 % 10000);
    // Sizes out of order, so that entries finish out of package order.
    const std::size_t length = (i * 7919) % 40000 + (i == 5 ? 300000 : 0);
    source.load = [length, i] { return Content(length, static_cast<unsigned>(i)); };
    sources.push_back(std::move(source));
  }
  return sources;
}

std::string Serialized(const std::vector<StoredEntry>& entries) {
  PackageContents package;
  package.defaultFolder = "%Delphi%\\Lib";
  package.entries = entries;
  return SerializePackage(package);
}

TEST(MakeStoredEntries, EveryJobCountGivesTheSameBytesAsOneEntryAtATime) {
  const auto sources = Sources(24);
  std::vector<StoredEntry> oneByOne;
  for (const EntrySource& s : sources) {
    oneByOne.push_back(
        MakeStoredEntry(s.folderTemplate, s.fileName, s.load(), s.flags, s.date, s.time, 9));
  }
  const std::string expected = Serialized(oneByOne);
  for (unsigned jobs : {1u, 2u, 4u, 7u, 64u}) {
    EXPECT_EQ(Serialized(MakeStoredEntries(sources, 9, jobs)), expected) << jobs << " jobs";
  }
}

TEST(MakeStoredEntries, ReportsEveryEntryOnce) {
  const auto sources = Sources(10);
  std::uint64_t total = 0;
  for (const EntrySource& s : sources) {
    total += s.load().size();
  }
  for (unsigned jobs : {1u, 3u}) {
    std::vector<std::size_t> seen;
    CompressionProgress last;
    MakeStoredEntries(sources, 1, jobs, [&](const CompressionProgress& p) {
      seen.push_back(p.entriesDone);
      last = p;
    });
    ASSERT_EQ(seen.size(), sources.size()) << jobs << " jobs";
    for (std::size_t i = 0; i < seen.size(); ++i) {
      EXPECT_EQ(seen[i], i + 1);
    }
    EXPECT_EQ(last.entryCount, sources.size());
    EXPECT_EQ(last.bytesDone, total);
  }
}

TEST(MakeStoredEntries, RethrowsTheEarliestFailure) {
  for (unsigned jobs : {1u, 4u}) {
    auto sources = Sources(12);
    for (std::size_t bad : {std::size_t{3}, std::size_t{9}}) {
      sources[bad].load = [bad]() -> std::string {
        throw std::runtime_error("cannot read entry " + std::to_string(bad));
      };
    }
    try {
      MakeStoredEntries(sources, 9, jobs);
      ADD_FAILURE() << "no exception with " << jobs << " jobs";
    } catch (const std::runtime_error& e) {
      // Entry 9 fails too, but the earlier entry's failure is the one reported, with one job as
      // with several.
      EXPECT_STREQ(e.what(), "cannot read entry 3") << jobs << " jobs";
    }
  }
}

// Entries reach the consumer in package order while the threads stay a few entries ahead: what
// memory holds is bounded by the jobs, not by the package. A failing consumer stops the stream.
TEST(StreamStoredEntries, ConsumesInOrderWithABoundedLead) {
  for (unsigned jobs : {1u, 3u}) {
    auto sources = Sources(40);
    std::atomic<std::size_t> loaded{0};
    for (EntrySource& source : sources) {
      source.load = [&loaded, load = source.load] {
        ++loaded;
        return load();
      };
    }
    std::vector<std::string> names;
    std::size_t largestLead = 0;
    StreamStoredEntries(sources, 1, jobs, [&](StoredEntry&& entry) {
      names.push_back(entry.fileName);
      largestLead = std::max(largestLead, loaded.load() - names.size());
    });
    ASSERT_EQ(names.size(), sources.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(names[i], sources[i].fileName);
    }
    EXPECT_LE(largestLead, 3u * jobs) << jobs << " jobs";

    std::size_t consumed = 0;
    EXPECT_THROW(StreamStoredEntries(sources, 1, jobs,
                                     [&](StoredEntry&&) {
                                       if (++consumed == 5) {
                                         throw std::runtime_error("disk full");
                                       }
                                     }),
                 std::runtime_error);
    EXPECT_EQ(consumed, 5u);
  }
}

TEST(MakeStoredEntries, RefusesLevelsOutsideOneToNine) {
  const auto sources = Sources(2);
  for (int level : {0, 10, -1}) {
    EXPECT_THROW(MakeStoredEntries(sources, level, 2), std::invalid_argument) << level;
  }
}

TEST(MakeStoredEntries, NoEntriesGiveNoResult) {
  EXPECT_TRUE(MakeStoredEntries({}, 9, 4).empty());
}

} // namespace
} // namespace quillet
