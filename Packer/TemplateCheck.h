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

} // namespace quillet::packer
