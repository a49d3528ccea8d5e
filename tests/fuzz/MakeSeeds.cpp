// Writes the fuzz targets' seed corpora, made with the project's own package writer, so that no
// binary package is kept in the repository. Usage: quillet-fuzz-seeds FOLDER; each target's
// seeds go to a subfolder named after it (package, run, commandline, template, registry, record,
// index, dpk, settings).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Package/InstallRecord.h"
#include "Package/PackageWriter.h"
#include "Package/SettingsTexts.h"

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

// Records and journals as turns write them: every kind of line, a journal with its previous
// folder and a last line cut short, LF alone, a byte order mark, lines of kinds not known here and
// lines whose fields are wrong.
std::vector<std::pair<std::string, std::string>> Records() {
  InstallRecord record;
  record.name = "Widgets";
  record.version = "2.1";
  record.ide = "Software\\Embarcadero\\BDS\\23.0";
  record.folder = "C:\\Lib\\Widgets\\";
  record.files = {{"Source\\Widgets.pas", 1234, 0x89abcdef, 0x58612000},
                  {"Doc\\guide.html", 0, 0, 0},
                  {"C:\\Users\\Public\\Documents\\Embarcadero\\Studio\\23.0\\Bpl\\WidgetsD290.bpl",
                   65536, 0xffffffff, 0xffffffff}};
  record.createdFolders = {"C:\\Lib\\Widgets\\Source", "C:\\Lib\\Widgets\\Doc"};
  record.library = {
      {"Software\\Embarcadero\\BDS\\23.0\\Library\\Win32", "Search Path",
       "C:\\Lib\\Widgets\\Source"},
      {"Software\\Embarcadero\\BDS\\23.0\\Library\\Win64", "Browsing Path", "$(BDS)\\Widgets"}};
  record.registered = {{"Software\\Embarcadero\\BDS\\23.0\\Known Packages",
                        "C:\\Users\\Public\\Documents\\Embarcadero\\Studio\\23.0\\Bpl\\"
                        "WidgetsD290.bpl"}};
  const std::string whole = RecordText(record);

  InstallRecord journal = record;
  journal.previous = "D:\\Old\\Widgets\\";
  const std::string journalText = RecordText(journal);
  std::string cut = journalText.substr(0, journalText.size() - 9);

  std::string lf = whole;
  std::erase(lf, '\r');

  const std::string odd =
      "quillet-record\t1\r\nname\tOld Kit_2+\r\nide\t\r\nfolder\t\\\\server\\share\\kit\\\r\n"
      "future\tkind\tof\tline\r\nfile\t12\t0000000g\t2024-03-01 12:00:00\tbad.crc\r\n"
      "file\t12\t00000000\t2024-13-01 12:00:00\tmonth.pas\r\n"
      "file\t1\t00000001\t2107-15-31 31:63:62\tfar.pas\r\n"
      "file\t12\t00000000\t2024-03-01 12:00:00\t..\\outside.pas\r\n"
      "file\t12\t00000000\t2024-03-01 12:00:00\tsub\\. .\\up.pas\r\n"
      "file\t+1\t00000000\t2024-03-01 12:00:00\tsigned.pas\r\n"
      "created\trelative\\folder\r\nlibrary\tkey\t\tC:\\x\r\nregistered\t\tname\r\n"
      "version\t\r\nname\tCON\r\n";
  InstallRecord bare;
  bare.name = "Bare";
  return {{"record.txt", whole},
          {"journal.txt", journalText},
          {"cut-journal.txt", cut},
          {"lf.txt", lf},
          {"bom.txt", "\xEF\xBB\xBF" + whole},
          {"odd.txt", odd},
          {"bare.txt", RecordText(bare)}};
}

// Delphi package projects as IDEs write them, and the odd corners of the language.
std::vector<std::pair<std::string, std::string>> Projects() {
  const std::string designTime =
      "\xEF\xBB\xBFpackage WidgetsDesign;\r\n\r\n{$R *.res}\r\n{$R 'Widgets.dcr'}\r\n"
      "{$IFDEF IMPLICITBUILDING This IFDEF should not be used by users}\r\n{$ALIGN 8}\r\n"
      "{$DESCRIPTION 'Widgets: design-time editors'}\r\n{$LIBSUFFIX AUTO}\r\n{$DESIGNONLY}\r\n"
      "{$IMPLICITBUILD ON}\r\n{$ENDIF IMPLICITBUILDING}\r\n\r\nrequires\r\n  rtl,\r\n  vcl,\r\n"
      "  designide,\r\n  WidgetsRuntime;\r\n\r\ncontains\r\n"
      "  Widgets.Editors in 'Source\\Widgets.Editors.pas',\r\n"
      "  Widgets.Register in 'Source\\Widgets.Register.pas' {RegisterForm};\r\n\r\nend.\r\n";
  const std::string runTime =
      "// run-time package\npackage Vcl.WidgetsRuntime;\n(*$LIBSUFFIX '290'*)\n{$RUNONLY ON}\n"
      "{$D+}{$D 'It''s a description'}\n{ requires Fake; }\n(* contains Fake; *)\nrequires\n"
      "  rtl, vcl; // and nothing more\ncontains\n  &Type in 'Type.pas', Widgets.Core,\n"
      "  Widgets.Grid in 'Widgets.Grid.pas' {GridFrame: TFrame};\nend.";
  return {{"design.dpk", designTime},
          {"runtime.dpk", runTime},
          {"unclosed.dpk", "package P;\n{$DESCRIPTION 'never closed\nrequires a, 'b;\ncontains"},
          {"bare.dpk", "package _1;end."},
          {"empty-directive.dpk", "{$}(*$*)package X ; {$LIBSUFFIX ''} requires ; end"}};
}

