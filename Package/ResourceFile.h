// The resource file (.res) that the IDE makes for a package project whose {$R *.res} names one
// that is not there: a VS_VERSIONINFO resource from the version information of the project's
// .dproj, or else the empty resource file, which is the 32-byte null entry that begins every .res.
// Pure code: the bytes are written little-endian, as the Win32 .res format has them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillet {

// The version information of a .dproj: VerInfo_MajorVer, _MinorVer, _Release, _Build,
// VerInfo_Locale (a Windows language identifier, 1033 by default) and the "Key=Value" texts of
// VerInfo_Keys, in their order (UTF-8).
struct VersionInfo {
  std::array<std::uint16_t, 4> version = {1, 0, 0, 0};
  std::uint16_t language = 1033;
  std::vector<std::pair<std::string, std::string>> strings;
};

// The version information of an MSBuild .dproj that includes it (VerInfo_IncludeVerInfo true),
// from the first value of each VerInfo_ property in the text (the IDE writes the base
// configuration's group first); "$(MSBuildProjectName)" in a text is `projectName`. Nullopt when
// the project includes none, or a number is not one.
std::optional<VersionInfo> ReadDprojVersionInfo(std::string_view dproj,
                                                std::string_view projectName);

// A .res file that holds only the null entry.
std::string EmptyResourceFile();

// A .res file with the null entry and one VS_VERSIONINFO resource (type RT_VERSION 16, name 1, in
// the info's language) of a DLL: VS_FIXEDFILEINFO with the version as file and product version, a
// StringFileInfo table "LLLL04E4" (the language and the ANSI code page 1252, as the IDE writes) of
// the strings, and a VarFileInfo "Translation" of the same pair.
std::string VersionResourceFile(const VersionInfo& info);

// One resource entry as read back from a .res file: its type and name (ordinals; 0xFFFFFFFF when
// given as a text), language and data.
struct ResourceEntry {
  std::uint32_t type = 0;
  std::uint32_t name = 0;
  std::uint16_t language = 0;
  std::string data;
};

// The entries of a .res file, the null one first; nullopt when a header or size runs past the end.
std::optional<std::vector<ResourceEntry>> ReadResourceFile(std::string_view bytes);

} // namespace quillet
