// Path templates: "%Delphi%" and "%zel_root%" stand for the folders of the current turn, "%%" for
// a percent sign.
#pragma once

#include <string>
#include <string_view>

#include "Installer/InstallContext.h"
#include "Package/Contract.h"

namespace quillet {

// Expands the macros of a template against the context's IdeRoot and PackageRoot.
std::string ExpandTemplate(std::string_view templateText, const InstallContext& context);

// Whether a template names the macro.
bool TemplateUsesMacro(std::string_view templateText, Macro macro);

} // namespace quillet
