// Planning a package: from a manifest to the entries in package order, their stored names and
// folder templates in the code page, and where their content comes from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Package/PackageWriter.h"
#include "Packer/Manifest.h"

namespace quillet::packer {

struct PackagePlan {
  std::string defaultFolder;
  std::uint32_t codePage = DEFAULT_CODE_PAGE; // of the stored names and folders
  std::vector<EntrySource> entries;           // in package order
  std::vector<std::string> origins;           // where each entry comes from, for messages
  std::uint64_t totalBytes = 0;               // content bytes of all entries
  std::vector<std::string> warnings; // "FILE:LINE: what", for traps that do not stop a build
};

// The installed entries' folder templates in package order of first use, with how many files go
// into each: the layout a build summary shows before the package ships, in UTF-8 read in the
// package's code page, control characters shown as "?" (ShownText).
std::vector<std::pair<std::string, std::size_t>> TargetFolders(const PackagePlan& plan);

// The folder template stored for a file `relativeFolder` ("/"-separated, empty for none) below
// an entry's `folder` template. The installer expands %zel_root% and %Delphi% with a final
// separator and also adds "\" after a template's final "%", which would put two separators in a
// row; a folder text ending in two separators is never created. So after a template that ends in
// a macro (found by the installer's scan: "%%" is a percent sign, not a macro) the subfolder
// follows directly ('%zel_root%' and 'sub' give '%zel_root%sub'), and a file in the macro's own
// folder gets the folder '%zel_root%.'. Any other template gets "\" between, unless it is empty
// or ends in "\", "/" or ":". The template is trimmed of blanks first, as the installer trims it;
// "%" in the subfolder is written "%%".
std::string JoinFolderTemplate(std::string_view folder, std::string_view relativeFolder);

// Text from the manifest or the file system (UTF-8) in a Windows code page. Throws EPackerError
// "WHERE: WHAT holds the character ..." for a character the code page cannot hold. Bytes that are
// no UTF-8 are kept as they are.
std::string ToCodePage(std::string_view utf8, std::uint32_t codePage, const std::string& where,
                       std::string_view what);

// Resolves the manifest: the welcome and patch texts first (never installed), then each
// [[entry]]'s files in manifest order. A file keeps its folder below the pattern's fixed part,
// joined to the entry's folder template by JoinFolderTemplate; "%" in file names is written "%%"
// so that the installer's macro expansion gives it back. The manifest's `readme` goes last.
// Throws EPackerError for a template the installer would get wrong, a missing source, a name or
// template longer than 255 bytes, a file of 4 GiB or more, two entries with one target, and a
// `readme` that no [[entry]] installs as readme.html.
PackagePlan PlanPackage(const Manifest& manifest);

} // namespace quillet::packer
