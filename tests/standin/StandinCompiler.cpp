// A stand-in for an IDE's command-line compiler (dcc32.exe, dcc64.exe) building a design-time
// package, for the tests: no IDE exists where they run. Copied into a fake IDE folder under the
// compiler's name, it takes the switches of a package build, checks them and the .dpk as the
// compiler would, and writes small text files where the compiler writes the package, its .dcp,
// .dcu and C++ files. Every call's command line is appended to standin-calls.txt beside the
// program; a file standin-refuses beside it plays an edition without command-line compiling.
// A .dpk whose text holds "standin-hang" plays a compiler that never ends (it starts a second
// copy of itself that waits too, as a compiler's helper would); "standin-flood N" has it print N
// MiB of lines before it compiles.
// Copied as bds.exe, it plays the running IDE.
// A standalone Windows console program: no project library.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) {
    return {};
  }
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                        nullptr, nullptr);
  return text;
}

// A name in the program's UTF-8 as a path.
fs::path PathOf(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                         wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(std::max(size, 0)));
  return wide;
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) {
    c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
  }
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return text;
}

int Fail(const std::string& line) {
  std::printf("%s\n", line.c_str());
  return 1;
}

// The switches of a package build; the folders are as given.
struct Options {
  std::optional<std::wstring> bplFolder, dcpFolder, dcuFolder, bpiFolder, hppFolder, objFolder;
  std::vector<std::wstring> unitFolders;
  bool cppFiles = false; // -JL
  std::vector<std::wstring> sources;
};

std::vector<std::wstring> SplitFolders(const std::wstring& list) {
  std::vector<std::wstring> folders;
  std::wstringstream stream(list);
  for (std::wstring folder; std::getline(stream, folder, L';');) {
    if (!folder.empty()) {
      folders.push_back(folder);
    }
  }
  return folders;
}

// Reads one switch into `options`; false for a switch the compiler does not know.
bool ReadSwitch(const std::wstring& argument, Options& options) {
  const std::wstring upper = Upper(argument.substr(1));
  const auto value = [&](std::size_t length) { return argument.substr(1 + length); };
  if (upper == L"B" || upper == L"Q" || upper == L"W" || upper == L"H") {
    return true;
  }
  if (upper.size() >= 3 && upper[0] == L'$') { // -$X+ or -$X-
    return upper.back() == L'+' || upper.back() == L'-';
  }
  if (upper == L"JL") {
    options.cppFiles = true;
    return true;
  }
  struct Prefix {
    const wchar_t* text;
    std::optional<std::wstring>* folder;
  };
  // Longer prefixes first: -N0, -NU, -NS and the others before -N.
  const Prefix folders[] = {{L"LE", &options.bplFolder}, {L"LN", &options.dcpFolder},
                            {L"N0", &options.dcuFolder}, {L"NU", &options.dcuFolder},
                            {L"NB", &options.bpiFolder}, {L"NH", &options.hppFolder},
                            {L"NO", &options.objFolder}};
  for (const Prefix& prefix : folders) {
    const std::size_t length = std::wcslen(prefix.text);
    if (upper.compare(0, length, prefix.text) == 0) {
      *prefix.folder = value(length);
      return true;
    }
  }
  if (upper.compare(0, 2, L"NS") == 0) {
    return true;
  }
  if (upper[0] == L'N') {
    options.dcuFolder = value(1);
    return true;
  }
  if (upper[0] == L'U') {
    const std::vector<std::wstring> more = SplitFolders(value(1));
    options.unitFolders.insert(options.unitFolders.end(), more.begin(), more.end());
    return true;
  }
  return upper[0] == L'R' || upper[0] == L'I' || upper[0] == L'O' || upper[0] == L'D';
}

// What the compiler reads of a .dpk: its name, suffix, description and required packages.
struct PackageSource {
  std::string name, suffix, description;
  bool autoSuffix = false;
  std::vector<std::string> requires_;
  std::size_t lines = 0;
  bool fails = false;
  bool hangs = false;
  std::size_t floodMiB = 0;
};

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

// The text of a directive's argument: 'quoted' without quotes, else the word.
std::string DirectiveValue(const std::string& rest) {
  const std::size_t open = rest.find('\'');
  if (open != std::string::npos) {
    const std::size_t close = rest.find('\'', open + 1);
    return rest.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
  }
  std::size_t begin = rest.find_first_not_of(" \t\r\n");
  std::size_t end = begin;
  while (end < rest.size() && IsNameChar(rest[end])) {
    ++end;
  }
  return begin == std::string::npos ? std::string() : rest.substr(begin, end - begin);
}

