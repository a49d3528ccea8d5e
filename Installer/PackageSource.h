// Which file holds the package, and holding it open for the run.
#pragma once

#include <string>
#include <vector>

#include "Installer/PackageImage.h"
#include "Package/PackageFormat.h"

namespace quillet {

// The first argument when there is one and it is not empty; otherwise the program's own file.
std::string ChoosePackagePath(const std::vector<std::string>& arguments);

// Maps and validates the package. On false nothing stays open.
bool OpenPackage(const std::vector<std::string>& arguments, PackageImage& image,
                 PackageLayout& layout);

// Releases an open package; false when nothing was open.
bool ReleasePackage(PackageImage& image);

} // namespace quillet
