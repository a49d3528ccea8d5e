#include "Installer/IdeDiscovery.h"

#include <string>

#include "Common/Exception.h"
#include "Common/Text.h"
#include "Installer/Folders.h"
#include "Package/Contract.h"
#include "Platform/Registry.h"
#include "Platform/Shell.h"
#include "Platform/UserRegistry.h"

namespace quillet {

namespace {

constexpr std::string_view ROOT_DIR_VALUE = "RootDir";

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

} // namespace quillet
