#include "Packer/TemplateCheck.h"

#include <vector>

#include "Common/Text.h"
#include "Package/Contract.h"
#include "Package/SettingsTexts.h"
#include "Platform/Ascii.h"

namespace quillet::packer {

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

const char* const KNOWN_MACROS = "the installer knows %Delphi%, %zel_root% and %BDSCOMMONDIR%";

} // namespace

std::string TemplateProblem(std::string_view text, TemplateKind kind) {
  // Appended piece by piece: "'" + string makes GCC 12 at -O2 and above warn falsely
  // (-Wrestrict) inside std::string.
  std::string quoted(1, '\'');
  quoted.append(text).push_back('\'');
  std::vector<std::size_t> separatorsAfterMacros; // where each run of separators begins
  std::string problem;
  ScanTemplate(text, [&](const TemplatePiece& piece) {
    if (!problem.empty()) {
      return;
    }
    if (piece.kind == TemplatePiece::Kind::Unclosed) {
      problem = "lone % in " + quoted + ", which the installer would drop with all that follows; " +
                "write %% for a percent sign (" + KNOWN_MACROS + ")";
    } else if (piece.kind == TemplatePiece::Kind::Macro) {
      // %platform% expands to a name, which never ends in a separator.
      const bool platformMacro = platform::EqualIgnoringAsciiCase(
          piece.text, PLATFORM_MACRO.substr(1, PLATFORM_MACRO.size() - 2));
      if (platformMacro && kind != TemplateKind::Prebuilt && kind != TemplateKind::LibraryFolder) {
        problem = "the macro %" + std::string(piece.text) + "% in " + quoted +
                  " stands for a platform only in the prebuilt folders of [[packages]] and in "
                  "library-path folders; write %% for a percent sign";
        return;
      }
      if (platformMacro) {
        return;
      }
      if (MacroNamed(piece.text) == Macro::Unknown) {
        problem = "unknown macro %" + std::string(piece.text) + "% in " + quoted +
                  ", which the installer would drop (" + KNOWN_MACROS +
                  "); write %% for a percent sign";
        return;
      }
      const std::size_t after = piece.offset + piece.text.size() + 2;
      if (after < text.size() && IsSeparator(text[after])) {
        separatorsAfterMacros.push_back(after);
      }
    }
  });
  if (!problem.empty()) {
    return problem;
  }
  if (kind != TemplateKind::Text && !separatorsAfterMacros.empty()) {
    std::string corrected;
    std::size_t from = 0;
    for (std::size_t at : separatorsAfterMacros) {
      corrected.append(text.substr(from, at - from));
      from = at;
      while (from < text.size() && IsSeparator(text[from])) {
        ++from;
      }
    }
    corrected.append(text.substr(from));
    return "separator right after a macro in " + quoted +
           ": the macro ends in one already, and the doubled one keeps the installer from " +
           "creating the folder; write '" + corrected + "'";
  }
  return {};
}

} // namespace quillet::packer
