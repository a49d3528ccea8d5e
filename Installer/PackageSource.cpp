#include "Installer/PackageSource.h"
#include "Package/SignedImage.h"
#include "Platform/Process.h"

namespace quillet {

std::string ChoosePackagePath(const std::string& named) {
  if (!named.empty()) {
    return named;
  }
  return platform::OwnProgramPath();
}

bool OpenPackage(const std::string& named, PackageImage& image, PackageLayout& layout) {
  const std::string path = ChoosePackagePath(named);
  bool ok = !path.empty() && MapFileReadOnly(path, image);
  if (ok) {
    // A signed installer's package ends where its certificate table begins.
    ok = ValidatePackage(image.Data(), PackageEnd(image.Data(), image.Size()), layout);
  }
  if (!ok) {
    ReleasePackage(image);
  }
  return ok;
}

bool ReleasePackage(PackageImage& image) {
  return image.Close();
}

} // namespace quillet
