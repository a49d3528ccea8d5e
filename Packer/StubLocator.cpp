#include "Packer/StubLocator.h"

#include <string>
#include <system_error>

#include "Packer/PackerError.h"
#include "Packer/PathText.h"

namespace quillet::packer {

namespace {

struct StubName {
  StubPlatform platform;
  std::string_view option; // the name `--for` takes
  std::string_view file;
};

constexpr StubName STUBS[] = {{StubPlatform::Linux, "linux", "quillet-sfx"},
                              {StubPlatform::Windows, "windows", "quillet-sfx.exe"},
                              {StubPlatform::WindowsX86, "windows-x86", "quillet-sfx-x86.exe"}};

const StubName& NameOf(StubPlatform platform) {
  for (const StubName& stub : STUBS) {
    if (stub.platform == platform) {
      return stub;
    }
  }
  return STUBS[0];
}

} // namespace

std::optional<StubPlatform> StubPlatformNamed(std::string_view name) {
  for (const StubName& stub : STUBS) {
    if (stub.option == name) {
      return stub.platform;
    }
  }
  return std::nullopt;
}

StubPlatform HostStubPlatform() {
  // The build names the platform it targets (tools/CMakeLists.txt).
  return StubPlatformNamed(QUILLET_HOST_STUB_PLATFORM).value_or(StubPlatform::Linux);
}

std::string_view StubFileName(StubPlatform platform) {
  return NameOf(platform).file;
}

std::filesystem::path LocateStub(StubPlatform platform, const std::filesystem::path& programPath) {
  if (programPath.empty()) {
    throw EPackerError("no installer for " + std::string(NameOf(platform).option) +
                       " found: the system does not say where quillet-pack lies; name the "
                       "installer program before the package");
  }
  const std::filesystem::path programFolder = programPath.parent_path();
  const std::filesystem::path places[] = {programFolder, programFolder / ".." / "lib" / "quillet"};
  std::string looked;
  for (const std::filesystem::path& folder : places) {
    const std::filesystem::path candidate = (folder / StubFileName(platform)).lexically_normal();
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) {
      return candidate;
    }
    if (!looked.empty()) {
      looked += " or ";
    }
    looked += TextOfPath(candidate);
  }
  throw EPackerError("no installer for " + std::string(NameOf(platform).option) +
                     " found (looked for " + looked +
                     "); name the installer program before the package");
}

} // namespace quillet::packer
