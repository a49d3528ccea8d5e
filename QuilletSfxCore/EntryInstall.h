// Puts one entry of the package on disk for the installation whose turn it is, and reports the
// outcome on one console line.
#pragma once

#include "QuilletCore/PackageFormat.h"
#include "QuilletSfxCore/InstallContext.h"

namespace quillet {

enum class InstallOutcome {
  Skipped,   // not a file to install: no line, nothing touched
  Installed, // "OK"
  Failed,    // "CRC Error", "Data Error", "could not create [...]" or "could not write [...]"
};

// The entry's own content is checked and decompressed before anything on disk is touched; it is
// written to a temporary file beside the target, which replaces the target only when complete.
InstallOutcome InstallEntry(const PackageEntry& entry, InstallContext& context);

} // namespace quillet
