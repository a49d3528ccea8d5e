#include "Packer/TemplateCheck.h"

#include <vector>

#include "Common/Text.h"
#include "Common/WindowsNames.h"
#include "Package/Contract.h"

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

std::string EntryNameProblem(std::string_view folderTemplate, std::string_view name) {
  if (!NameStaysInFolder(name)) {
    return "its name leads out of its folder";
  }
  // Joined as the installer joins them: the trimmed folder, a separator unless it ends in one.
  std::string target(TrimBlanks(folderTemplate));
  if (!target.empty() && !IsSeparator(target.back()) && target.back() != ':') {
    target += '\\';
  }
  target += name;
  // A drive ("C:") is a root, not a component.
  const std::size_t rootEnd = target.size() >= 2 && target[1] == ':' ? 2 : 0;
  std::string component;
  std::string problem;
  const auto end = [&] {
    const NameFault fault = NameFaultOf(component);
    if (problem.empty() && fault != NameFault::None) {
      problem = "'" + component + "' " + std::string(DescribeNameFault(fault));
    }
    component.clear();
  };
  ScanTemplate(std::string_view(target).substr(rootEnd), [&](const TemplatePiece& piece) {
    switch (piece.kind) {
    case TemplatePiece::Kind::Text:
      for (const char c : piece.text) {
        if (IsSeparator(c)) {
          end();
        } else {
          component += c;
        }
      }
      break;
    case TemplatePiece::Kind::Percent:
      component += MACRO_MARK;
      break;
    case TemplatePiece::Kind::Macro:
      // A known macro's value is a folder ending in a separator: what came before joins its
      // first component, which cannot be judged, and a new one begins after it. An unknown one
      // stands for nothing.
      if (MacroNamed(piece.text) != Macro::Unknown) {
        component.clear();
      }
      break;
    case TemplatePiece::Kind::Unclosed:
      break; // expansion drops it and all that follows
    }
  });
  end();
  return problem;
}

} // namespace quillet::packer
