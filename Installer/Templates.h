// Path templates: "%Delphi%" and "%zel_root%" stand for the folders of the current turn, "%%" for
// a percent sign.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Installer/InstallContext.h"
#include "Package/Contract.h"

namespace quillet {

// Expands the macros of a template against the context's IdeRoot and PackageRoot.
std::string ExpandTemplate(std::string_view templateText, const InstallContext& context);

// The patch text with its macros expanded, in the package's code page: it is file content, so the
// folders put into it are converted to that code page. nullopt when a folder it names holds a
// character that code page lacks: the content would name another folder.
std::optional<std::string> ExpandPatchText(const InstallContext& context);

// Whether a template names the macro.
bool TemplateUsesMacro(std::string_view templateText, Macro macro);

} // namespace quillet
