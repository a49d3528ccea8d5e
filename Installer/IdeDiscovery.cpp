#include "Installer/IdeDiscovery.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Common/Exception.h"
#include "Common/Text.h"
#include "Installer/Folders.h"
#include "Package/Contract.h"
#include "Package/InstallRecord.h"
#include "Package/SettingsTexts.h"
#include "Platform/Ascii.h"
#include "Platform/Registry.h"
#include "Platform/Shell.h"
#include "Platform/UserRegistry.h"

namespace quillet {

namespace {

constexpr std::string_view ROOT_DIR_VALUE = "RootDir";
constexpr std::string_view DPL_OUTPUT_VALUE = "Package DPL Output";
constexpr std::string_view DCP_OUTPUT_VALUE = "Package DCP Output";
// The C++ headers' folder, beside the two above in the library key of BDS.
constexpr std::string_view HPP_OUTPUT_VALUE = "HPP Output Directory";

// RAD Studio 2007 (5.0) keeps a shared documents folder; XE6 (14.0) moved it to another name.
constexpr std::uint32_t SHARED_FOLDER_SINCE = 5;
constexpr std::uint32_t STUDIO_FOLDER_SINCE = 14;
// The key below a version's key where the IDE keeps the user's own values of its variables.
constexpr std::string_view ENVIRONMENT_VARIABLES_KEY = "Environment Variables";

// Text up to the first NUL byte, as the registry's C strings end there.
std::string_view UpToNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

// Reads an existing RootDir value as text, in the registry's own steps. Its size is asked first:
// a size of 0, or one that cannot be queried, gives the empty text whatever the type. Otherwise
// the data is read in that size, which fails when the value vanished or grew meanwhile, and must
// then be REG_SZ or REG_EXPAND_SZ; it is taken literally (no expansion) up to its first NUL.
std::string ReadRootDir(const platform::RegistryKey& key) {
  const auto size = key.QueryValueSize(ROOT_DIR_VALUE);
  if (!size || *size == 0) {
    return {};
  }
  const auto value = key.ReadValue(ROOT_DIR_VALUE, *size);
  if (!value) {
    throw ERegistryException("Failed to get data for '" + std::string(ROOT_DIR_VALUE) + "'");
  }
  if (value->type != platform::REG_SZ && value->type != platform::REG_EXPAND_SZ) {
    throw ERegistryException("Invalid data type for '" + std::string(ROOT_DIR_VALUE) + "'");
  }
  return std::string(UpToNul(value->data));
}

// Replaces every "$(NAME)" of an IDE setting that names one of the folders the installer knows;
// nullopt when another macro is left, whose value only the IDE knows.
std::optional<std::string> ExpandIdeMacros(std::string_view text,
                                           const IdeInstallation& installation,
                                           std::string_view shared, std::string_view platformName) {
  const std::string root = WithoutSeparator(installation.Root());
  const std::string common = WithoutSeparator(std::string(shared));
  const std::pair<std::string_view, std::string_view> macros[] = {
      {"BDS", root},
      {"DELPHI", root},
      {"BCB", root},
      {"BDSCOMMONDIR", common},
      {"Platform", platformName},
  };
  std::string expanded;
  while (!text.empty()) {
    const std::size_t open = text.find("$(");
    expanded.append(text.substr(0, open));
    if (open == std::string_view::npos) {
      break;
    }
    const std::size_t close = text.find(')', open);
    if (close == std::string_view::npos) {
      return std::nullopt;
    }
    const std::string_view name = text.substr(open + 2, close - open - 2);
    const auto known = std::find_if(std::begin(macros), std::end(macros), [&](const auto& macro) {
      return platform::EqualIgnoringAsciiCase(macro.first, name);
    });
    if (known == std::end(macros) || known->second.empty()) {
      return std::nullopt;
    }
    expanded.append(known->second);
    text.remove_prefix(close + 1);
  }
  return expanded;
}

// The IDE's default folders: "Projects\Bpl" under the root of Delphi and C++Builder up to 7 and 6;
// "Bpl" and "Dcp" in the shared folder of BDS (with the platform's name below them from 9.0 for
// platforms other than Win32).
OutputFolders DefaultOutput(const IdeInstallation& installation, std::string_view shared,
                            std::string_view platformName) {
  OutputFolders folders;
  if (installation.PredatesBds() || shared.empty()) {
    folders.bpl = FolderWithSeparator(installation.Root()) + "Projects\\Bpl\\";
    folders.dcp = folders.bpl;
    folders.hpp = folders.bpl;
    return folders;
  }
  const bool win32 = platform::EqualIgnoringAsciiCase(platformName, DEFAULT_LIBRARY_PLATFORM);
  const std::string below = win32 || !installation.HasUnitScopes()
                                ? std::string("\\")
                                : "\\" + std::string(platformName) + "\\";
  const std::string base = FolderWithSeparator(shared);
  folders.bpl = base + "Bpl" + below;
  folders.dcp = base + "Dcp" + below;
  folders.hpp = base + "hpp" + below;
  return folders;
}

} // namespace

void DiscoverIdes(std::vector<IdeInstallation>& target, std::string_view basePath,
                  std::string_view bounds) {
  // Keys are opened for reading only: a user without write rights on HKEY_LOCAL_MACHINE must still
  // find the installed IDEs.
  platform::RegistryAccessor registry;
  const std::string_view baseKey = IdeRegistryKey(basePath);

  std::vector<std::string> names;
  {
    const auto base = registry.OpenLocalMachineKey(baseKey);
    if (!base) {
      return;
    }
    if (const auto subkeys = base->SubkeyNames()) {
      for (const std::string& name : *subkeys) {
        names.emplace_back(UpToNul(name));
      }
    }
  } // the base key is closed before the subkeys are opened

  const std::size_t count = names.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (!VersionWithin(names[i], bounds)) {
      continue; // a version the package does not serve: its key is not even opened
    }
    // The base path ends with "\": the subkey's name follows it directly.
    const std::string path = std::string(baseKey) + names[i];
    const auto subkey = registry.OpenLocalMachineKey(path);
    if (!subkey) {
      continue;
    }
    if (!subkey->HasValue(ROOT_DIR_VALUE)) {
      continue; // a version key without RootDir, e.g. left over by an uninstalled version
    }
    target.emplace_back(basePath, names[i], ReadRootDir(*subkey));
  }
}

