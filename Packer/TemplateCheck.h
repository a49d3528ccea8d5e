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
  // A [[packages]] set's prebuilt folder: a folder in which %platform% also stands for the
  // platform being built (a name, without a final separator).
  Prebuilt,
  // A library-path folder: a folder in which %platform% also stands for the platform of the
  // library it goes on (the installer adds one folder per platform key).
  LibraryFolder,
};

// What is wrong with the template, for a message after "FILE:LINE: "; empty when nothing is.
// Macros are %Delphi%, %zel_root% and %BDSCOMMONDIR% in any letter case (and %platform% in a
// prebuilt or library-path folder), and "%%" is a percent sign.
std::string TemplateProblem(std::string_view text, TemplateKind kind);

} // namespace quillet::packer
