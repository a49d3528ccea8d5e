// Finding the installer program (the stub) that `attach` puts in front of a package, for a
// platform named on the command line, among the files installed with quillet-pack.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace quillet::packer {

enum class StubPlatform { Linux, Windows, WindowsX86 };

// "linux", "windows" or "windows-x86"; nullopt for any other name.
std::optional<StubPlatform> StubPlatformNamed(std::string_view name);

// The platform quillet-pack itself was built for: the default of `attach --for`.
StubPlatform HostStubPlatform();

// The stub's file name: quillet-sfx, quillet-sfx.exe or quillet-sfx-x86.exe.
std::string_view StubFileName(StubPlatform platform);

// The stub for `platform`, looked for next to the program file `programPath`, then in
// ../lib/quillet/ relative to it, as `cmake --install` lays them out. Throws EPackerError naming
// every place looked in when neither holds it.
std::filesystem::path LocateStub(StubPlatform platform, const std::filesystem::path& programPath);

} // namespace quillet::packer
