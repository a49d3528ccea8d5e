// Entry installation in-process, with and without worker threads ahead of the writer.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "Installer/EntryInstall.h"
#include "Installer/Installation.h"
#include "Package/PackageCrc.h"
#include "Package/PackageWriter.h"
#include "Platform/Testing.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;

// Standard output gathered in a string; standard input at its end.
struct RecordingChannel : platform::ConsoleChannel {
  std::string* out = nullptr;
  platform::ChannelKind Kind() const override { return platform::ChannelKind::Stream; }
  platform::ReadOutcome Read(char*, std::size_t, std::size_t& got) override {
    got = 0;
    return platform::ReadOutcome::End;
  }
  std::size_t Write(const char* data, std::size_t size) override {
    out->append(data, size);
    return size;
  }
};

// A console whose output goes to `out` and whose input is at its end.
Console RecordingConsole(std::string& out) {
  return Console([] { return nullptr; },
                 [&out] {
                   auto channel = std::make_unique<RecordingChannel>();
                   channel->out = &out;
                   return std::unique_ptr<platform::ConsoleChannel>(std::move(channel));
                 },
                 true);
}

StoredEntry WithStored(StoredEntry entry, std::string stored) {
  entry.stored = std::move(stored);
  entry.crc = PackageCrc(entry.stored.data(), entry.stored.size());
  return entry;
}

// Failing entries of every kind, at the start, in the middle and at the end.
PackageContents MixedPackage() {
  PackageContents package;
  package.entries.push_back(MakeStoredEntry("", "patchinfo.txt", "{%zel_root%}", 0));
  StoredEntry crc = MakeStoredEntry("%zel_root%", "crc.pas", "crc");
  crc.crc ^= 1;
  package.entries.push_back(crc);
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(i);
    const std::string folder = "%zel_root%Sub" + std::to_string(i % 3);
    package.entries.push_back(MakeStoredEntry(folder, "u" + n + ".pas", "unit u" + n + ";"));
    if (i % 10 == 4) {
      package.entries.push_back(WithStored(MakeStoredEntry(folder, "bad" + n, ""), "BZh9 no"));
    }
    if (i % 10 == 7) {
      StoredEntry cut = MakeStoredEntry(folder, "cut" + n, std::string(5000, 'c') + n);
      package.entries.push_back(WithStored(cut, cut.stored.substr(0, cut.stored.size() / 2)));
      package.entries.push_back(MakeStoredEntry("%zel_root%", "Blocker", "in the way"));
      package.entries.push_back(MakeStoredEntry(folder, "p" + n, "patched", 6));
      package.entries.push_back(MakeStoredEntry(folder, "skip" + n, "not installed", 0));
    }
  }
  package.entries.push_back(crc);
  for (StoredEntry& entry : package.entries) {
    entry.date = 36671; // a stored time, so that the files' times can be compared
  }
  package.entryCount = static_cast<std::uint32_t>(package.entries.size());
  return package;
}

struct RunResult {
  std::string transcript;
  std::map<std::string, std::string> tree; // path -> content and time, folders marked "/"
  std::string failure;                     // what the exception said, if one ended the run
  bool allInstalled = false;

  bool operator==(const RunResult&) const = default;
};

void PrintTo(const RunResult& r, std::ostream* os) {
  *os << "failure '" << r.failure << "', all installed " << r.allInstalled << "\n" << r.transcript;
  for (const auto& [path, content] : r.tree) {
    *os << path << " = " << content << "\n";
  }
}

