// The settings of a validated package, read once: its code page, the texts and lists of its
// control entries, its default folder and which entries there are and which are installed. The
// installer's run is a dialogue over them; the packer's list and test report them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Package/EntryContent.h"
#include "Package/PackageFormat.h"
#include "Package/PackageIdes.h"
#include "Package/SettingsTexts.h"

namespace quillet {

// The package's texts, in one encoding.
struct PackageTexts {
  std::string welcome;              // "welcome.txt", shown before the turns; empty without it
  std::string defaultFolder;        // the header's folder template, proposed in each turn
  IdeBasePaths ides;                // the base paths the installer reads (PackageIdeBasePaths)
  LibrarySettings library;          // empty without an intact, non-installable "librarypaths.txt"
  std::vector<PackageSet> packages; // of an intact, non-installable "packages.txt"; else none
  // The folder template and name ("%zel_root%Doc\guide.html") of the installed file to open at the
  // end, from "openreadme.txt"; nullopt when the installer opens the last readme.html it installed.
  std::optional<std::string> readmeTarget;
};

struct PackageSettings {
  // The code page of the package's names, folders and texts: the one "codepage.txt" records (an
  // intact, non-installable entry holding a number), else the system's ANSI code page.
  std::uint32_t codePage = 0;
  bool codePageRecorded = false;
  // The texts as the package stores them, in its code page (the packer shows these).
  PackageTexts stored;
  // The same texts in the program's own (CodePageToText from `codePage`). The version bounds and
  // the library's platform names stay as stored: they are read as ASCII, not shown.
  PackageTexts text;
  // The name and version of "identity.txt" (ASCII, the same in every code page); an empty name
  // without an intact, non-installable entry.
  PackageIdentity identity;
  // "patchinfo.txt" as stored, with how taking it went: it is file content in the package's code
  // page, into which the installer puts the folders converted back to that code page.
  EntryContent patch;
  // The entry table in index order: every entry a walk from the first one reaches.
  std::vector<PackageEntry> entries;
  // The entries a turn installs, in index order: those of `entries` flagged ENTRY_INSTALL whose
  // index is below the header's entry count. The count is a signed field, so one with the top bit
  // set reaches none, and an inflated count reaches no further than the table.
  std::vector<PackageEntry> toInstall;
};

// Reads every setting of a validated package. Texts are converted into the program's own as the
// program's texts are at the call. A missing or damaged control entry gives the setting a package
// without it has (ides.txt that fails its check: the fixed base paths, with source Damaged).
PackageSettings ReadPackageSettings(const PackageLayout& layout);

} // namespace quillet
