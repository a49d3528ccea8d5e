// What the installer and the packer must agree on beyond the records themselves: the names of the
// entries the installer reads by name, the macro syntax of templates, the rule for entries that
// ask for the patch text, and the download address field of the installer's program file. Both
// programs take these from here, so that a change of the contract is a change in one place.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "Package/EntryContent.h"
#include "Package/PackageFormat.h"

namespace quillet {

// Entries read by name (in any letter case, the first in package order counts).
inline constexpr std::string_view WELCOME_ENTRY_NAME = "welcome.txt"; // shown before the turns
inline constexpr std::string_view PATCH_ENTRY_NAME = "patchinfo.txt"; // the patch text
inline constexpr std::string_view README_ENTRY_NAME = "readme.html";  // opened after the turns
inline constexpr std::string_view IDES_ENTRY_NAME = "ides.txt";       // the IDE registry keys
inline constexpr std::string_view RECORD_CHECK_NAME = "package.crc";  // the records' checksum
// Read by name only when not installable, so that a package's own file of that name stays a file.
inline constexpr std::string_view LIBRARY_ENTRY_NAME = "librarypaths.txt";   // IDE library paths
inline constexpr std::string_view OPEN_README_ENTRY_NAME = "openreadme.txt"; // the readme to open
inline constexpr std::string_view CODE_PAGE_ENTRY_NAME = "codepage.txt";     // the names' code page
inline constexpr std::string_view IDENTITY_ENTRY_NAME = "identity.txt";      // name and version
inline constexpr std::string_view PACKAGES_ENTRY_NAME = "packages.txt";      // packages to build

// Templates: "%NAME%" is a macro, "%%" a percent sign. Names compare under SameTextLocale.
inline constexpr char MACRO_MARK = '%';
inline constexpr std::string_view MACRO_IDE_ROOT = "Delphi";
inline constexpr std::string_view MACRO_PACKAGE_ROOT = "zel_root";
// The IDE's own name for the folder its version shares with every user for third-party files.
inline constexpr std::string_view MACRO_SHARED_DOCUMENTS = "BDSCOMMONDIR";

enum class Macro {
  IdeRoot,     // %Delphi%: the root folder of the installation whose turn it is
  PackageRoot, // %zel_root%: the turn's target folder
  IdeShared,   // %BDSCOMMONDIR%: the installation's shared documents folder (see Installer)
  Unknown,     // any other name: stands for nothing
};

Macro MacroNamed(std::string_view name);

// The text with every "%" doubled, so that a template takes it literally.
std::string EscapeMacroMarks(std::string_view text);

// One piece of a template, in order.
struct TemplatePiece {
  enum class Kind {
    Text,     // literal bytes
    Percent,  // "%%"
    Macro,    // "%NAME%" with a name that is not empty; `text` is the name
    Unclosed, // a "%" that no other closes: it and everything after it, which expansion drops
  };
  Kind kind;
  std::string_view text;
  std::size_t offset; // where the piece begins in the template (its "%" for the last three)
};

// Calls `visit(const TemplatePiece&)` for each piece. The scan is byte by byte, also under a
// double-byte code page: "%" is never a second byte there.
template <typename Visit> void ScanTemplate(std::string_view text, Visit&& visit) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find(MACRO_MARK, at);
    if (open != at) {
      const std::size_t end = open == std::string_view::npos ? text.size() : open;
      visit(TemplatePiece{TemplatePiece::Kind::Text, text.substr(at, end - at), at});
      at = end;
      continue;
    }
    const std::size_t close = text.find(MACRO_MARK, open + 1);
    if (close == std::string_view::npos) {
      visit(TemplatePiece{TemplatePiece::Kind::Unclosed, text.substr(open), open});
      return;
    }
    const std::string_view name = text.substr(open + 1, close - open - 1);
    visit(TemplatePiece{name.empty() ? TemplatePiece::Kind::Percent : TemplatePiece::Kind::Macro,
                        name, open});
    at = close + 1;
  }
}

// Whether an entry's stored file name names a file below its folder: no ".." component, no
// separator or drive ("X:") at its start (so no UNC path either). %Delphi% and %zel_root% keep
// their meaning in a name (their folders are the IDE's root and the confirmed folder, both places
// the user knows); what follows them is judged as a name of its own. The name is UTF-8, converted
// from the package's code page, so that no second byte of a double-byte character is taken for a
// separator.
bool NameStaysInFolder(std::string_view name);

// Why an entry's folder template may install outside both the confirmed folder and the IDE's
// root: it does not start with %zel_root% or %Delphi%, or it climbs with "..". Empty when neither.
// Such folders are legitimate (an absolute folder, "%Delphi%..\Shared"), but the user and the
// author are told.
// The template is UTF-8, as for NameStaysInFolder.
std::string FolderTemplateConcern(std::string_view folderTemplate);

// An installable entry that asks for the patch text cannot be installed right when that text did
// not come out whole: it fails with the patch text's status. nullopt when the rule does not apply.
std::optional<EntryStatus> PatchTextFailure(const PackageEntry& entry, EntryStatus patchStatus);

// The download address field of the installer's program file: the marker, then
// DOWNLOAD_ADDRESS_CAPACITY + 1 bytes holding the address, NUL-terminated and NUL-filled. The
// installer reads it for its absent-package message; `quillet-pack attach --download-url` writes
// it.
inline constexpr std::string_view DOWNLOAD_ADDRESS_MARKER = "<QuilletDownloadAddress>";
inline constexpr std::size_t DOWNLOAD_ADDRESS_CAPACITY = 255; // bytes, the NUL not counted
inline constexpr std::size_t DOWNLOAD_FIELD_SIZE = DOWNLOAD_ADDRESS_CAPACITY + 1;
// What the field holds until an author writes another address.
inline constexpr std::string_view DOWNLOAD_ADDRESS = "https://quillet.dev/download";

// Whether an address may stand in the field: not empty, within the capacity, no control
// characters.
bool IsDownloadAddress(std::string_view address);

// Whether the DOWNLOAD_FIELD_SIZE bytes after a marker are a field: an address without control
// characters, then NUL to the end. A copy of the marker's text elsewhere is followed by other data.
bool IsDownloadField(std::string_view bytes);

// Why the installer would not create an installed entry, for a message; empty when it would. Its
// name leads out of its folder (NameStaysInFolder), or a component of its target, the folder
// template joined to the name as the installer joins them, is a name Windows cannot hold
// (HoldableName): "'CON' is a device name that Windows reserves". Both are the stored texts
// (macros, "%%") in UTF-8. A component is judged where the template's text decides it: the one
// that a macro's value ends is not, nor what an unclosed "%" drops.
std::string EntryNameProblem(std::string_view folderTemplate, std::string_view name);

} // namespace quillet
