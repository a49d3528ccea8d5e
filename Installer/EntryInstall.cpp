#include "Installer/EntryInstall.h"

#include <optional>
#include <vector>

#include "Common/Text.h"
#include "Installer/ContentPipeline.h"
#include "Installer/Folders.h"
#include "Installer/Templates.h"
#include "Installer/Timestamps.h"
#include "Installer/TurnRecord.h"
#include "Package/Contract.h"
#include "Package/Crc32.h"
#include "Platform/FileSystem.h"
#include "Platform/Interruption.h"

namespace quillet {

namespace {

InstallOutcome Fail(Console& console, const std::string& message) {
  console.WriteLine(message);
  return InstallOutcome::Failed;
}

// The file being written, with the size and CRC-32 of what went into it when a record wants them.
struct CountedOutput {
  platform::OutputFile& file;
  std::optional<Crc32> crc;
  std::uint64_t size = 0;
  bool Write(const char* data, std::size_t length) {
    if (crc) {
      crc->Add(data, length);
      size += length;
    }
    return file.Write(data, length);
  }
};

// Writes the content into the file: the worker's bytes, or the stream decompressed now. A failed
// write ends as Stopped.
StreamEnd WriteContent(const PackageEntry& entry, CountedOutput& output,
                       const PreparedContent* prepared, const EntryDecoder& decoder) {
  if (prepared != nullptr) {
    if (prepared->failure) {
      std::rethrow_exception(prepared->failure);
    }
    if (prepared->held) {
      if (!output.Write(prepared->bytes.data(), prepared->bytes.size())) {
        return StreamEnd::Stopped;
      }
      return prepared->end;
    }
  }
  return decoder(
      entry, [&output](const char* data, std::size_t size) { return output.Write(data, size); });
}

// Where an entry goes: the path as the system takes it, and as the entry's line shows it.
struct EntryTarget {
  std::string system;
  std::string shown;
};

// Begins the entry's line with its name (and its target, when that lies outside both folders the
// user knows). Nullopt, the line ended, when the target is none to write.
std::optional<EntryTarget> BeginEntryLine(const PackageEntry& entry, InstallContext& context,
                                          Console& console) {
  // The name and folder as stored, in the package's code page, and as the program's text.
  const std::string storedName = entry.FileName();
  const std::string fileName = TextOfPackage(context, storedName);
  const std::string target = ExpandTemplate(
      FolderWithSeparator(TextOfPackage(context, entry.FolderTemplate())) + fileName, context);

  // A target outside both folders the user knows is shown whole, so that the user sees where the
  // file goes.
  const bool known =
      PathIsInFolder(target, context.PackageRoot) || PathIsInFolder(target, context.IdeRoot);
  // The entry's line shows the name and target as one line, whatever they hold.
  const std::string shownTarget = InLine(target);
  console.WriteText("Installing " + fileName + (known ? "" : " (" + target + ")") + " .. ",
                    "Installing " + fileName + " (" + target + ") .. ");
  // A name that leads out of its folder writes where nobody chose to install.
  if (!NameStaysInFolder(fileName)) {
    Fail(console, "could not create [" + shownTarget + "]");
    return std::nullopt;
  }
  // Both builds hand the system the same path, and refuse one that Windows would not hold as
  // written (Folders.h).
  const std::optional<std::string> systemTarget = SystemFormOfPath(target);
  if (!systemTarget) {
    Fail(console, "could not create [" + shownTarget + "]");
    return std::nullopt;
  }
  if (SameTextLocale(storedName, README_ENTRY_NAME)) {
    context.ReadmePath = *systemTarget;
  }
  return EntryTarget{*systemTarget, shownTarget};
}

// Writes the patch text and the content into a temporary file beside the target, which takes the
// target's name once the content has ended cleanly; the turn's record lists it.
InstallOutcome WriteEntry(const PackageEntry& entry, const EntryTarget& target,
                          const std::optional<std::string>& patch, InstallContext& context,
                          Console& console, const PreparedContent* prepared,
                          const EntryDecoder& decoder) {
  std::optional<platform::OutputFile> file =
      platform::OutputFile::CreateFor(target.system, platform::OutputKind::Rebuildable);
  if (!file) {
    return Fail(console, "could not create [" + target.shown + "]");
  }
  CountedOutput output{*file, std::nullopt};
  // A worker's CRC of the content serves when nothing is written ahead of it.
  const bool crcAhead = prepared != nullptr && prepared->held && prepared->contentCrc && !patch;
  if (context.Recorder != nullptr && !crcAhead) {
    output.crc.emplace();
  }
  if (patch && !output.Write(patch->data(), patch->size())) {
    return Fail(console, "could not write [" + target.shown + "]");
  }
  // Whatever ends the content before its stream does leaves the target as it was: the temporary
  // file goes with `file`.
  switch (WriteContent(entry, output, prepared, decoder)) {
  case StreamEnd::Stopped:
    return Fail(console, "could not write [" + target.shown + "]");
  case StreamEnd::DataError:
    return Fail(console, "Data Error");
  case StreamEnd::Complete:
    break;
  }
  // After the last write, so that the stored time is what stays.
  StampEntryFile(*file, entry.Date(), entry.Time());
  // An interrupt finds the entry either not yet in place or in place with its "OK" written.
  const platform::InterruptHold hold;
  // Journaled before the file takes its name, so that a kill right after leaves it listed.
  if (context.Recorder != nullptr) {
    context.Recorder->FileWritten(target.system, crcAhead ? prepared->bytes.size() : output.size,
                                  crcAhead ? *prepared->contentCrc : output.crc->Value(),
                                  EncodeDosDateTime(EntryDayValue(entry.Date(), entry.Time())));
  }
  if (!file->Close()) {
    return Fail(console, "could not write [" + target.shown + "]");
  }
  if (!file->Commit()) {
    return Fail(console, (file->LostData() ? "could not write [" : "could not create [") +
                             target.shown + "]");
  }
  if (context.Recorder != nullptr) {
    context.Recorder->FileCommitted();
  }
  console.WriteLine("OK");
  return InstallOutcome::Installed;
}

} // namespace

InstallOutcome InstallEntry(const PackageEntry& entry, InstallContext& context, Console& console,
                            const PreparedContent* prepared, const EntryDecoder& decoder) {
  if (!entry.HasFlag(ENTRY_INSTALL)) {
    return InstallOutcome::Skipped;
  }
  const std::optional<EntryTarget> target = BeginEntryLine(entry, context, console);
  if (!target) {
    return InstallOutcome::Failed;
  }

  // An entry that needs a damaged patch text would be installed with wrong content.
  if (const std::optional<EntryStatus> failure = PatchTextFailure(entry, context.PatchStatus)) {
    return Fail(console, *failure == EntryStatus::ChecksumFailure ? "CRC Error" : "Data Error");
  }

  std::optional<std::string> patch;
  if (entry.HasFlag(ENTRY_PREPEND_PATCH)) {
    patch = ExpandPatchText(context);
    if (!patch) {
      return Fail(console, "could not write [" + target->shown +
                               "]: the patch text cannot name the folder in code page " +
                               std::to_string(context.CodePage));
    }
  }

  // The checksum first: stored bytes that fail it touch nothing on disk.
  const bool checksumMatches =
      prepared != nullptr ? prepared->checksumMatches : ChecksumMatches(entry);
  if (!checksumMatches) {
    return Fail(console, "CRC Error");
  }

  const std::string folder = FolderOfPath(target->system);
  if (!FolderExists(folder)) {
    // A folder that cannot be made shows as the failure to create.
    std::vector<std::string> created;
    CreateFolderPath(folder, context.Recorder != nullptr ? &created : nullptr);
    for (const std::string& made : created) {
      context.Recorder->FolderCreated(made);
    }
  }
  return WriteEntry(entry, *target, patch, context, console, prepared, decoder);
}

bool InstallAllEntries(const std::vector<PackageEntry>& entries, InstallContext& context,
                       Console& console, const EntryDecoding& decoding) {
  // One installer per target folder at a time, so that two never mix their files there. The
  // folder is made first, so that every installer locks that same folder.
  // The folder as the entries' paths reach the system; one that Windows cannot hold as written
  // is not made (its entries fail).
  const std::string asWritten = FolderWithSeparator(context.PackageRoot);
  const std::optional<std::string> systemRoot = SystemFormOfPath(asWritten);
  const std::string root = systemRoot ? FolderWithSeparator(*systemRoot) : asWritten;
  std::vector<std::string> created;
  if (systemRoot && !root.empty() && !FolderExists(root)) {
    CreateFolderPath(root, &created);
  }
  platform::FolderLock lock(root);
  if (!lock.TryTake()) {
    console.WriteLine("Waiting for another installation into " + InLine(context.PackageRoot) +
                      " to end...");
    console.Flush();
    lock.Take();
  }
  // Holding the lock, no other installer into this folder runs: temporary files that a killed
  // one left in it can go.
  lock.RemoveStaleFiles();
  // The journal of the turn starts before its first file, so that a kill at any later moment
  // leaves a list of what arrived.
  if (context.Recorder != nullptr && !context.Recorder->Begin(created, console)) {
    return false;
  }

  std::optional<ContentPipeline> pipeline;
  if (decoding.threads > 1 && entries.size() > 1) {
    pipeline.emplace(entries, decoding.threads, decoding.decoder, LOOKAHEAD_BUDGET,
                     LOOKAHEAD_ENTRY_LIMIT, context.Recorder != nullptr);
  }
  const bool ahead = pipeline && pipeline->Active();
  // Folders are read once for the whole turn.
  const platform::FolderListingScope listings;

  bool allInstalled = true;
  bool deniedTold = false;
  platform::TakeAccessDenied(); // only this turn's refusals count
  std::size_t position = 0;
  for (const PackageEntry& entry : entries) {
    std::optional<PreparedContent> prepared;
    if (ahead) {
      prepared = pipeline->Take(position++);
    }
    const InstallOutcome outcome =
        InstallEntry(entry, context, console, prepared ? &*prepared : nullptr, decoding.decoder);
    if (outcome == InstallOutcome::Failed) {
      allInstalled = false;
      // A user without the rights for the folder (a standard user below Program Files) is told
      // why once, rather than left with a line per entry.
      if (!deniedTold && platform::TakeAccessDenied()) {
        console.WriteLine(std::string(ACCESS_DENIED_HEAD) + InLine(context.PackageRoot) +
                          std::string(ACCESS_DENIED_TAIL));
        deniedTold = true;
      }
    }
  }
  return allInstalled;
}

} // namespace quillet
