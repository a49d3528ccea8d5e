// The packer's files: writing the package from its plan and writing any result file in place,
// and reading a source file whole.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "Package/PackageWriter.h"
#include "Packer/PackagePlan.h"

namespace quillet::packer {

struct BuildOptions {
  int level = 9;
  unsigned jobs = 0; // 0: one per core
  std::function<void(const CompressionProgress&)> progress;
};

// Compresses the planned entries and writes the package to `output`, streaming each entry to a
// temporary file beside it as soon as it and those before it are compressed, so that memory holds
// only the entries in flight. The file takes the output's name only when complete. Gives the
// package's size.
std::uint64_t WritePackage(const PackagePlan& plan, const BuildOptions& options,
                           const std::filesystem::path& output);

// Writes the file under a new temporary name in its folder and then puts it in place, so that a
// failed write never leaves a half file behind, and a link or file at any other name is never
// written through. `executable` adds the execute permissions.
void WriteFileReplacing(const std::filesystem::path& path, std::string_view bytes, bool executable);

// A whole file's bytes; throws EPackerError naming the file.
std::string ReadSourceFile(const std::filesystem::path& path);

} // namespace quillet::packer
