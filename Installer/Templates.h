// Path templates: "%Delphi%" and "%zel_root%" stand for the folders of the current turn, "%%" for
// a percent sign.
#pragma once

#include <string>
#include <string_view>

#include "Installer/InstallContext.h"

namespace quillet {

// Expands the macros of a template against the context's IdeRoot and PackageRoot.
std::string ExpandTemplate(std::string_view templateText, const InstallContext& context);

} // namespace quillet
