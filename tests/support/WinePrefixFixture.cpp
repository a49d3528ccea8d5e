#include "tests/support/WinePrefixFixture.h"

#include <cstdlib>
#include <ctime>
#include <stdexcept>

namespace quillet::test {

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name,
                                                     const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) {
    previous_ = old;
  }
  Apply(name_, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  Apply(name_, previous_);
}

void ScopedEnvironmentVariable::Apply(const std::string& name,
                                      const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
  if (name == "TZ") {
    ::tzset();
  }
}

ScopedCurrentFolder::ScopedCurrentFolder(const std::filesystem::path& folder)
    : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(folder);
}

ScopedCurrentFolder::~ScopedCurrentFolder() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
}

TestWinePrefix::TestWinePrefix() : variable_("WINEPREFIX", dir_.Path().string()) {
  std::filesystem::create_directories(DriveC());
  std::filesystem::create_directories(Path() / "dosdevices");
  std::filesystem::create_directories(Path() / "work");
  AddDrive('c', "../drive_c");
}

void TestWinePrefix::Populate(const std::vector<std::string>& entries) const {
  for (const auto& entry : entries) {
    if (!entry.empty() && entry.back() == '/') {
      std::filesystem::create_directories(Path() / entry);
    } else {
      WriteFile(Path() / entry, "content");
    }
  }
}

std::string TestWinePrefix::Expand(std::string text) const {
  const std::string marker = "{prefix}";
  if (const auto at = text.find(marker); at != std::string::npos) {
    text.replace(at, marker.size(), Path().string());
  }
  return text;
}

void TestWinePrefix::AddDrive(char letter, const std::filesystem::path& target) const {
  std::filesystem::create_directory_symlink(target,
                                            Path() / "dosdevices" / (std::string(1, letter) + ":"));
}

std::set<std::string> TestWinePrefix::Tree() const {
  std::set<std::string> entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(Path())) {
    std::string relative = entry.path().lexically_relative(Path()).generic_string();
    if (entry.is_directory() && !entry.is_symlink()) {
      relative += '/';
    }
    entries.insert(relative);
  }
  return entries;
}

} // namespace quillet::test
