// Checks of the templates an author writes, made at build time because the installer would
// expand a faulty one silently: an unknown macro and a lone "%" expand to nothing, and a separator
// after a macro doubles the one the macro brings.
#pragma once

#include <string>
#include <string_view>

namespace quillet::packer {

enum class TemplateKind {
  Folder, // the default folder or an entry's folder: a separator after a macro is a fault too
  Text,   // the patch text
};

// What is wrong with the template, for a message after "FILE:LINE: "; empty when nothing is.
// Macros are %Delphi% and %zel_root% in any letter case, and "%%" is a percent sign.
std::string TemplateProblem(std::string_view text, TemplateKind kind);

// Why the installer would not create an installed entry, for a message; empty when it would. Its
// name leads out of its folder (NameStaysInFolder), or a component of its target, the folder
// template joined to the name as the installer joins them, is a name Windows cannot hold
// (HoldableName): "'CON' is a device name that Windows reserves". Both are the stored texts
// (macros, "%%") in UTF-8. A component is judged where the template's text decides it: the one
// that a macro's value ends is not, nor what an unclosed "%" drops.
std::string EntryNameProblem(std::string_view folderTemplate, std::string_view name);

} // namespace quillet::packer
