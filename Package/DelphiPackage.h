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
  std::string name;                       // after "package", as written (dotted names kept)
  std::string libSuffix;                  // {$LIBSUFFIX 'x'}; empty without one
  bool autoSuffix = false;                // {$LIBSUFFIX AUTO}: the compiler's package version
  std::string description;                // {$DESCRIPTION 'x'}; empty without one
  bool designOnly = false;                // {$DESIGNONLY}
  bool runOnly = false;                   // {$RUNONLY}
  std::vector<std::string> required;      // the "requires" clause, in order
  std::vector<std::string> contains;      // the units of the "contains" clause, by name, in order
  std::vector<std::string> containsFiles; // each unit's file after "in", or empty
  std::vector<std::string> resources;     // {$R x} and {$RESOURCE x} files, as written ("*.res")
  std::vector<std::string> includes;      // {$I x} and {$INCLUDE x} files, as written
};

// Reads a package project's text (ASCII, ANSI or UTF-8 with or without a byte order mark).
// Comments ({ }, (* *), //) are passed over except compiler directives ({$ }), and names compare
// ignoring ASCII case. Nullopt when the text does not begin, after comments and directives, with
// "package NAME;".
std::optional<DelphiPackageSource> ParseDelphiPackage(std::string_view text);

// The resource file a {$R} directive of the project `projectFile` names: "*" stands for the
// project's own name ("*.res" in "Foo.dpk" is "Foo.res"); without an extension it is ".res".
std::string ResourceFileName(std::string_view written, std::string_view projectFile);

// An order in which packages can be built: each after the packages of the list that its
// "requires" clause names, otherwise in the given order. `cycle` gets the names of a cycle (first
// name again at its end) when there is one; its packages then follow in the given order.
std::vector<std::size_t> OrderByRequires(const std::vector<DelphiPackageSource>& packages,
                                         std::vector<std::string>* cycle = nullptr);

// The package version that {$LIBSUFFIX AUTO} gives for an IDE whose BDS version's first number is
// `bdsMajor` ("290" for 23), empty for versions that predate it (before 21, RAD Studio 10.4).
std::string AutoLibSuffix(std::uint32_t bdsMajor);

// The file names the compiler writes for a package: NAME + suffix + ".bpl", NAME + ".dcp".
std::string BplFileName(const DelphiPackageSource& package, std::uint32_t bdsMajor);
std::string DcpFileName(const DelphiPackageSource& package);

} // namespace quillet
