// The one list of the IDEs' own packages, and the name prefixes of other libraries' packages.
// Sources are in docs/packer.md (Required packages).
#include "Packer/IdePackages.h"

#include <algorithm>
#include <array>
#include <utility>

#include "Platform/Ascii.h"

namespace quillet::packer {

namespace {

// Packages that Delphi 7 to RAD Studio 12 install, by name without the version suffix of their
// .bpl (the .dcp that a "requires" clause finds carries none).
constexpr std::array IDE_PACKAGES = {
    // Run-time library, VCL and its parts.
    "rtl",
    "vcl",
    "vclx",
    "vclimg",
    "vcljpg",
    "vclactnband",
    "vclie",
    "vclsmp",
    "vcltouch",
    "vclribbon",
    "vclwinx",
    "vcldb",
    "vcldbx",
    "vcldsnap",
    "vclfiredac",
    // Databases, DataSnap, XML, SOAP, Internet, cloud and LiveBindings.
    "dbrtl",
    "bdertl",
    "adortl",
    "dsnap",
    "dsnapcon",
    "dbexpress",
    "dbxcds",
    "ibxpress",
    "inet",
    "inetdb",
    "inetdbbde",
    "inetdbxpress",
    "websnap",
    "webdsnap",
    "soaprtl",
    "soapmidas",
    "soapserver",
    "xmlrtl",
    "emsclient",
    "emsclientfiredac",
    "emsserverapi",
    "emsedge",
    "emshosting",
    "tethering",
    "cloudservice",
    "azurecloud",
    "appanalytics",
    "customiptransport",
    "restcomponents",
    "restbackendcomponents",
    "backendcomponents",
    "bindengine",
    "bindgraph",
    "box2d",
    "bcbie",
    "bcbsmp",
    "bcbofficexp",
    "bcboffice2k",
    // FireMonkey.
    "fmx",
    "fmxase",
    "fmxdae",
    "fmxobj",
    "fmxfiredac",
    "fmxtee",
    // Indy 9 as Delphi 6 and 7 ship it (Indy 10's names are among the prefixes).
    "indy",
    // Design-time packages.
    "designide",
    "dclstd",
    "dcldb",
    "dclbde",
    "dclado",
    "dclact",
    "dclnet",
    "dclsmp",
    "dclie",
    "dclmid",
    "dcldbxcds",
    "dclwebsnap",
    "dclsoap",
    "dclib",
    "dclibx",
    "dclribbon",
    "dcltouch",
    "dclwinx",
    "dclfmxstd",
    "dclfmxase",
    "dcloffice2k",
    "dclofficexp",
    "dclsmpedit",
    "dclbcbsmp",
    "dclmlwiz",
    "dclemacsedit",
    "dcldsnap",
    "dcldsnapcon",
    "dclcloudservice",
    "dclrestcomponents",
    "dclrestbackendcomponents",
    "dclemsserver",
    "dcltethering",
};

// Families with many members: FireDAC's drivers, Indy 10's parts, DataSnap's transports, the
// dbExpress drivers, LiveBindings, and their design-time packages.
constexpr std::array IDE_PACKAGE_PREFIXES = {
    "firedac",     "dclfiredac", "indy",   "dclindy",  "datasnap",
    "dcldatasnap", "dbx",        "dcldbx", "bindcomp", "dclbindcomp",
};

// Other libraries by the prefix of their packages' names.
constexpr std::pair<const char*, const char*> LIBRARY_PREFIXES[] = {
    {"Jcl", "the JEDI Code Library (JCL)"},
    {"Jv", "the JEDI Visual Component Library (JVCL), which needs the JCL too"},
    {"Tee", "TeeChart (Steema), of which some IDE versions ship a Standard edition"},
    {"dx", "DevExpress VCL"},
    {"cx", "DevExpress VCL"},
    {"UniDAC", "Devart UniDAC"},
    {"ODAC", "Devart ODAC"},
    {"SDAC", "Devart SDAC"},
    {"MyDAC", "Devart MyDAC"},
    {"PgDAC", "Devart PgDAC"},
    {"OverbyteIcs", "ICS (Overbyte Internet Component Suite)"},
    {"SMImport", "Scalabium SMImport"},
    {"SMExport", "Scalabium SMExport"},
    {"DOA", "Direct Oracle Access (Allround Automations)"},
    {"frx", "FastReport VCL"},
    {"VirtualTrees", "Virtual TreeView"},
    {"SynEdit", "SynEdit"},
    {"GR32", "Graphics32"},
};

bool StartsIgnoringCase(std::string_view name, std::string_view prefix) {
  return name.size() >= prefix.size() &&
         platform::EqualIgnoringAsciiCase(name.substr(0, prefix.size()), prefix);
}

} // namespace

bool IsIdePackage(std::string_view name) {
  return std::ranges::any_of(IDE_PACKAGES,
                             [name](std::string_view known) {
                               return platform::EqualIgnoringAsciiCase(name, known);
                             }) ||
         std::ranges::any_of(IDE_PACKAGE_PREFIXES, [name](std::string_view prefix) {
           return StartsIgnoringCase(name, prefix);
         });
}

std::string_view LibraryOfPackage(std::string_view name) {
  for (const auto& [prefix, library] : LIBRARY_PREFIXES) {
    if (StartsIgnoringCase(name, prefix)) {
      return library;
    }
  }
  return {};
}

} // namespace quillet::packer
