// Random byte flips over a package that carries package.crc, each run through the built installer
// over existing older files: no flip may give "OK" with wrong content, write outside the target,
// or end with status 0 while files are missing. QUILLET_FLIPS sets the number of flips (200 by
// default); QUILLET_FLIP_REPORT=1 also sweeps the same package without package.crc and prints
// both tallies, for comparison.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "Installer/RunInstaller.h"
#include "Package/PackageWriter.h"
#include "tests/support/RegisteredIdes.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;

struct Tally {
  int runs = 0;
  int wrongOk = 0;        // a line ends in "OK" and the file does not hold the new content
  int outside = 0;        // a file appeared outside the target folder
  int missingAtZero = 0;  // status 0 while a file is not the new content
  int refused = 0;        // status 2: the package check or the record check refused it
  std::uint64_t lost = 0; // bytes of older files that are neither kept nor replaced correctly
};

class FlipSweep {
public:
  explicit FlipSweep(const PackageContents& package) : image_(SerializePackage(package)) {
    driveC_ = test::MakeWinePrefix(dir_ / "prefix", {{"Delphi", "7.0", test::RegText("C:\\D7")}});
    fs::create_directories(dir_ / "work");
    for (const auto& item : fs::directory_iterator("/")) {
      rootBefore_.insert(item.path());
    }
    // What an undamaged run installs is what every damaged run is judged against.
    Reset();
    const auto result = Run(image_);
    EXPECT_EQ(result.status, EXIT_ALL_DONE) << result.output;
    for (const auto& item : fs::recursive_directory_iterator(Target())) {
      if (item.is_regular_file()) {
        expected_[item.path()] = test::ReadFile(item.path());
      }
    }
  }

  std::size_t ExpectedFiles() const { return expected_.size(); }

  Tally Sweep(int flips, unsigned seed) {
    Tally tally;
    std::mt19937 random(seed);
    for (int i = 0; i < flips; ++i) {
      std::string damaged = image_;
      const std::size_t offset = random() % damaged.size();
      damaged[offset] = static_cast<char>(damaged[offset] ^ (1 + random() % 255));
      Reset();
      const auto result = Run(damaged);
      Judge(result, tally);
    }
    return tally;
  }

private:
  fs::path Target() const { return driveC_ / "D7" / "Pkg"; }

  // The older files are in place before every run, and nothing else below drive C or work.
  void Reset() {
    fs::remove_all(driveC_ / "D7");
    fs::remove_all(dir_ / "work");
    fs::create_directories(dir_ / "work");
    for (const auto& [path, content] : expected_) {
      test::WriteFile(path, Old(path));
    }
  }

  static std::string Old(const fs::path& path) { return "older " + path.filename().string(); }

  test::ProgramResult Run(const std::string& image) {
    test::WriteFile(dir_ / "pkg.dat", image);
    test::ProgramOptions options;
    options.environment["WINEPREFIX"] = (dir_ / "prefix").string();
    options.environment["DISPLAY"] = std::nullopt;
    options.environment["WAYLAND_DISPLAY"] = std::nullopt;
    options.workingDirectory = dir_ / "work";
    return test::RunProgram(test::SfxPath(), {(dir_ / "pkg.dat").string()}, options);
  }

  void Judge(const test::ProgramResult& result, Tally& tally) {
    ++tally.runs;
    tally.refused += result.status == EXIT_NO_PACKAGE ? 1 : 0;
    bool allNew = true;
    for (const auto& [path, content] : expected_) {
      std::error_code error;
      const bool present = fs::is_regular_file(path, error);
      const std::string now = present ? test::ReadFile(path) : std::string();
      const bool isNew = present && now == content;
      allNew = allNew && isNew;
      if (!isNew && !(present && now == Old(path))) {
        tally.lost += Old(path).size();
      }
      const std::string okLine = "Installing " + path.filename().string() + " .. OK\r\n";
      if (!isNew && result.output.find(okLine) != std::string::npos) {
        ++tally.wrongOk;
      }
    }
    if (result.status == EXIT_ALL_DONE && !allNew) {
      ++tally.missingAtZero;
    }
    bool outside = !fs::is_empty(dir_ / "work");
    for (const auto& item : fs::recursive_directory_iterator(driveC_)) {
      outside = outside || (item.is_regular_file() && expected_.count(item.path()) == 0);
    }
    // A damaged default folder can name a native path: look at the root folder too, and take
    // away only what the run put there.
    for (const auto& item : fs::directory_iterator("/")) {
      if (rootBefore_.count(item.path()) == 0) {
        outside = true;
        std::error_code error;
        fs::remove_all(item.path(), error);
      }
    }
    tally.outside += outside ? 1 : 0;
  }

  test::TempDir dir_;
  fs::path driveC_;
  std::string image_;
  std::map<fs::path, std::string> expected_;
  std::set<fs::path> rootBefore_;
};

PackageContents SweptPackage() {
  PackageContents package;
  package.defaultFolder = "%Delphi%Pkg\\";
  package.entries = {
      MakeStoredEntry("", "welcome.txt", "Welcome", 0),
      MakeStoredEntry("", "patchinfo.txt", "{patched %zel_root%}", 0),
      MakeStoredEntry("%zel_root%Source", "a.pas", "unit a; { first unit }"),
      MakeStoredEntry("%zel_root%Source", "b.pas", "unit b;", ENTRY_INSTALL | ENTRY_PREPEND_PATCH),
      MakeStoredEntry("%zel_root%Source\\ext", "c.pas", std::string(2000, 'c')),
      MakeStoredEntry("%zel_root%.", "readme.html", "<html/>"),
  };
  return package;
}

int Flips() {
  const char* text = std::getenv("QUILLET_FLIPS");
  return text != nullptr ? std::atoi(text) : 200;
}

void Print(const char* what, const Tally& t) {
  std::printf("%s: %d runs, %d refused (status 2), %d OK with wrong content, %d with a file "
              "outside the target, %d status 0 with files missing, %llu bytes of older files "
              "lost\n",
              what, t.runs, t.refused, t.wrongOk, t.outside, t.missingAtZero,
              static_cast<unsigned long long>(t.lost));
}

TEST(Damage, RandomFlipsNeverPassWrongContentOrWriteOutsideTheTarget) {
  PackageContents package = SweptPackage();
  AddRecordCheck(package);
  FlipSweep sweep(package);
  ASSERT_EQ(sweep.ExpectedFiles(), 4u);
  const Tally tally = sweep.Sweep(Flips(), 20261208);
  Print("with package.crc", tally);
  EXPECT_EQ(tally.wrongOk, 0);
  EXPECT_EQ(tally.outside, 0);
  EXPECT_EQ(tally.missingAtZero, 0);
  EXPECT_EQ(tally.lost, 0u);

  if (std::getenv("QUILLET_FLIP_REPORT") != nullptr) {
    FlipSweep old(SweptPackage());
    Print("without package.crc", old.Sweep(Flips(), 20261208));
  }
}

} // namespace
} // namespace quillet
