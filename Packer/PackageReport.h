// Reading finished packages with the installer's own reader: listing and testing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "Package/EntryCheck.h"
#include "Package/PackageFormat.h"
#include "Package/PackageSettings.h"
#include "Platform/FileMapping.h"

namespace quillet::packer {

// A package file mapped read-only and validated: a stand-alone package, or an installer with a
// package appended.
class PackageFile {
public:
  // Throws EPackerError naming the file when it cannot be read or holds no package.
  explicit PackageFile(const std::string& path);

  const std::string& Path() const { return path_; }
  const PackageLayout& Layout() const { return layout_; }
  // The package's settings, read as the installer reads them.
  const PackageSettings& Settings() const { return settings_; }
  // The entries the installer can reach by index, in package order.
  const std::vector<PackageEntry>& Entries() const { return settings_.entries; }
  // The code page the package records, else the manifest's default.
  std::uint32_t CodePage() const;
  // What is odd about the package although it validates: a header entry count that differs from
  // the entries found, or bytes between the last reachable entry and the trailer.
  std::vector<std::string> Problems() const;

private:
  std::string path_;
  platform::MappedFile image_;
  PackageLayout layout_;
  PackageSettings settings_;
};

// "I" for an installed entry, "P" for one that gets the patch text, "-" for neither; other set
// bits follow in hexadecimal.
std::string FlagsText(std::uint32_t flags);

// A text of the package for one line of a report: its stored bytes, with control characters
// shown as "?" (ShownText).
std::string Shown(std::string_view stored);

// Installable entries whose folder may lead outside the folders the user knows, one line each;
// the folders judged in UTF-8, read in the code page, as the installer reads them.
std::vector<std::string> PlacementWarnings(const PackageFile& package, std::uint32_t codePage);

// PackageListing.cpp: writes the header line and one line per entry; problems go to `warnings`.
// Names and folders are shown in UTF-8, read in the package's code page.
void ListPackage(const PackageFile& package, std::ostream& out, std::ostream& warnings,
                 std::uint32_t codePage = 1252);

struct TestSummary {
  std::size_t tested = 0;
  std::size_t failed = 0;
  std::size_t problems = 0;
  bool Passed() const { return failed == 0 && problems == 0; }
};

// PackageTesting.cpp: checks every entry's checksum and decompresses it, writing nothing to disk; a
// line per entry and a summary go to `out`.
TestSummary TestPackage(const PackageFile& package, std::ostream& out);

} // namespace quillet::packer
