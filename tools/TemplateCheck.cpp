#include "tools/TemplateCheck.h"

#include <vector>

namespace quillet::pack {

namespace {

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (fold(a[i]) != fold(b[i])) {
      return false;
    }
  }
  return true;
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

const char* const KNOWN_MACROS = "the installer knows %Delphi% and %zel_root%";

} // namespace

std::string TemplateProblem(std::string_view text, TemplateKind kind) {
  // Appended piece by piece: "'" + string makes GCC 12 at -O2 and above warn falsely
  // (-Wrestrict) inside std::string.
  std::string quoted(1, '\'');
  quoted.append(text).push_back('\'');
  std::vector<std::size_t> separatorsAfterMacros; // where each run of separators begins
  std::size_t open = std::string_view::npos;      // the "%" that opened the current macro
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      continue;
    }
    if (open == std::string_view::npos) {
      open = i;
      continue;
    }
    const std::string_view name = text.substr(open + 1, i - open - 1);
    if (!name.empty() && !SameAscii(name, "Delphi") && !SameAscii(name, "zel_root")) {
      return "unknown macro %" + std::string(name) + "% in " + quoted +
             ", which the installer would drop (" + KNOWN_MACROS + "); write %% for a percent sign";
    }
    if (!name.empty() && i + 1 < text.size() && IsSeparator(text[i + 1])) {
      separatorsAfterMacros.push_back(i + 1);
    }
    open = std::string_view::npos;
  }
  if (open != std::string_view::npos) {
    return "lone % in " + quoted + ", which the installer would drop with all that follows; " +
           "write %% for a percent sign (" + KNOWN_MACROS + ")";
  }
  if (kind == TemplateKind::Folder && !separatorsAfterMacros.empty()) {
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

} // namespace quillet::pack
