// The packages that the IDEs ship, which a package project may require without the package
// carrying them, and the libraries that other names show they belong to.
#pragma once

#include <string_view>

namespace quillet::packer {

// Whether `name` (a "requires" entry, compared ignoring ASCII case) is a run-time or design-time
// package that Delphi, C++Builder or RAD Studio installs with the IDE: rtl, vcl, designide,
// dclstd, the database, DataSnap, LiveBindings, FireMonkey and FireDAC packages, Indy, and so on.
bool IsIdePackage(std::string_view name);

// The library whose packages carry names like `name` ("JclVcl": "the JEDI Code Library (JCL)"),
// for the message that names a package the user must install first; empty when the name shows
// none.
std::string_view LibraryOfPackage(std::string_view name);

} // namespace quillet::packer
