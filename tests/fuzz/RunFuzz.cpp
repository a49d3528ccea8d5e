// libFuzzer target: the whole installer run on any bytes as the package file, with a fixed
// registry (Delphi 7 at C:\D7, C++Builder 6 at C:\CB6) and every answer an ENTER. Unlike the
// package target it reaches macro expansion, path mapping, folder creation and the writes.
// Everything happens below one sandbox folder, which is emptied after every input; run it as a
// user who may write nowhere else (scripts/fuzz.sh does), since a package may name any path.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "Installer/RunInstaller.h"

namespace {

namespace fs = std::filesystem;

fs::path g_sandbox;

void WriteWhole(const fs::path& path, const char* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data, static_cast<std::streamsize>(size));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // In memory where there is such a folder: every installed file is synced to its disk.
  std::error_code error;
  std::string pattern = fs::is_directory("/dev/shm", error) ? "/dev/shm" : "/tmp";
  pattern += "/quillet-runfuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::abort();
  }
  g_sandbox = pattern;
  std::atexit([] {
    std::error_code error;
    fs::remove_all(g_sandbox, error);
  });
  const fs::path prefix = g_sandbox / "prefix";
  fs::create_directories(prefix / "drive_c");
  fs::create_directories(prefix / "dosdevices");
  fs::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
  const std::string reg = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
                          "#arch=win32\n\n"
                          "[Software\\\\Borland\\\\Delphi\\\\7.0] 1796736037\n"
                          "\"RootDir\"=\"C:\\\\D7\"\n\n"
                          "[Software\\\\Borland\\\\C++Builder\\\\6.0] 1796736037\n"
                          "\"RootDir\"=\"C:\\\\CB6\\\\\"\n";
  WriteWhole(prefix / "system.reg", reg.data(), reg.size());
  fs::create_directories(g_sandbox / "work");
  ::setenv("WINEPREFIX", prefix.c_str(), 1);
  ::unsetenv("DISPLAY"); // the readme is never opened
  ::unsetenv("WAYLAND_DISPLAY");
  // Answers are all ENTER (input at its end); the console text is not looked at.
  const int null = ::open("/dev/null", O_RDWR);
  ::dup2(null, 0);
  ::dup2(null, 1);
  ::close(null);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path work = g_sandbox / "work";
  const fs::path package = g_sandbox / "pkg.dat";
  WriteWhole(package, reinterpret_cast<const char*>(data), size);
  std::error_code error;
  fs::current_path(work, error); // relative target paths land in the sandbox
  try {
    quillet::RunInstaller({package.string()});
  } catch (...) {
    // An exception ends a run with its failure report; that is an outcome, not a finding.
  }
  for (const fs::path& folder : {work, g_sandbox / "prefix" / "drive_c"}) {
    for (const auto& item : fs::directory_iterator(folder, error)) {
      fs::remove_all(item.path(), error);
    }
  }
  return 0;
}