// Settings texts, split at NUL as the target reads them: librarypaths.txt, packages.txt,
// identity.txt and codepage.txt.
std::vector<std::pair<std::string, std::string>> Settings() {
  LibrarySettings library;
  library.platforms = {"Win32", "Win64"};
  library.searchPaths = {"%zel_root%Source", "%zel_root%Lib\\%platform%"};
  library.browsingPaths = {"%zel_root%Source"};
  library.includePaths = {"%zel_root%Include"};
  VersionedLibrary newer;
  newer.ides.source = IdeListSource::Package;
  newer.ides.paths = {"\\Software\\Embarcadero\\BDS\\", "\\Software\\CodeGear\\BDS\\"};
  newer.ides.bounds = {">=22.0", ""};
  newer.folders.searchPaths = {"%zel_root%Source\\Rx"};
  newer.folders.includePaths = {"%zel_root%Include\\Rx"};
  VersionedLibrary older = newer;
  older.ides.paths = {"\\Software\\Borland\\Delphi\\"};
  older.ides.bounds = {"<=7.0"};
  older.folders = {{"%zel_root%Source\\D7"}, {"%zel_root%Source\\D7"}, {}};
  library.versioned = {newer, older};

  PackageSet set;
  set.ides = newer.ides;
  set.runtime = {"%zel_root%Packages\\WidgetsRuntime.dpk"};
  set.design = {"%zel_root%Packages\\WidgetsDesign.dpk"};
  set.platforms = {"Win32", "Win64"};
  set.prebuilt = {"%zel_root%Bpl\\%platform%"};
  PackageSet plain;
  plain.runtime = {"%zel_root%Plain.dpk"};

  const std::string nul(1, '\0');
  const auto join = [&nul](std::string a, std::string b, std::string c, std::string d) {
    return a + nul + b + nul + c + nul + d;
  };
  return {
      {"written", join(LibrarySettingsText(library), PackageSetsText({set, plain}),
                       IdentityText({"Widgets", "2.1"}), CodePageText(1252))},
      {"by-hand",
       join("  platform = Win64 \nlibrary-path=  spaced\rfor-library-path=orphan\n"
            "for=\\Software\\Embarcadero\\BDS\\\nfor=\\Software\\Borland\\Delphi\\\n"
            "for-bounds=<=7.0\nfor-browsing-path=x\nfor=\\Software\\Other\\\nunknown=1\n",
            "runtime=before any set\r\nset\r\nbounds=>=1.0\r\nide=\\Software\\A\\\r\n"
            "bounds= >=23.0 \r\nset\r\n",
            "name=  Widgets Kit \r\nversion=\r\nname=CON\r\n", " 65001 \r\nignored\r\n")},
      {"wrong-numbers", join("", "set", "name=.hidden\nversion=1 2", "0")},
      {"large-code-page", join("platform=\r\n", "", "version=9", "4294967295\r\n")},
      {"too-large-code-page", join("", "", "", "4294967296")},
      {"zeros-code-page", join("", "", "", "00000000001252\r\n")},
  };
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
    const auto writeAll = [&root](const char* corpus, const auto& seeds) {
      for (const auto& [name, bytes] : seeds) {
        Write(root / corpus / name, bytes);
      }
    };
    writeAll("record", Records());
    writeAll("dpk", Projects());
    writeAll("settings", Settings());
    const std::vector<std::pair<std::string, std::string>> indexTexts = {
        {"one", "C:\\Lib\\Widgets\\"},
        {"replacing", "C:\\Lib\\Widgets\\|D:\\Old\\Widgets\\|E:\\Older\\"},
        {"blanks", "  C:\\Lib\\ || | \t\\\\server\\share\\ |"},
        {"empty", ""}};
    writeAll("index", indexTexts);
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