RunResult Install(const PackageContents& package, unsigned threads, const EntryDecoder& decoder) {
  const std::string image = SerializePackage(package);
  PackageLayout layout;
  EXPECT_TRUE(
      ValidatePackage(reinterpret_cast<const std::uint8_t*>(image.data()), image.size(), layout));
  test::TempDir dir;
  fs::create_directories(dir / "Blocker"); // a folder in the way of a file

  RunResult result;
  Console console([] { return nullptr; },
                  [&result] {
                    auto channel = std::make_unique<RecordingChannel>();
                    channel->out = &result.transcript;
                    return std::unique_ptr<platform::ConsoleChannel>(std::move(channel));
                  },
                  true);
  InstallContext context;
  context.PackageRoot = dir.Path().string();
  context.PatchText = "{%zel_root%}";
  try {
    result.allInstalled = InstallAllEntries(ReadPackageSettings(layout).toInstall, context, console,
                                            EntryDecoding{threads, decoder});
  } catch (const std::exception& e) {
    result.failure = e.what();
  }
  console.Flush();
  // Each run has a folder of its own: name it alike in the texts that show it.
  const auto withoutRoot = [root = dir.Path().string()](std::string text) {
    for (std::size_t at; (at = text.find(root)) != std::string::npos;) {
      text.replace(at, root.size(), "ROOT");
    }
    return text;
  };
  result.transcript = withoutRoot(result.transcript);
  for (const auto& entry : fs::recursive_directory_iterator(dir.Path())) {
    const std::string path = fs::relative(entry.path(), dir.Path()).generic_string();
    if (entry.is_directory()) {
      result.tree[path] = "/";
    } else {
      result.tree[path] =
          withoutRoot(test::ReadFile(entry.path())) + "@" +
          std::to_string(fs::last_write_time(entry.path()).time_since_epoch().count());
    }
  }
  return result;
}

TEST(ContentPipeline, WorkersChangeNothingThatCanBeSeen) {
  const PackageContents package = MixedPackage();
  const RunResult alone = Install(package, 1, StreamEntry);
  // The package does fail in every way it should.
  EXPECT_FALSE(alone.allInstalled);
  EXPECT_NE(alone.transcript.find("Installing crc.pas .. CRC Error\r\n"), std::string::npos);
  EXPECT_NE(alone.transcript.find("Installing bad34 .. Data Error\r\n"), std::string::npos);
  EXPECT_NE(alone.transcript.find("Installing cut7 .. Data Error\r\n"), std::string::npos);
  EXPECT_NE(alone.transcript.find("Installing Blocker .. could not create"), std::string::npos);
  EXPECT_EQ(alone.tree.count("Sub1/p7"), 1u);
  EXPECT_EQ(alone.tree.count("Sub1/skip7"), 0u);
  for (unsigned threads : {2u, 4u}) {
    EXPECT_EQ(Install(package, threads, StreamEntry), alone) << threads << " threads";
  }
}

TEST(ContentPipeline, ExceptionInTheLookAheadEndsTheRunAsWithoutWorkers) {
  const PackageContents package = MixedPackage();
  for (const char* failing : {"u1.pas", "u20.pas", "u39.pas"}) {
    const EntryDecoder decoder = [failing](const PackageEntry& entry, const ChunkSink& sink) {
      if (entry.FileName() == failing) {
        throw std::runtime_error(std::string("failed at ") + failing);
      }
      return StreamEntry(entry, sink);
    };
    const RunResult alone = Install(package, 1, decoder);
    EXPECT_EQ(alone.failure, std::string("failed at ") + failing);
    const std::string lastLine = "Installing " + std::string(failing) + " .. ";
    EXPECT_EQ(alone.transcript.substr(alone.transcript.size() - lastLine.size()), lastLine);
    EXPECT_EQ(Install(package, 4, decoder), alone) << failing;
  }
}

// The header's entry count limits the entries a turn installs, also when the records go on: a
// package whose count was lowered installs only the entries it counts, with and without workers.
TEST(InstallAllEntries, TheHeaderCountLimitsTheEntries) {
  PackageContents package;
  for (const char* name : {"a.pas", "b.pas", "c.pas"}) {
    package.entries.push_back(MakeStoredEntry("%zel_root%", name, name));
  }
  package.entryCount = 2;
  for (unsigned threads : {1u, 2u}) {
    const RunResult run = Install(package, threads, StreamEntry);
    EXPECT_EQ(run.transcript, "Installing a.pas .. OK\r\nInstalling b.pas .. OK\r\n") << threads;
    EXPECT_EQ(run.tree.count("c.pas"), 0u) << threads;
  }
}

