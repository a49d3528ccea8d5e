// Reading finished packages with the installer's own reader (PackageFile), and what the list and
// the test reports both show and judge: flags, entry paths, names the installer would refuse and
// folders that may lead outside the folder the user confirms.
#include "Packer/PackageReport.h"

#include <algorithm>
#include <cstdio>

#include "Common/Text.h"
#include "Package/Contract.h"
#include "Package/EntryCheck.h"
#include "Package/EntryContent.h"
#include "Package/RecordCheck.h"
#include "Package/SignedImage.h"
#include "Packer/IdeFamilies.h"
#include "Packer/Manifest.h"
#include "Packer/PackageTime.h"
#include "Packer/PackerError.h"
#include "Packer/TemplateCheck.h"
#include "Platform/FileMapping.h"
#include "Platform/Text.h"

namespace quillet::packer {

namespace {

std::string OpenFailure(const std::string& path, platform::MappedFile::Status status) {
  std::error_code error;
  switch (status) {
  case platform::MappedFile::Status::Empty:
    return path + ": empty file, holds no package";
  case platform::MappedFile::Status::TooLarge:
    return path + ": file of 4 GiB or more, cannot hold a package";
  case platform::MappedFile::Status::CannotMap:
    return path + ": cannot map the file";
  default:
    if (!std::filesystem::exists(path, error)) {
      return path + ": no such file";
    }
    if (std::filesystem::is_directory(path, error)) {
      return path + ": is a folder, not a package";
    }
    return path + ": cannot open the file";
  }
}

} // namespace

// A text of the package for one line of a report: its stored bytes, with control characters
// shown as "?" (ShownText).
std::string Shown(std::string_view stored) {
  return ShownText(stored, TextShape::Line, false);
}

std::vector<std::string> PlacementWarnings(const PackageFile& package, std::uint32_t codePage) {
  std::vector<std::string> lines;
  std::size_t index = 0;
  for (const PackageEntry& entry : package.Entries()) {
    const std::string concern =
        FolderTemplateConcern(platform::CodePageToText(codePage, entry.FolderTemplate()));
    if (entry.HasFlag(ENTRY_INSTALL) && !concern.empty()) {
      lines.push_back("entry " + std::to_string(index) + " (" + Shown(EntryPath(entry)) +
                      "): its folder " + concern +
                      ", so it may install outside the folder the user confirms");
    }
    ++index;
  }
  return lines;
}

PackageFile::PackageFile(const std::string& path) : path_(path) {
  const auto status = image_.Open(path, MAX_PACKAGE_FILE_SIZE);
  if (status != platform::MappedFile::Status::Ok) {
    throw EPackerError(OpenFailure(path, status));
  }
  // A signed installer's package ends where its certificate table begins.
  const std::uint64_t end = PackageEnd(image_.Data(), image_.Size());
  if (!ValidatePackage(image_.Data(), end, layout_)) {
    const bool trailerSigned =
        end >= trailer_field::SIZE &&
        ReadU32LE(image_.Data() + end - trailer_field::SIZE) == PACKAGE_SIGNATURE;
    throw EPackerError(trailerSigned
                           ? path + ": holds a damaged package: its trailer does not lead to a "
                                    "valid header and first entry"
                           : path + ": holds no package (no package trailer at the end of the "
                                    "file)");
  }
  settings_ = ReadPackageSettings(layout_);
}

std::uint32_t PackageFile::CodePage() const {
  return settings_.codePageRecorded ? settings_.codePage : DEFAULT_CODE_PAGE;
}

std::vector<std::string> PackageFile::Problems() const {
  std::vector<std::string> problems;
  const std::uint32_t count = layout_.HeaderEntryCount();
  if (count != Entries().size()) {
    problems.push_back("the header counts " + std::to_string(count) + " entries, but " +
                       std::to_string(Entries().size()) + " can be reached");
  }
  std::uint32_t end = layout_.firstEntry;
  if (!Entries().empty()) {
    const PackageEntry& last = Entries().back();
    end = last.Offset() + static_cast<std::uint32_t>(entry_field::SIZE) + last.StoredSize();
  }
  if (CheckPackageRecords(layout_) == RecordCheck::Mismatch) {
    problems.push_back("the header or the records do not match their checksum in package.crc: "
                       "the package was damaged or changed after it was built");
  }
  if (end != layout_.trailer) {
    problems.push_back("the entries end at offset " + std::to_string(end) +
                       " but the trailer begins at " + std::to_string(layout_.trailer) +
                       ": the bytes between cannot be reached");
  }
  return problems;
}

std::string FlagsText(std::uint32_t flags) {
  std::string text;
  text += (flags & 0xFF & ENTRY_INSTALL) != 0 ? 'I' : '-';
  text += (flags & 0xFF & ENTRY_PREPEND_PATCH) != 0 ? 'P' : '-';
  const std::uint32_t other = flags & ~(ENTRY_INSTALL | ENTRY_PREPEND_PATCH);
  if (other != 0) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "+%X", static_cast<unsigned>(other));
    text += hex;
  }
  return text;
}

} // namespace quillet::packer
