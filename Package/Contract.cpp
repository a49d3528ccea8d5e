#include "Package/Contract.h"

#include <algorithm>

#include "Common/Text.h"

namespace quillet {

namespace {

bool IsControl(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

} // namespace

Macro MacroNamed(std::string_view name) {
  if (SameTextLocale(name, MACRO_IDE_ROOT)) {
    return Macro::IdeRoot;
  }
  if (SameTextLocale(name, MACRO_PACKAGE_ROOT)) {
    return Macro::PackageRoot;
  }
  if (SameTextLocale(name, MACRO_SHARED_DOCUMENTS)) {
    return Macro::IdeShared;
  }
  return Macro::Unknown;
}

std::string EscapeMacroMarks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    out += c;
    if (c == MACRO_MARK) {
      out += MACRO_MARK;
    }
  }
  return out;
}

std::optional<EntryStatus> PatchTextFailure(const PackageEntry& entry, EntryStatus patchStatus) {
  if (patchStatus == EntryStatus::Content || !entry.HasFlag(ENTRY_INSTALL) ||
      !entry.HasFlag(ENTRY_PREPEND_PATCH)) {
    return std::nullopt;
  }
  return patchStatus;
}

bool IsDownloadAddress(std::string_view address) {
  return !address.empty() && address.size() <= DOWNLOAD_ADDRESS_CAPACITY &&
         std::none_of(address.begin(), address.end(), IsControl);
}

bool IsDownloadField(std::string_view bytes) {
  if (bytes.size() != DOWNLOAD_FIELD_SIZE) {
    return false;
  }
  const std::size_t end = std::min(bytes.find('\0'), bytes.size());
  return end < bytes.size() && std::none_of(bytes.begin(), bytes.begin() + end, IsControl) &&
         bytes.find_first_not_of('\0', end) == std::string_view::npos;
}

} // namespace quillet