// A package file that shrinks or is rewritten after the check (pages lost to a truncation read as
// zeros) still has every entry of the checked table tried, and each whose bytes are gone fails on
// its line: none is skipped as "not installed" or "no more entries", and the turn is not a success.
TEST(InstallAllEntries, EntriesOfTheCheckedTableAreNeverSkippedWhenThePackageChanges) {
  PackageContents package;
  for (int i = 0; i < 6; ++i) {
    package.entries.push_back(MakeStoredEntry("%zel_root%", "u" + std::to_string(i), "unit"));
  }
  const std::string original = SerializePackage(package);
  for (const std::size_t from : {std::size_t{0}, original.size() / 2}) {
    for (unsigned threads : {1u, 2u}) {
      std::string image = original;
      PackageLayout layout;
      ASSERT_TRUE(ValidatePackage(reinterpret_cast<const std::uint8_t*>(image.data()), image.size(),
                                  layout));
      std::fill(image.begin() + static_cast<std::ptrdiff_t>(from), image.end(), '\0');
      const test::TempDir dir;
      std::string transcript;
      Console console = RecordingConsole(transcript);
      InstallContext context;
      context.PackageRoot = dir.Path().string();
      EXPECT_FALSE(
          InstallAllEntries(ReadPackageSettings(layout).toInstall, context, console, {threads}));
      console.Flush();
      std::size_t lines = 0;
      for (std::size_t at = 0; (at = transcript.find("Installing u", at)) != std::string::npos;
           ++at) {
        ++lines;
      }
      EXPECT_EQ(lines, 6u) << transcript;
      EXPECT_NE(transcript.find("u5 .. CRC Error"), std::string::npos) << transcript;
    }
  }
}

// A name that leads out of its folder is refused and writes nothing; a folder that climbs out
// installs, and its line shows where the file went.
TEST(InstallEntry, NamesStayInTheirFolderAndOutsideTargetsAreShown) {
  PackageContents package;
  package.entries = {MakeStoredEntry("%zel_root%sub", "..\\..\\escaped", "x"),
                     MakeStoredEntry("%zel_root%..\\up", "f.pas", "y")};
  const RunResult run = Install(package, 1, StreamEntry);
  EXPECT_FALSE(run.allInstalled);
  EXPECT_EQ(run.transcript.substr(0, run.transcript.find("\r\n")),
            "Installing ..\\..\\escaped (ROOT\\sub\\..\\..\\escaped) .. could not create "
            "[ROOT\\sub\\..\\..\\escaped]");
  EXPECT_NE(run.transcript.find("Installing f.pas (ROOT\\..\\up\\f.pas) .. OK"), std::string::npos)
      << run.transcript;
}

