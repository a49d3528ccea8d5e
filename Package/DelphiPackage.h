// What the installer and the packer read of a Delphi package project (.dpk): its name, the
// suffix and description its compiler directives give the .bpl, whether it is a design-time or
// run-time package, and the packages its "requires" clause names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet {

struct DelphiPackageSource {
  std::string name;              // after "package", as written (dotted names kept)
  std::string libSuffix;         // {$LIBSUFFIX 'x'}; empty without one
  bool autoSuffix = false;       // {$LIBSUFFIX AUTO}: the compiler's package version
  std::string description;       // {$DESCRIPTION 'x'}; empty without one
  bool designOnly = false;       // {$DESIGNONLY}
  bool runOnly = false;          // {$RUNONLY}
  std::vector<std::string> required; // the "requires" clause, in order
  std::vector<std::string> contains; // the units of the "contains" clause, by name, in order
};

// Reads a package project's text (ASCII, ANSI or UTF-8 with or without a byte order mark).
// Comments ({ }, (* *), //) are passed over except compiler directives ({$ }), and names compare
// ignoring ASCII case. Nullopt when the text does not begin, after comments and directives, with
// "package NAME;".
std::optional<DelphiPackageSource> ParseDelphiPackage(std::string_view text);

// The package version that {$LIBSUFFIX AUTO} gives for an IDE whose BDS version's first number is
// `bdsMajor` ("290" for 23), empty for versions that predate it (before 22, RAD Studio 11).
std::string AutoLibSuffix(std::uint32_t bdsMajor);

// The file names the compiler writes for a package: NAME + suffix + ".bpl", NAME + ".dcp".
std::string BplFileName(const DelphiPackageSource& package, std::uint32_t bdsMajor);
std::string DcpFileName(const DelphiPackageSource& package);

} // namespace quillet