PackageSource ReadPackage(const std::string& text) {
  PackageSource package;
  package.fails = text.find("standin-fail") != std::string::npos;
  package.hangs = text.find("standin-hang") != std::string::npos;
  if (const std::size_t flood = text.find("standin-flood "); flood != std::string::npos) {
    package.floodMiB = std::strtoul(text.c_str() + flood + 14, nullptr, 10);
  }
  package.lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) +
                  (text.empty() || text.back() == '\n' ? 0 : 1);
  // The code's words and punctuation, with comments and strings left out and directives read.
  std::vector<std::string> tokens;
  for (std::size_t pos = 0; pos < text.size();) {
    const char c = text[pos];
    if (c == '{' || text.compare(pos, 2, "(*") == 0) {
      const bool brace = c == '{';
      const std::size_t end = text.find(brace ? "}" : "*)", pos);
      const std::size_t bodyStart = pos + (brace ? 1 : 2);
      const std::string body =
          text.substr(bodyStart, end == std::string::npos ? std::string::npos : end - bodyStart);
      if (body.starts_with('$')) {
        std::size_t nameEnd = 1;
        while (nameEnd < body.size() && IsNameChar(body[nameEnd])) {
          ++nameEnd;
        }
        const std::string directive = Lower(body.substr(1, nameEnd - 1));
        const std::string value = DirectiveValue(body.substr(nameEnd));
        if (directive == "libsuffix") {
          package.autoSuffix = Lower(value) == "auto" && body.find('\'') == std::string::npos;
          package.suffix = package.autoSuffix ? "" : value;
        } else if (directive == "description") {
          package.description = value;
        }
      }
      pos = end == std::string::npos ? text.size() : end + (brace ? 1 : 2);
    } else if (text.compare(pos, 2, "//") == 0) {
      pos = std::min(text.find('\n', pos), text.size());
    } else if (c == '\'') {
      const std::size_t end = text.find('\'', pos + 1);
      pos = end == std::string::npos ? text.size() : end + 1;
    } else if (IsNameChar(c)) {
      std::size_t end = pos;
      while (end < text.size() && IsNameChar(text[end])) {
        ++end;
      }
      tokens.push_back(text.substr(pos, end - pos));
      pos = end;
    } else {
      if (c == ';' || c == ',') {
        tokens.emplace_back(1, c);
      }
      ++pos;
    }
  }
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::string word = Lower(tokens[i]);
    if (word == "package" && package.name.empty() && i + 1 < tokens.size()) {
      package.name = tokens[i + 1];
    } else if (word == "requires") {
      for (++i; i < tokens.size() && tokens[i] != ";"; ++i) {
        if (tokens[i] != ",") {
          package.requires_.push_back(tokens[i]);
        }
      }
    }
  }
  return package;
}

// The BDS version of the compiler's IDE, from its folder "...\NN.0\bin"; 0 (an IDE that predates
// numbered folders) when it does not say.
int PackageVersion(const fs::path& ownFolder) {
  if (Lower(Utf8(ownFolder.filename().wstring())) != "bin") {
    return 0;
  }
  const std::string version = Utf8(ownFolder.parent_path().filename().wstring());
  const std::size_t dot = version.find('.');
  if (dot == 0 || dot == std::string::npos || version.substr(dot) != ".0" ||
      version.find_first_not_of("0123456789") != dot) {
    return 0;
  }
  return std::stoi(version.substr(0, dot));
}

bool WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

