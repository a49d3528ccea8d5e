#include "Installer/IdeDiscovery.h"

#include <string>

#include "Common/Exception.h"
#include "Platform/Registry.h"

namespace quillet {

namespace {

constexpr std::string_view ROOT_DIR_VALUE = "RootDir";

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

void DiscoverIdeRoots(t_StringList& target, std::string_view basePath) {
  std::vector<IdeInstallation> found;
  DiscoverIdes(found, basePath);
  for (const IdeInstallation& installation : found) {
    target.Add(installation.root);
  }
}

void DiscoverIdes(std::vector<IdeInstallation>& target, std::string_view basePath,
                  std::string_view bounds) {
  // Keys are opened for reading only: a user without write rights on HKEY_LOCAL_MACHINE must still
  // find the installed IDEs.
  platform::RegistryAccessor registry;
  // A leading "\" marks the path as absolute; the registry takes it without.
  const std::string_view relativePath = basePath.starts_with('\\') ? basePath.substr(1) : basePath;

  t_StringList names;
  {
    const auto baseKey = registry.OpenLocalMachineKey(relativePath);
    if (!baseKey) {
      return;
    }
    if (const auto subkeys = baseKey->SubkeyNames()) {
      for (const std::string& name : *subkeys) {
        names.Add(UpToNul(name));
      }
    }
  } // the base key is closed before the subkeys are opened

  const std::size_t count = names.Count();
  for (std::size_t i = 0; i < count; ++i) {
    if (!VersionWithin(names[i], bounds)) {
      continue; // a version the package does not serve: its key is not even opened
    }
    // The base path ends with "\": the subkey's name follows it directly.
    const std::string path = std::string(relativePath) + names[i];
    const auto subkey = registry.OpenLocalMachineKey(path);
    if (!subkey) {
      continue;
    }
    if (!subkey->HasValue(ROOT_DIR_VALUE)) {
      continue; // a version key without RootDir, e.g. left over by an uninstalled version
    }
    target.push_back(IdeInstallation{ReadRootDir(*subkey), std::string(basePath), names[i]});
  }
}

} // namespace quillet