std::string IdeSharedFolder(const IdeInstallation& installation) {
  const std::uint32_t major = installation.Major();
  if (installation.PredatesBds() || major < SHARED_FOLDER_SINCE) {
    return installation.Root();
  }
  // The user's own setting in the IDE's environment variables, where it names a folder outright.
  const std::optional<std::string> own = platform::ReadUserText(
      installation.VersionKey() + "\\" + std::string(ENVIRONMENT_VARIABLES_KEY),
      MACRO_SHARED_DOCUMENTS);
  if (own && !TrimBlanks(*own).empty() && own->find("$(") == std::string::npos) {
    return FolderWithSeparator(*own);
  }
  const char* family = major >= STUDIO_FOLDER_SINCE ? "\\Embarcadero\\Studio\\" : "\\RAD Studio\\";
  return platform::PublicDocumentsFolder() + family + installation.Version() + "\\";
}

OutputFolders OutputFor(const IdeInstallation& installation, std::string_view shared,
                        std::string_view platformName, std::string_view turnFolder) {
  OutputFolders folders = DefaultOutput(installation, shared, platformName);
  const std::string defaultBpl = folders.bpl;
  const std::string key = installation.LibraryKey(platformName);
  auto setting = [&](std::string_view value, std::string& folder) {
    const std::optional<std::string> text = platform::ReadUserText(key, value);
    if (text && !TrimBlanks(*text).empty()) {
      if (std::optional<std::string> expanded =
              ExpandIdeMacros(TrimBlanks(*text), installation, shared, platformName)) {
        folder = FolderWithSeparator(*expanded);
      }
    }
  };
  setting(DPL_OUTPUT_VALUE, folders.bpl);
  setting(DCP_OUTPUT_VALUE, folders.dcp);
  setting(HPP_OUTPUT_VALUE, folders.hpp);
  folders.bplIsDefault = PathKey(folders.bpl) == PathKey(defaultBpl);
  // Compiled units stay with the package, one folder per IDE version and platform, so that the
  // turns of several IDEs into one folder do not mix them.
  folders.units = FolderWithSeparator(turnFolder) + "Dcu\\" + installation.Version() + "\\" +
                  std::string(platformName) + "\\";
  return folders;
}

std::vector<std::string> PackageOutputFolders(const IdeInstallation& installation,
                                              std::string_view shared) {
  std::vector<std::string> folders;
  for (const std::string_view platformName :
       {DEFAULT_LIBRARY_PLATFORM, std::string_view("Win64")}) {
    if (installation.PredatesBds() && platformName != DEFAULT_LIBRARY_PLATFORM) {
      continue;
    }
    const OutputFolders now = OutputFor(installation, shared, platformName, {});
    const OutputFolders standard = DefaultOutput(installation, shared, platformName);
    for (const std::string* folder :
         {&now.bpl, &now.dcp, &now.hpp, &standard.bpl, &standard.dcp, &standard.hpp}) {
      if (!folder->empty() &&
          std::none_of(folders.begin(), folders.end(),
                       [&](const std::string& f) { return PathKey(f) == PathKey(*folder); })) {
        folders.push_back(FolderWithSeparator(*folder));
      }
    }
  }
  return folders;
}

bool ChoiceMatches(const IdeChoice& choice, const IdeInstallation& installation) {
  for (std::size_t i = 0; i < choice.paths.paths.size(); ++i) {
    if (platform::EqualIgnoringAsciiCase(IdeRegistryKey(choice.paths.paths[i]),
                                         IdeRegistryKey(installation.BasePath())) &&
        VersionWithin(installation.Version(), choice.paths.BoundsOf(i))) {
      return true;
    }
  }
  return false;
}

bool IdeChosen(const std::vector<IdeChoice>& choices, const IdeInstallation& installation) {
  return choices.empty() ||
         std::any_of(choices.begin(), choices.end(),
                     [&](const IdeChoice& choice) { return ChoiceMatches(choice, installation); });
}

} // namespace quillet