int Compile(const Options& options, const fs::path& ownFolder, const std::string& platform,
            const std::wstring& ownPath) {
  if (options.sources.size() != 1) {
    return Fail("Fatal: F1026 File not found: '" +
                (options.sources.empty() ? std::string() : Utf8(options.sources[1])) + "'");
  }
  const fs::path source = options.sources[0];
  std::error_code error;
  if (Lower(Utf8(source.extension().wstring())) != ".dpk" || !fs::is_regular_file(source, error)) {
    return Fail("Fatal: F1026 File not found: '" + Utf8(source.wstring()) + "'");
  }
  if (!options.bplFolder || !options.dcpFolder) {
    return Fail("Fatal: the stand-in needs the package output folders -LE and -LN");
  }
  for (const auto* folder : {&options.bplFolder, &options.dcpFolder, &options.dcuFolder,
                             &options.bpiFolder, &options.hppFolder, &options.objFolder}) {
    if (*folder && !fs::is_directory(**folder, error)) {
      return Fail("Fatal: F1027 Unit not found or could not create output: '" + Utf8(**folder) +
                  "'");
    }
  }
  std::ifstream in(source, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const PackageSource package = ReadPackage(text);
  if (package.name.empty()) {
    return Fail(Utf8(source.filename().wstring()) + "(1) Error: E2029 'package' expected");
  }
  if (package.hangs) {
    std::printf("%s.dpk(1) compiling for ever\n", package.name.c_str());
    std::fflush(stdout);
    // A helper process of its own, which waits as well: ending the compiler alone leaves it.
    std::wstring helper = L"\"" + ownPath + L"\" --standin-wait";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (::CreateProcessW(ownPath.c_str(), helper.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         nullptr, &startup, &started)) {
      ::CloseHandle(started.hThread);
      ::CloseHandle(started.hProcess);
    }
    ::Sleep(INFINITE);
  }
  if (package.floodMiB > 0) {
    // 64-byte lines, as a compiler's hints and warnings come.
    const std::string line(63, 'w');
    for (std::size_t i = 0; i < package.floodMiB * 16384; ++i) {
      std::printf("%s\n", line.c_str());
    }
  }
  if (package.fails) {
    std::printf("%s.dpk(1) Error: E2003 Undeclared identifier: 'StandinFail'\n",
                package.name.c_str());
    return Fail("Fatal: F2063 Could not compile used unit '" + package.name + ".dpk'");
  }
  // A required package built from the same folder must have been built before this one.
  for (const std::string& required : package.requires_) {
    if (!fs::exists(source.parent_path() / PathOf(required + ".dpk"), error)) {
      continue;
    }
    bool found = fs::exists(fs::path(*options.dcpFolder) / PathOf(required + ".dcp"), error);
    for (const std::wstring& folder : options.unitFolders) {
      found = found || fs::exists(fs::path(folder) / PathOf(required + ".dcp"), error);
    }
    if (!found) {
      return Fail("Fatal: F2613 Unit '" + required + "' not found.");
    }
  }

  const int version = PackageVersion(ownFolder);
  // AUTO is the package version from RAD Studio 10.4 (BDS 21.0); older compilers add nothing.
  const std::string suffix =
      !package.autoSuffix ? package.suffix
      : version < 21      ? std::string()
                          : std::to_string(version < 37 ? (version + 6) * 10 : version * 10);
  const std::string about = "Quillet stand-in output\npackage " + package.name + "\nplatform " +
                            platform + "\ndescription " + package.description + "\n";
  const fs::path linkFolder = *(options.bpiFolder ? options.bpiFolder : options.dcpFolder);
  std::vector<std::pair<fs::path, std::string>> files = {
      {fs::path(*options.bplFolder) / PathOf(package.name + suffix + ".bpl"), "bpl\n"},
      {fs::path(*options.dcpFolder) / PathOf(package.name + ".dcp"), "dcp\n"}};
  if (options.dcuFolder) {
    files.push_back({fs::path(*options.dcuFolder) / PathOf(package.name + ".dcu"), "dcu\n"});
  }
  if (options.cppFiles) {
    const fs::path hppFolder = options.hppFolder   ? fs::path(*options.hppFolder)
                               : options.dcuFolder ? fs::path(*options.dcuFolder)
                                                   : source.parent_path();
    files.push_back({linkFolder / PathOf(package.name + ".bpi"), "bpi\n"});
    files.push_back({linkFolder / PathOf(package.name + ".lib"), "lib\n"});
    files.push_back({hppFolder / PathOf(package.name + ".hpp"), "hpp\n"});
  }
  for (const auto& [path, kind] : files) {
    if (!WriteText(path, about + kind)) {
      return Fail("Fatal: F1027 Unit not found or could not create output: '" +
                  Utf8(path.wstring()) + "'");
    }
  }
  std::printf("%zu lines, 0.01 seconds, 0 bytes code, 0 bytes data.\n", package.lines);
  return 0;
}

} // namespace

int main() {
  std::wstring ownPath(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        ::GetModuleFileNameW(nullptr, ownPath.data(), static_cast<DWORD>(ownPath.size()));
    if (n < ownPath.size()) {
      ownPath.resize(n);
      break;
    }
    ownPath.resize(ownPath.size() * 2);
  }
  const fs::path own(ownPath);
  const fs::path ownFolder = own.parent_path();
  // Copied as bds.exe it plays a running IDE instead: it waits until a file standin-stop appears
  // beside it, a minute at most.
  if (Lower(Utf8(own.filename().wstring())) == "bds.exe") {
    std::error_code error;
    for (int i = 0; i < 600 && !fs::exists(ownFolder / "standin-stop", error); ++i) {
      ::Sleep(100);
    }
    return 0;
  }
  // The helper of a compiler that hangs: it waits for ever too.
  if (std::wstring(::GetCommandLineW()).find(L"--standin-wait") != std::wstring::npos) {
    ::Sleep(INFINITE);
  }
  const std::string platform =
      Lower(Utf8(own.stem().wstring())).find("dcc64") != std::string::npos ? "Win64" : "Win32";
  std::printf("Quillet stand-in compiler for %s (plays the IDE's dcc)\n", platform.c_str());

  const std::wstring commandLine = ::GetCommandLineW();
  {
    std::ofstream calls(ownFolder / "standin-calls.txt", std::ios::binary | std::ios::app);
    calls << Utf8(commandLine) << "\n";
  }
  std::error_code error;
  if (fs::exists(ownFolder / "standin-refuses", error)) {
    return Fail("This version of the product does not support command line compiling.");
  }

  struct LocalMemory {
    void operator()(LPWSTR* list) const { ::LocalFree(list); }
  };
  int count = 0;
  const std::unique_ptr<LPWSTR, LocalMemory> list(
      ::CommandLineToArgvW(commandLine.c_str(), &count));
  Options options;
  for (int i = 1; list && i < count; ++i) {
    const std::wstring argument = list.get()[i];
    if (argument.size() >= 2 && (argument[0] == L'-' || argument[0] == L'/')) {
      if (!ReadSwitch(argument, options)) {
        return Fail("Fatal: F1029 Bad command line option: " + Utf8(argument));
      }
    } else {
      options.sources.push_back(argument);
    }
  }
  const int status = Compile(options, ownFolder, platform, ownPath);
  std::fflush(stdout);
  return status;
}
