#include "Package/IdeInstallation.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "Package/SettingsTexts.h"
#include "Platform/Ascii.h"

namespace quillet {

namespace {

// The first version number at which BDS keeps a library per platform (RAD Studio XE2).
constexpr std::uint32_t PER_PLATFORM_SINCE = 9;
// The first version number whose C++ personality keeps its paths under "C++\Paths" (RAD Studio
// 2009).
constexpr std::uint32_t CPP_PATHS_SINCE = 6;
// The first version that may have a 64-bit IDE, which keeps its design-time packages apart (RAD
// Studio 12.3).
constexpr std::uint32_t X64_IDE_SINCE = 23;
// The first version whose compiler takes the unit output folder as "-NU" (RAD Studio XE3).
constexpr std::uint32_t NU_SWITCH_SINCE = 10;

} // namespace

IdeInstallation::IdeInstallation(std::string_view basePath, std::string_view version,
                                 std::string root)
    : root_(std::move(root)), basePath_(basePath), version_(version),
      numbers_(ParseVersion(version).value_or(std::vector<std::uint32_t>())),
      family_(IdeFamilyOf(basePath)),
      versionKey_(std::string(IdeRegistryKey(basePath)) + version_) {}

std::string IdeInstallation::LibraryKey(std::string_view platformName) const {
  std::string key = versionKey_ + "\\Library";
  if (!PredatesBds() && Major() >= PER_PLATFORM_SINCE) {
    key.append("\\").append(platformName);
  }
  return key;
}

bool IdeInstallation::HasX64Ide() const {
  return !PredatesBds() && Major() >= X64_IDE_SINCE;
}

std::string IdeInstallation::KnownPackagesKey(bool x64) const {
  return versionKey_ + (x64 ? "\\Known Packages x64" : "\\Known Packages");
}

std::string IdeInstallation::DisabledPackagesKey(bool x64) const {
  return versionKey_ + (x64 ? "\\Disabled Packages x64" : "\\Disabled Packages");
}

std::string IdeInstallation::EnvironmentKey() const {
  return versionKey_ + "\\Environment Variables";
}

namespace {

// Whether `key` is `base` or `base` with one more key below it (a platform's name).
bool IsKeyOrPlatformKey(std::string_view key, const std::string& base) {
  if (key.size() < base.size() ||
      !platform::EqualIgnoringAsciiCase(key.substr(0, base.size()), base)) {
    return false;
  }
  const std::string_view rest = key.substr(base.size());
  return rest.empty() ||
         (rest.size() > 1 && rest[0] == '\\' && rest.find('\\', 1) == std::string_view::npos);
}

bool OneOf(std::string_view value, std::initializer_list<std::string_view> names) {
  return std::any_of(names.begin(), names.end(), [value](std::string_view name) {
    return platform::EqualIgnoringAsciiCase(value, name);
  });
}

} // namespace

bool IdeInstallation::OwnsListValue(std::string_view key, std::string_view value) const {
  if (IsKeyOrPlatformKey(key, versionKey_ + "\\Library")) {
    return OneOf(value, {"Search Path", "Browsing Path"});
  }
  if (IsKeyOrPlatformKey(key, versionKey_ + "\\C++\\Paths")) {
    return OneOf(value, {"LibraryPath", "BrowsingPath", "IncludePath"});
  }
  return platform::EqualIgnoringAsciiCase(key, EnvironmentKey()) && OneOf(value, {"PATH"});
}

bool IdeInstallation::OwnsPackageKey(std::string_view key) const {
  return platform::EqualIgnoringAsciiCase(key, KnownPackagesKey(false)) ||
         platform::EqualIgnoringAsciiCase(key, KnownPackagesKey(true));
}

std::string IdeInstallation::GlobalsKey() const {
  return PredatesBds() ? std::string() : versionKey_ + "\\Globals";
}

std::string IdeInstallation::CompilerPath(std::string_view platformName) const {
  const char* compiler = nullptr;
  if (platform::EqualIgnoringAsciiCase(platformName, DEFAULT_LIBRARY_PLATFORM)) {
    compiler = "dcc32.exe";
  } else if (platform::EqualIgnoringAsciiCase(platformName, "Win64") && !PredatesBds() &&
             Major() >= PER_PLATFORM_SINCE) {
    compiler = "dcc64.exe";
  }
  if (compiler == nullptr || root_.empty()) {
    return {};
  }
  std::string path = root_;
  if (path.back() != '\\' && path.back() != '/') {
    path += '\\';
  }
  return path + "bin\\" + compiler;
}

std::vector<std::string> IdeInstallation::IdePrograms() const {
  std::vector<std::string> programs;
  if (root_.empty()) {
    return programs;
  }
  std::string bin = root_;
  if (bin.back() != '\\' && bin.back() != '/') {
    bin += '\\';
  }
  bin += "bin\\";
  for (const char* name : {"bds.exe", "delphi32.exe", "bcb.exe"}) {
    programs.push_back(bin + name);
  }
  programs.push_back(bin.substr(0, bin.size() - 4) + "bin64\\bds.exe");
  return programs;
}

std::string_view IdeInstallation::UnitOutputSwitch() const {
  return !PredatesBds() && Major() >= NU_SWITCH_SINCE ? "-NU" : "-N";
}

bool IdeInstallation::HasUnitScopes() const {
  return !PredatesBds() && Major() >= PER_PLATFORM_SINCE;
}

std::vector<platform::UserListTarget> IdeInstallation::LibraryTargets(std::string_view platformName,
                                                                      LibraryList list) const {
  const bool search = list == LibraryList::Search;
  const bool win32 = platform::EqualIgnoringAsciiCase(platformName, DEFAULT_LIBRARY_PLATFORM);
  const std::string delphiValue = search ? "Search Path" : "Browsing Path";
  const std::string cppValue = search ? "LibraryPath" : "BrowsingPath";
  // The C++ include path lives with the C++ personality's paths alone.
  if (list == LibraryList::Include) {
    if (PredatesBds() || Major() < CPP_PATHS_SINCE) {
      return {};
    }
    if (Major() >= PER_PLATFORM_SINCE) {
      return {{versionKey_ + "\\C++\\Paths\\" + std::string(platformName), "IncludePath", false}};
    }
    if (!win32) {
      return {};
    }
    return {{versionKey_ + "\\C++\\Paths", "IncludePath", false}};
  }

  // Delphi 2 to 7 and C++Builder 1 to 6: one library, for Win32.
  if (PredatesBds()) {
    if (!win32) {
      return {};
    }
    return {{versionKey_ + "\\Library", delphiValue, true}};
  }

  // BDS, and a base path of the package's own, by the version's first number.
  if (Major() >= PER_PLATFORM_SINCE) {
    std::string platformKey = "\\";
    platformKey.append(platformName);
    return {{versionKey_ + "\\Library" + platformKey, delphiValue, true},
            {versionKey_ + "\\C++\\Paths" + platformKey, cppValue, false}};
  }
  if (!win32) {
    return {};
  }
  std::vector<platform::UserListTarget> targets = {{versionKey_ + "\\Library", delphiValue, true}};
  if (Major() >= CPP_PATHS_SINCE) {
    targets.push_back({versionKey_ + "\\C++\\Paths", cppValue, false});
  }
  return targets;
}

} // namespace quillet
