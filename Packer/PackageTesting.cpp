// `quillet-pack test`: every entry of a finished package checked and decompressed as the
// installer would, writing nothing to disk.
#include "Common/Text.h"
#include "Package/EntryCheck.h"
#include "Packer/PackageReport.h"

namespace quillet::packer {

TestSummary TestPackage(const PackageFile& package, std::ostream& out) {
  TestSummary summary;
  const EntryStatus patch = package.Settings().patch.status;
  const std::uint32_t codePage = package.CodePage();
  for (const PackageEntry& entry : package.Entries()) {
    const EntryCheck check = CheckEntry(entry, patch, codePage);
    ++summary.tested;
    switch (check.verdict) {
    case EntryVerdict::BadName:
      ++summary.failed;
      out << "Bad name    " << Shown(EntryPath(entry)) << "  ("
          << ShownText(check.problem, TextShape::Line, true) << ")\n";
      break;
    case EntryVerdict::Passed:
      out << "OK          " << Shown(EntryPath(entry));
      if (check.contentSize != entry.UnpackedSize()) {
        out << "  (unpacked size field " << entry.UnpackedSize() << ", content "
            << check.contentSize << " bytes)";
      }
      out << "\n";
      break;
    case EntryVerdict::ChecksumFailure:
      ++summary.failed;
      out << "CRC Error   " << Shown(EntryPath(entry)) << "\n";
      break;
    case EntryVerdict::DataError:
      ++summary.failed;
      out << "Data Error  " << Shown(EntryPath(entry)) << "\n";
      break;
    }
  }
  for (const std::string& problem : package.Problems()) {
    ++summary.problems;
    out << "Problem     " << problem << "\n";
  }
  for (const std::string& warning : PlacementWarnings(package, codePage)) {
    out << "Warning     " << warning << "\n";
  }
  out << package.Path() << ": " << summary.tested << " entries tested, "
      << summary.tested - summary.failed << " OK, " << summary.failed << " failed";
  if (summary.problems != 0) {
    out << ", " << summary.problems << (summary.problems == 1 ? " problem" : " problems");
  }
  out << "\n";
  return summary;
}

} // namespace quillet::packer
