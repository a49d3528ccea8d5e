#include "QuilletSfxCore/Templates.h"

#include "CoreAPITools/Folders.h"
#include "QuilletCore/SameTextLocale.h"

namespace quillet {

namespace {

constexpr char MACRO_MARK = '%';
constexpr std::string_view MACRO_IDE_ROOT = "Delphi";
constexpr std::string_view MACRO_PACKAGE_ROOT = "zel_root";

// The text a closed macro stands for. Unknown names stand for nothing.
std::string MacroValue(std::string_view name, const InstallContext& context) {
  if (name.empty()) {
    return std::string(1, MACRO_MARK);
  }
  if (SameTextLocale(name, MACRO_IDE_ROOT)) {
    return FolderWithSeparator(context.IdeRoot);
  }
  if (SameTextLocale(name, MACRO_PACKAGE_ROOT)) {
    return FolderWithSeparator(context.PackageRoot);
  }
  return {};
}

} // namespace

std::string ExpandTemplate(std::string_view templateText, const InstallContext& context) {
  std::string result;
  result.reserve(templateText.size());
  std::string name;
  bool insideMacro = false;
  // Byte by byte, also under a double-byte code page. A value is appended as it is and never
  // scanned again, so a "%" in a root folder stays literal.
  for (const char c : templateText) {
    if (c != MACRO_MARK) {
      (insideMacro ? name : result).push_back(c);
    } else if (!insideMacro) {
      name.clear();
      insideMacro = true;
    } else {
      result += MacroValue(name, context);
      insideMacro = false;
    }
  }
  // A macro still open at the end is dropped with everything collected for it.
  return result;
}

} // namespace quillet
