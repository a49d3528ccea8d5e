#include "Installer/ListAndCheck.h"

#include <string>

#include "Package/EntryCheck.h"
#include "Platform/Text.h"

namespace quillet {

namespace {

std::string RightAligned(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

} // namespace

void ShowPackageList(const PackageSettings& settings, Console& console) {
  // Names and folders in the program's own text, read in the package's code page.
  const auto text = [&settings](const std::string& stored) {
    return InLine(platform::CodePageToText(settings.codePage, stored));
  };
  console.WriteLine("\r\n" + std::string("Date") + std::string(15, ' ') + "  " +
                    RightAligned("Size", 10) + "  Folder, Name");
  for (const PackageEntry& entry : settings.toInstall) {
    console.WriteLine(FormatDayTime(entry.Date(), entry.Time()) + "  " +
                      RightAligned(std::to_string(entry.UnpackedSize()), 10) + "  " +
                      text(entry.FolderTemplate()) + ", " + text(entry.FileName()));
  }
  console.WriteLine(std::to_string(settings.toInstall.size()) + " entries to install, for " +
                    InLine(DescribeIdes(settings.text.ides)));
}

bool CheckPackageEntries(const PackageSettings& settings, Console& console) {
  std::size_t failed = 0;
  console.WriteLine("");
  for (const PackageEntry& entry : settings.entries) {
    const EntryCheck check = CheckEntry(entry, settings.patch.status, settings.codePage);
    const std::string path = InLine(platform::CodePageToText(settings.codePage, EntryPath(entry)));
    switch (check.verdict) {
    case EntryVerdict::Passed:
      continue;
    case EntryVerdict::BadName:
      console.WriteLine("Bad name    " + path + " (" + InLine(check.problem) + ")");
      break;
    case EntryVerdict::ChecksumFailure:
      console.WriteLine("CRC Error   " + path);
      break;
    case EntryVerdict::DataError:
      console.WriteLine("Data Error  " + path);
      break;
    }
    ++failed;
  }
  console.WriteLine(std::to_string(settings.entries.size()) + " entries checked, " +
                    std::to_string(settings.entries.size() - failed) + " OK, " +
                    std::to_string(failed) + " failed");
  return failed == 0;
}

} // namespace quillet
