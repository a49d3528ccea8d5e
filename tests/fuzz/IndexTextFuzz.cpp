// libFuzzer target: any bytes as the text of a per-user index value, the folders that hold a
// package's records. Each folder read is a trimmed, non-empty piece of the text between bars, and
// the folders joined again read back the same.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Installer/RecordStore.h"

namespace {

void Check(bool holds) {
  if (!holds) {
    __builtin_trap();
  }
}

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> folders = quillet::FoldersOfIndexText(text);
  std::size_t bars = 0;
  for (const char c : text) {
    bars += c == '|' ? 1 : 0;
  }
  Check(folders.size() <= bars + 1);
  std::size_t from = 0; // the folders come in the text's order, one piece each
  std::string joined;
  for (const std::string& folder : folders) {
    Check(!folder.empty() && folder.find('|') == std::string::npos);
    Check(!IsBlank(folder.front()) && !IsBlank(folder.back()));
    const std::size_t at = text.find(folder, from);
    Check(at != std::string::npos);
    from = at + folder.size();
    joined += (joined.empty() ? "" : "|") + folder;
  }
  Check(quillet::FoldersOfIndexText(joined) == folders);
  return 0;
}
