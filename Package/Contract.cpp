#include "Package/Contract.h"

#include <algorithm>

#include "Common/Text.h"
#include "Common/WindowsNames.h"

namespace quillet {

namespace {

bool IsControl(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// "..", and what Windows reads as "..": it drops the dots and blanks that end a component, so
// ".. " climbs too. Any component of dots and blanks only, with two dots or more, counts.
bool IsParentComponent(std::string_view component) {
  return component.find_first_not_of(". ") == std::string_view::npos &&
         std::count(component.begin(), component.end(), '.') >= 2;
}

// What a template says about where it leads, judged piece by piece as the installer expands it.
struct Placement {
  bool startsWithKnownMacro = false;
  bool startsAtARoot = false; // a separator or a drive before anything else
  bool climbs = false;        // a ".." component
};

Placement PlacementOf(std::string_view text) {
  Placement placement;
  bool atStart = true;   // nothing that expands to text met yet
  std::string component; // the component being read
  bool componentOpen = false;
  const auto endComponent = [&] {
    placement.climbs = placement.climbs || (componentOpen && IsParentComponent(component));
    component.clear();
    componentOpen = false;
  };
  ScanTemplate(TrimBlanks(text), [&](const TemplatePiece& piece) {
    switch (piece.kind) {
    case TemplatePiece::Kind::Text:
      if (atStart) {
        const std::string_view t = piece.text;
        placement.startsAtARoot =
            IsSeparator(t[0]) ||
            (t.size() >= 2 && t[1] == ':' && ((t[0] | 0x20) >= 'a') && ((t[0] | 0x20) <= 'z'));
      }
      atStart = false;
      for (const char c : piece.text) {
        if (IsSeparator(c)) {
          endComponent();
          continue;
        }
        component += c;
        componentOpen = true;
      }
      break;
    case TemplatePiece::Kind::Percent:
      atStart = false;
      component += MACRO_MARK;
      componentOpen = true;
      break;
    case TemplatePiece::Kind::Macro:
      // A known macro stands for a folder ending in a separator; an unknown one for nothing.
      if (MacroNamed(piece.text) != Macro::Unknown) {
        placement.startsWithKnownMacro = placement.startsWithKnownMacro || atStart;
        atStart = false;
        endComponent();
      }
      break;
    case TemplatePiece::Kind::Unclosed:
      break;
    }
  });
  endComponent();
  return placement;
}

} // namespace

bool NameStaysInFolder(std::string_view name) {
  const Placement placement = PlacementOf(name);
  return !placement.startsAtARoot && !placement.climbs;
}

std::string FolderTemplateConcern(std::string_view folderTemplate) {
  const Placement placement = PlacementOf(folderTemplate);
  std::string concern;
  if (!placement.startsWithKnownMacro) {
    concern = "does not start with %zel_root% or %Delphi%";
  }
  if (placement.climbs) {
    concern += concern.empty() ? "climbs with .." : " and climbs with ..";
  }
  return concern;
}

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

} // namespace quillet
