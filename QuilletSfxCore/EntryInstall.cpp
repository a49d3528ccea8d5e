#include "QuilletSfxCore/EntryInstall.h"

#include "CoreAPITools/Folders.h"
#include "Platform/FileSystem.h"
#include "QuilletCore/EntryContent.h"
#include "QuilletCore/SameTextLocale.h"
#include "QuilletSfxCore/Console.h"
#include "QuilletSfxCore/Templates.h"
#include "QuilletSfxCore/Timestamps.h"

namespace quillet {

namespace {

InstallOutcome Fail(const std::string& message) {
  WriteLine(message);
  return InstallOutcome::Failed;
}

} // namespace

InstallOutcome InstallEntry(const PackageEntry& entry, InstallContext& context) {
  if (!entry.HasFlag(ENTRY_INSTALL)) {
    return InstallOutcome::Skipped;
  }
  const std::string fileName = entry.FileName();
  const std::string target =
      ExpandTemplate(FolderWithSeparator(entry.FolderTemplate()) + fileName, context);

  WriteText("Installing " + fileName + " .. ");
  if (SameTextLocale(fileName, "readme.html")) {
    context.ReadmePath = target;
  }

  // An entry that needs a damaged patch text would be installed with wrong content.
  if (entry.HasFlag(ENTRY_PREPEND_PATCH) && context.PatchStatus != EntryStatus::Content) {
    return Fail(context.PatchStatus == EntryStatus::ChecksumFailure ? "CRC Error" : "Data Error");
  }

  // Check and decompress first: a damaged entry must not touch what is on disk.
  const EntryContent content = ExtractEntry(entry);
  if (content.status == EntryStatus::ChecksumFailure) {
    return Fail("CRC Error");
  }
  if (content.status == EntryStatus::DataError) {
    return Fail("Data Error");
  }

  const std::string folder = FolderOfPath(target);
  if (!FolderExists(folder)) {
    CreateFolderPath(folder); // a folder that cannot be made shows as the failure to create
  }

  std::optional<platform::OutputFile> file = platform::OutputFile::CreateFor(target);
  if (!file) {
    return Fail("could not create [" + target + "]");
  }
  bool written = true;
  if (entry.HasFlag(ENTRY_PREPEND_PATCH)) {
    const std::string patch = ExpandTemplate(context.PatchText, context);
    written = file->Write(patch.data(), patch.size());
  }
  written = written && file->Write(content.bytes.data(), content.bytes.size());
  if (!written) {
    return Fail("could not write [" + target + "]"); // the temporary file goes with `file`
  }
  // After the last write, so that the stored time is what stays.
  StampEntryFile(*file, entry.Date(), entry.Time());
  if (!file->Close()) {
    return Fail("could not write [" + target + "]");
  }
  if (!file->Commit()) {
    return Fail("could not create [" + target + "]");
  }
  WriteLine("OK");
  return InstallOutcome::Installed;
}

} // namespace quillet
