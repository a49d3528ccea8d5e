// Writes the fuzz targets' seed corpora, made with the project's own package writer, so that no
// binary package is kept in the repository. Usage: quillet-fuzz-seeds FOLDER; each target's
// seeds go to a subfolder named after it (package, run, commandline, template, registry).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Package/PackageWriter.h"

namespace {

namespace fs = std::filesystem;
using namespace quillet;
using namespace std::string_literals;

void Write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    throw std::runtime_error(path.string() + ": cannot write the seed");
  }
}

// Packages that reach every step of a run: welcome and patch texts, flagged entries, both
// macros, a readme, an empty entry, a repeated name, sizes that are wrong or missing.
std::vector<std::pair<std::string, std::string>> Packages() {
  PackageContents standard;
  standard.defaultFolder = "%Delphi%Components\\Demo\\";
  standard.entries = {
      MakeStoredEntry("", "welcome.txt", "Welcome to the demo components", 0),
      MakeStoredEntry("", "patchinfo.txt", "{ patched for %zel_root% and %Delphi% }", 0),
      MakeStoredEntry("%zel_root%Source\\", "a.pas", "unit a;\r\ninterface\r\nend.\r\n",
                      ENTRY_INSTALL, 36671, 219),
      MakeStoredEntry("%zel_root%Source", "b.pas", "unit b;", ENTRY_INSTALL | ENTRY_PREPEND_PATCH),
      MakeStoredEntry("%zel_root%.", "README.html", "<html><body>demo</body></html>"),
      MakeStoredEntry("%Delphi%Lib", "demo.dcu", std::string(3000, '\x7f')),
      MakeStoredEntry("%zel_root%", "empty.txt", ""),
      MakeStoredEntry("%zel_root%Other\\", "A.PAS", "the same name again"),
      MakeStoredEntry("%zel_root%100%%\\", "percent.txt", "a folder with a percent sign"),
  };
  PackageContents checked = standard;
  AddRecordCheck(checked);

  PackageContents sizes = standard;
  sizes.entries[2].unpackedSize = 0;
  sizes.entries[5].unpackedSize = 1;
  sizes.entries[6].unpackedSize = 0xFFFFFFF0u;

  PackageContents relative;
  relative.defaultFolder = "Target";
  relative.entries = {MakeStoredEntry("%zel_root%sub", "x.pas", "x"),
                      MakeStoredEntry("", "plain.txt", "relative to the current folder")};

  // Names and texts in the code page the package records (936), converted under any locale.
  PackageContents recorded;
  recorded.defaultFolder = "%Delphi%\xD7\xE9\xBC\xFE\\";
  recorded.entries = {
      MakeStoredEntry("", "codepage.txt", "936\r\n", 0),
      MakeStoredEntry("", "patchinfo.txt", "{ %zel_root% }", 0),
      MakeStoredEntry("%zel_root%\xD4\xB4\xC2\xEB", "\xD6\xD0\xCE\xC4.pas", "unit a;",
                      ENTRY_INSTALL | ENTRY_PREPEND_PATCH),
  };

  const std::string program(4096, '\x90'); // a package appended to a program file
  return {{"standard.qpk", SerializePackage(standard)},
          {"checked.qpk", SerializePackage(checked)},
          {"appended.exe", program + SerializePackage(checked)},
          {"sizes.qpk", SerializePackage(sizes)},
          {"relative.qpk", SerializePackage(relative)},
          {"recorded.qpk", SerializePackage(recorded)}};
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quillet-fuzz-seeds FOLDER\n");
    return 2;
  }
  const fs::path root = argv[1];
  try {
    for (const auto& [name, bytes] : Packages()) {
      Write(root / "package" / name, bytes);
      Write(root / "run" / name, bytes);
    }
    const std::vector<std::string> lines = {
        "setup.exe", "\"C:\\Program Files\\setup.exe\" pkg.dat extra",
        "setup \"\" \"C:\\My Files\\pkg.dat\"", "setup C:\\My\" \"Files\\pkg.dat",
        std::string("setup \"unterminated \x01\xff")};
    for (std::size_t i = 0; i < lines.size(); ++i) {
      Write(root / "commandline" / ("line" + std::to_string(i)), lines[i]);
    }
    const std::vector<std::string> templates = {
        "%Delphi%Lib\\\0C:\\IDE\0D:\\Pkg"s, "%zel_root%Source\\%%a%%\0C:\\IDE\\\0D:\\Pkg\\"s,
        "%unknown%x%open\0\0"s, "%ZEL_ROOT%\0 C:\\ \0 %Delphi% "s};
    for (std::size_t i = 0; i < templates.size(); ++i) {
      Write(root / "template" / ("template" + std::to_string(i)), templates[i]);
    }
    Write(root / "registry" / "system.reg",
          "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n"
          "[Software\\\\Wow6432Node\\\\Borland\\\\Delphi\\\\7.0] 1796736037\n"
          "#time=1dc5a1b2c3d4e5f\n"
          "\"RootDir\"=\"C:\\\\Program Files\\\\Borland\\\\Delphi7\\\\\"\n"
          "\"Kind\"=str(2):\"%ProgramFiles%\\\\x\"\n\"Size\"=dword:0000000a\n"
          "\"Data\"=hex:00,01,02,\\\n  03,04\n\"Wide\"=hex(1):43,00,3a,00,00,00\n"
          "@=\"default \\\"quoted\\\" \\x41 \\n\"\n\n"
          "[Software\\\\Borland\\\\C++Builder\\\\6.0] 1796736037\n\"RootDir\"=\"C:\\\\CB6\"\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillet-fuzz-seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
