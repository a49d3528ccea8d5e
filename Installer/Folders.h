// Folder texts and folder creation. Paths are Windows-style UTF-8 texts: "\" and ":" delimit,
// and so does "/", which Windows accepts too and which is the only separator on POSIX. No byte of
// a UTF-8 character is one of them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet {

// The folder trimmed of blanks, ending in a separator: empty stays empty; a text whose last byte
// is "/", ":" or "\" is kept; anything else gets "\" appended.
std::string FolderWithSeparator(std::string_view folder);
// The folder without its final separators ("\\" or "/"), as the compiler's switches take it.
std::string WithoutSeparator(std::string folder);

// The prefix of the path through its last delimiter ("\", "/" or ":"), that delimiter included;
// empty when there is none.
std::string FolderOfPath(std::string_view path);

// Whether the path lies in the folder (or is the folder), judged on the texts alone: both are
// split at their separators, "." and empty components dropped and ".." resolved, and the
// folder's components must begin the path's, compared under SameTextLocale. An empty folder is
// the current one.
bool PathIsInFolder(std::string_view path, std::string_view folder);

// The path as both builds hand it to the system: "." and empty components dropped and ".."
// resolved on the text, as Windows resolves them, below a root that stays ("\\server\share\",
// "C:\", "C:", "\"; a ".." at a root stays there, one of a relative path is kept). Nullopt when
// a component is a name Windows cannot hold as written (HoldableName, Common/WindowsNames.h: a
// control character, a final space or dot, a device name), and when the system cannot name a
// character of it (on Linux, one the locale's encoding lacks).
std::optional<std::string> SystemFormOfPath(std::string_view path);

// True when the path names an existing folder.
bool FolderExists(std::string_view path);

// Creates one folder.
bool CreateFolder(std::string_view path);

// Creates the folder and every missing folder above it, outermost first. True when the folder is
// taken to exist at the end. Each folder made is appended to `created` when it is given.
bool CreateFolderPath(std::string_view path, std::vector<std::string>* created = nullptr);

} // namespace quillet
