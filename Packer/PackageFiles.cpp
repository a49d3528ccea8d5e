// Writing the package from its plan into a result file that takes its name only when complete,
// any other result file in the same way, and reading source files whole.
#include "Packer/PackageFiles.h"

#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "Package/Contract.h"
#include "Packer/PackerError.h"
#include "Packer/PathText.h"
#include "Platform/FileSystem.h"

namespace quillet::packer {

namespace {

// A result file being written: a new temporary file beside it, put in its place when complete.
class ResultFile {
public:
  explicit ResultFile(const std::filesystem::path& path) : path_(path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
      throw EPackerError(TextOfPath(path) + ": is a folder");
    }
    file_ = platform::OutputFile::CreateForNative(TextOfPath(path), platform::OutputKind::Rebuildable);
    if (!file_) {
      const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
      throw EPackerError(TextOfPath(path) + ": cannot create a file in " + TextOfPath(folder) +
                         (std::filesystem::is_directory(folder, error) ? "" : ": no such folder"));
    }
  }

  void Write(std::string_view bytes) {
    if (!file_->Write(bytes.data(), bytes.size())) {
      throw EPackerError(TextOfPath(path_) + ": cannot write the file (is the disk full?)");
    }
  }

  void Commit(bool executable) {
    if (!file_->Commit()) {
      throw EPackerError(TextOfPath(path_) + (file_->LostData()
                                                  ? ": cannot write the file (is the disk full?)"
                                                  : ": cannot put the file in place"));
    }
    if (executable) {
      using std::filesystem::perms;
      std::error_code error;
      std::filesystem::permissions(path_,
                                   perms::owner_exec | perms::group_exec | perms::others_exec,
                                   std::filesystem::perm_options::add, error);
      if (error) {
        throw EPackerError(TextOfPath(path_) +
                           ": cannot mark the file executable: " + error.message());
      }
    }
  }

private:
  std::filesystem::path path_;
  std::optional<platform::OutputFile> file_;
};

} // namespace

std::uint64_t WritePackage(const PackagePlan& plan, const BuildOptions& options,
                           const std::filesystem::path& output) {
  if (plan.entries.empty()) {
    throw EPackerError(TextOfPath(output) + ": a package needs at least one entry");
  }
  ResultFile file(output);
  std::uint64_t size = header_field::SIZE + trailer_field::SIZE;
  try {
    for (const EntrySource& entry : plan.entries) {
      RejectRecordCheckName(entry.fileName);
    }
    // One more record than the plan: package.crc, over the header and every record, goes last.
    const auto recordCount = static_cast<std::uint32_t>(plan.entries.size() + 1);
    const std::string header = SerializeHeader(plan.defaultFolder, recordCount);
    RecordChecksum checksum(header);
    file.Write(header);
    const auto writeEntry = [&](const StoredEntry& entry) {
      size += entry_field::SIZE + entry.stored.size();
      if (size > MAX_PACKAGE_FILE_SIZE) {
        throw EPackerError(TextOfPath(output) + ": the package would reach 4 GiB");
      }
      const std::string record = SerializeEntryRecord(entry);
      checksum.AddRecord(record);
      file.Write(record);
      file.Write(entry.stored);
    };
    StreamStoredEntries(
        plan.entries, options.level, options.jobs, [&](StoredEntry&& entry) { writeEntry(entry); },
        options.progress);
    writeEntry(checksum.Finish(recordCount, options.level));
    file.Write(SerializeTrailer(static_cast<std::uint32_t>(size)));
  } catch (const std::invalid_argument& e) {
    throw EPackerError(std::string("cannot lay out the package: ") + e.what());
  }
  file.Commit(false);
  return size;
}

std::string ReadSourceFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw EPackerError(TextOfPath(path) + ": cannot read the file");
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    throw EPackerError(TextOfPath(path) + ": reading the file failed");
  }
  return std::move(content).str();
}

void WriteFileReplacing(const std::filesystem::path& path, std::string_view bytes,
                        bool executable) {
  ResultFile file(path);
  file.Write(bytes);
  file.Commit(executable);
}

} // namespace quillet::packer
