// Which file holds the package, and holding it open for the run.
#pragma once

#include <string>

#include "Installer/PackageImage.h"
#include "Package/PackageFormat.h"

namespace quillet {

// The package named on the command line when it is not empty; otherwise the program's own file.
std::string ChoosePackagePath(const std::string& named);

// Maps and validates the package. On false nothing stays open.
bool OpenPackage(const std::string& named, PackageImage& image, PackageLayout& layout);

// Releases an open package; false when nothing was open.
bool ReleasePackage(PackageImage& image);

} // namespace quillet