// Temporary files that a killed installer left in the locked folder are removed without a word.
// Names of another shape, a live installer's file and anything below the folder stay.
TEST(InstallAllEntries, RemovesOnlyTheTemporaryFilesAKilledRunLeftInTheLockedFolder) {
  constexpr const char* DEAD = "7ffffffe"; // above every system's highest process id
  const std::string live = [] {
    char id[9];
#ifdef _WIN32
    std::snprintf(id, sizeof id, "%08lx", static_cast<unsigned long>(::GetCurrentProcessId()));
#else
    std::snprintf(id, sizeof id, "%08lx", static_cast<unsigned long>(::getpid()));
#endif
    return std::string(id);
  }();
  const std::string random = "-0123456789abcdef.tmp";
  const std::vector<std::pair<std::string, bool>> rows = {
      // name below the folder, removed
      {".quillet-" + std::string(DEAD) + random, true},
      {"sub/.quillet-" + std::string(DEAD) + random, false},
      {".quillet-" + live + random, false},
      {".quillet-1.tmp", false},
      {".quillet-abc.tmp", false},
      {".quillet-1-2.tmp", false},
      {".quillet-deadbeef.tmp", false},
      {".quillet-1f2e-3d4c-5.tmp", false},
      {".quillet-7FFFFFFE-0000000000000001.tmp", false},
      {".quillet-7ffffffe-0123456789abcdef0.tmp", false},
      {".quillet-7ffffff-0123456789abcdef.tmp", false},
      {".quillet-7ffffffe_0123456789abcdef.tmp", false},
      {".quillet-7ffffffe-0123456789abcdeg.tmp", false},
      {".quillet-7ffffffe-0000000000000002.TMP", false},
      {"x.quillet-" + std::string(DEAD) + random, false}};
  const test::TempDir dir;
  // No two rows differ in letter case alone: on Windows they would be one file.
  for (const auto& [name, removed] : rows) {
    test::WriteFile(dir / name, "left");
  }
  PackageContents package;
  package.entries = {MakeStoredEntry("%zel_root%", "a.pas", "a"),
                     MakeStoredEntry("%zel_root%sub", "b.pas", "b")};
  const std::string image = SerializePackage(package);
  PackageLayout layout;
  ASSERT_TRUE(
      ValidatePackage(reinterpret_cast<const std::uint8_t*>(image.data()), image.size(), layout));
  std::string transcript;
  Console console = RecordingConsole(transcript);
  InstallContext context;
  context.PackageRoot = dir.Path().string();
  EXPECT_TRUE(InstallAllEntries(ReadPackageSettings(layout).toInstall, context, console));
  console.Flush();
  EXPECT_EQ(transcript, "Installing a.pas .. OK\r\nInstalling b.pas .. OK\r\n");
  for (const auto& [name, removed] : rows) {
    EXPECT_NE(fs::exists(dir / name), removed) << name;
  }
}

// An interrupt finds an entry either not in place or in place with its "OK" written: InstallEntry
// holds interrupts off from before the commit until after the "OK", beyond the commit's own hold.
TEST(InstallEntry, CommitAndOkAreOneStepForAnInterrupt) {
  static int holdsAtCommit = 0;
  holdsAtCommit = 0;
  platform::testing::CallAfterNextOutputFileCommit(
      [] { holdsAtCommit = platform::testing::InterruptHoldsOnThisThread(); });
  PackageContents package;
  package.entries = {MakeStoredEntry("%zel_root%", "a.pas", "a")};
  EXPECT_TRUE(Install(package, 1, StreamEntry).allInstalled);
  EXPECT_GE(holdsAtCommit, 2);
}

// A close that reports lost data (a full disk noticed late) fails the entry, whether it replaces
// a file or makes a new one; a file that was there stays as it was, and nothing else is left.
TEST(InstallEntry, FailedCloseIsAFailedWriteThatKeepsTheOldFile) {
  PackageContents contents;
  contents.entries.push_back(
      MakeStoredEntry("%zel_root%", "a.pas", "the new a.pas", ENTRY_INSTALL));
  const std::string package = SerializePackage(contents);
  PackageLayout layout;
  ASSERT_TRUE(ValidatePackage(reinterpret_cast<const std::uint8_t*>(package.data()), package.size(),
                              layout));
  const PackageEntry entry = FindEntryByIndex(layout, 0).entry;
  for (const bool oldFile : {true, false}) {
    const test::TempDir dir;
    if (oldFile) {
      test::WriteFile(dir / "a.pas", "the old a.pas");
    }
    std::string transcript;
    Console console = RecordingConsole(transcript);
    InstallContext context;
    context.PackageRoot = (dir / "").string();
    platform::testing::FailNextOutputFileClose();
    EXPECT_EQ(InstallEntry(entry, context, console), InstallOutcome::Failed) << oldFile;
    console.Flush();
    EXPECT_EQ(transcript,
              "Installing a.pas .. could not write [" + context.PackageRoot + "\\a.pas]\r\n");
    if (oldFile) {
      EXPECT_EQ(test::ReadFile(dir / "a.pas"), "the old a.pas");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), oldFile ? 1 : 0)
        << "no temporary file and no new file is left";
  }
}

} // namespace
} // namespace quillet
