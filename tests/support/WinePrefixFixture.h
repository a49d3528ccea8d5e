// Test scaffolding for code that maps Windows paths: a Wine prefix in a temporary folder, and
// scoped changes of an environment variable and of the current folder.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace quillet::test {

// Sets an environment variable (or removes it, with nullopt) for the life of the object and puts
// the old value back afterwards. Changes of TZ take effect at once (tzset).
class ScopedEnvironmentVariable {
public:
  ScopedEnvironmentVariable(std::string name, const std::optional<std::string>& value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
  static void Apply(const std::string& name, const std::optional<std::string>& value);
  std::string name_;
  std::optional<std::string> previous_;
};

// Makes a folder the current folder for the life of the object.
class ScopedCurrentFolder {
public:
  explicit ScopedCurrentFolder(const std::filesystem::path& folder);
  ~ScopedCurrentFolder();
  ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
  ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

private:
  std::filesystem::path previous_;
};

// A Wine prefix in a fresh temporary folder, made $WINEPREFIX for the life of the object. Drive
// C: is there as in a real prefix: dosdevices/c: is a link to ../drive_c. The empty folder "work"
// is a place for relative paths.
class TestWinePrefix {
public:
  TestWinePrefix();

  const std::filesystem::path& Path() const { return dir_.Path(); }
  std::filesystem::path DriveC() const { return dir_.Path() / "drive_c"; }
  // Adds the drive letter (lower case) as a link to `target`.
  void AddDrive(char letter, const std::filesystem::path& target) const;
  // Creates the listed entries below the prefix: a name ending in "/" is a folder, any other a
  // file (with its folders).
  void Populate(const std::vector<std::string>& entries) const;
  // The text with "{prefix}" replaced by the prefix's native path.
  std::string Expand(std::string text) const;

  // Everything below the prefix, as paths relative to it, with "/" after folders. Links are
  // listed but not followed.
  std::set<std::string> Tree() const;

private:
  TempDir dir_;
  ScopedEnvironmentVariable variable_;
};

} // namespace quillet::test
