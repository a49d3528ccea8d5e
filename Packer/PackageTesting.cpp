// `quillet-pack test`: every entry of a finished package checked and decompressed as the
// installer would, writing nothing to disk.
#include "Common/Text.h"
#include "Package/Contract.h"
#include "Package/EntryContent.h"
#include "Packer/PackageReport.h"

namespace quillet::packer {

TestSummary TestPackage(const PackageFile& package, std::ostream& out) {
  TestSummary summary;
  // As the installer judges them: an entry that asks for a damaged patch text fails with it.
  const EntryStatus patch = package.Settings().patch.status;
  const std::uint32_t codePage = package.CodePage();
  for (const PackageEntry& entry : package.Entries()) {
    // As the installer refuses them: a name that leads out of its folder or that Windows cannot
    // hold.
    if (const std::string problem = BadNameProblem(entry, codePage); !problem.empty()) {
      ++summary.tested;
      ++summary.failed;
      out << "Bad name    " << Shown(EntryPath(entry)) << "  ("
          << ShownText(problem, TextShape::Line, true) << ")\n";
      continue;
    }
    // Counted, never held: an entry of any size costs one chunk of memory.
    std::uint64_t contentSize = 0;
    const ChunkSink count = [&contentSize](const char*, std::size_t size) {
      contentSize += size;
      return true;
    };
    // An entry that fails with the patch text needs no decompression of its own.
    const std::optional<EntryStatus> patchFailure = PatchTextFailure(entry, patch);
    const EntryStatus status = patchFailure ? *patchFailure : DecodeEntry(entry, count);
    ++summary.tested;
    switch (status) {
    case EntryStatus::Content:
      out << "OK          " << Shown(EntryPath(entry));
      if (contentSize != entry.UnpackedSize()) {
        out << "  (unpacked size field " << entry.UnpackedSize() << ", content " << contentSize
            << " bytes)";
      }
      out << "\n";
      break;
    case EntryStatus::ChecksumFailure:
      ++summary.failed;
      out << "CRC Error   " << Shown(EntryPath(entry)) << "\n";
      break;
    case EntryStatus::DataError:
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
