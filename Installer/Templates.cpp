#include "Installer/Templates.h"

#include <utility>

#include "Installer/Folders.h"
#include "Package/Contract.h"

namespace quillet {

std::string ExpandTemplate(std::string_view templateText, const InstallContext& context) {
  std::string result;
  result.reserve(templateText.size());
  // A value is appended as it is and never scanned again, so a "%" in a root folder stays
  // literal. A macro still open at the end is dropped with everything after it; unknown names
  // stand for nothing.
  ScanTemplate(templateText, [&](const TemplatePiece& piece) {
    switch (piece.kind) {
    case TemplatePiece::Kind::Text:
      result += piece.text;
      break;
    case TemplatePiece::Kind::Percent:
      result += MACRO_MARK;
      break;
    case TemplatePiece::Kind::Macro:
      switch (MacroNamed(piece.text)) {
      case Macro::IdeRoot:
        result += FolderWithSeparator(context.IdeRoot);
        break;
      case Macro::PackageRoot:
        result += FolderWithSeparator(context.PackageRoot);
        break;
      case Macro::IdeShared:
        result += FolderWithSeparator(context.IdeShared);
        break;
      case Macro::Unknown:
        break;
      }
      break;
    case TemplatePiece::Kind::Unclosed:
      break;
    }
  });
  return result;
}

std::optional<std::string> ExpandPatchText(const InstallContext& context) {
  InstallContext converted = context;
  const std::pair<std::string InstallContext::*, Macro> folders[] = {
      {&InstallContext::IdeRoot, Macro::IdeRoot},
      {&InstallContext::PackageRoot, Macro::PackageRoot},
      {&InstallContext::IdeShared, Macro::IdeShared}};
  for (const auto& [folder, macro] : folders) {
    std::optional<std::string> bytes = platform::TextToCodePage(context.CodePage, context.*folder);
    if (bytes) {
      converted.*folder = std::move(*bytes);
    } else if (TemplateUsesMacro(context.PatchText, macro)) {
      return std::nullopt;
    }
  }
  return ExpandTemplate(context.PatchText, converted);
}

bool TemplateUsesMacro(std::string_view templateText, Macro macro) {
  bool uses = false;
  ScanTemplate(templateText, [&](const TemplatePiece& piece) {
    uses = uses || (piece.kind == TemplatePiece::Kind::Macro && MacroNamed(piece.text) == macro);
  });
  return uses;
}

} // namespace quillet
