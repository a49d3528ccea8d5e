// Finds the root folders of the registered Delphi, C++Builder and RAD Studio installations.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Package/IdeInstallation.h"

namespace quillet {

// Appends every version subkey of the base path that has a RootDir value and lies within `bounds`
// (see VersionWithin), in the registry's order. Throws ERegistryException for a RootDir that is
// not text or cannot be read.
void DiscoverIdes(std::vector<IdeInstallation>& target, std::string_view basePath,
                  std::string_view bounds = {});

// The folder that the installation shares with every user for third-party files, with a final
// "\" (the value of %BDSCOMMONDIR%): for RAD Studio 2007 (BDS 5.0) to XE5 (12.0) "RAD
// Studio\VERSION", since XE6 (14.0) "Embarcadero\Studio\VERSION", below the public documents
// folder, as the IDE sets its $(BDSCOMMONDIR), unless the user set BDSCOMMONDIR to a folder in the
// IDE's environment variables (HKEY_CURRENT_USER\BASE\VERSION\Environment Variables; a value
// that names other variables, "$(...)", is not taken). Older versions have none: there it is the
// root folder, where Delphi and C++Builder up to 7 and 6 keep packages and projects.
std::string IdeSharedFolder(const IdeInstallation& installation);

// The folders where the IDE keeps built packages for a platform, and where the installer puts
// the compiled units of its own.
struct OutputFolders {
  std::string bpl;
  std::string dcp;
  std::string hpp;
  std::string units;
  bool bplIsDefault = false; // the IDE's own, which its setup put on PATH
};

// The output folders of a build for a platform: the IDE's settings where it has them (its library
// key's "Package DPL Output", "Package DCP Output" and "HPP Output Directory", with the macros
// the installer knows expanded), else its defaults; the units below `turnFolder`.
OutputFolders OutputFor(const IdeInstallation& installation, std::string_view shared,
                        std::string_view platformName, std::string_view turnFolder);

// The folders where the installation's IDE keeps built packages (.bpl, .dcp, .bpi, .lib, .hpp) for
// each platform it builds for, as its settings name them now and by default, full and ending in
// "\": what the install records of its package builds may name outside their own folders.
std::vector<std::string> PackageOutputFolders(const IdeInstallation& installation,
                                              std::string_view shared);

// One --ides choice as given ("bds>=23.0") and the base paths with bounds it stands for.
struct IdeChoice {
  std::string text;
  IdeBasePaths paths;
};

// Whether the installation is one the choice stands for.
bool ChoiceMatches(const IdeChoice& choice, const IdeInstallation& installation);
// Whether the installation gets a turn under --ides: always without the option.
bool IdeChosen(const std::vector<IdeChoice>& choices, const IdeInstallation& installation);

} // namespace quillet
