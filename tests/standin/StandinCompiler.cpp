// A stand-in for an IDE's command-line compiler (dcc32.exe, dcc64.exe) building a design-time
// package, for the tests: no IDE exists where they run. Copied into a fake IDE folder under the
// compiler's name, it takes the switches of a package build as the compiler of that folder's
// version reads them, reads the .dpk, its include files and its contained units' sources as the
// compiler would (conditional branches, resource and include files, the units and required
// packages it looks for, with the compiler's messages), and writes small text files where the
// compiler writes the package, its .dcp, a .dcu per unit and the C++ files. docs/ide-packages.md
// ("What the stand-in compiler checks") lists each rule with its source.
// Every call's command line is appended to standin-calls.txt beside the program; a file
// standin-refuses beside it plays an edition without command-line compiling.
// A .dpk whose text holds "standin-hang" plays a compiler that never ends (it starts a second
// copy of itself that waits too, as a compiler's helper would); "standin-flood N" has it print N
// MiB of lines before it compiles; "standin-fail" has it fail as on a compile error.
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
#include <map>
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

// The longest folder that compilers before BDS 3.0 take in a switch (JCL's AddPathOption).
constexpr std::size_t OLD_PATH_LIMIT = 126;

// The switches of a package build; the folders are as given.
struct Options {
  std::optional<std::wstring> bplFolder, dcpFolder, dcuFolder, bpiFolder, hppFolder, objFolder;
  std::vector<std::wstring> unitFolders, includeFolders, resourceFolders;
  std::vector<std::string> defines;
  bool cppFiles = false; // -JL
  bool tooLongPath = false;
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

// Reads one switch into `options` as the compiler of BDS `version` reads it (0: an IDE before
// BDS, taken as Delphi 7); false for a switch that compiler does not know.
bool ReadSwitch(const std::wstring& argument, Options& options, int version) {
  const std::wstring upper = Upper(argument.substr(1));
  const auto value = [&](std::size_t length) { return argument.substr(1 + length); };
  const auto folder = [&](std::optional<std::wstring>& into, std::size_t length) {
    into = value(length);
    options.tooLongPath = options.tooLongPath || (version == 0 && into->size() > OLD_PATH_LIMIT);
    return true;
  };
  const auto list = [&](std::vector<std::wstring>* into) {
    for (const std::wstring& one : SplitFolders(value(1))) {
      options.tooLongPath = options.tooLongPath || (version == 0 && one.size() > OLD_PATH_LIMIT);
      if (into != nullptr) {
        into->push_back(one);
      }
    }
    return true;
  };
  if (upper == L"-NO-CONFIG") {
    return version >= 4;
  }
  if (!upper.empty() && std::wstring_view(L"BQMWH").find(upper[0]) != std::wstring_view::npos &&
      (upper.size() == 1 || (upper.size() == 2 && (upper[1] == L'+' || upper[1] == L'-')))) {
    return true;
  }
  if (upper.size() >= 3 && upper[0] == L'$') { // -$X+ or -$X-
    return upper.back() == L'+' || upper.back() == L'-';
  }
  if (upper == L"JL") {
    options.cppFiles = true;
    return version >= 3;
  }
  struct Prefix {
    const wchar_t* text;
    std::optional<std::wstring>* folder;
    int since; // the first BDS version that reads it
  };
  // Longer prefixes first. A compiler that does not know -NU, -NB and the others reads them as
  // -N followed by a folder, as -N<path> was read before them.
  std::optional<std::wstring> unused;
  const Prefix folders[] = {{L"LE", &options.bplFolder, 0},
                            {L"LN", &options.dcpFolder, 0},
                            {L"LU", nullptr, 0},
                            {L"N0", &options.dcuFolder, 0},
                            {L"NU", &options.dcuFolder, 10},
                            {L"NB", &options.bpiFolder, 3},
                            {L"NH", &options.hppFolder, 3},
                            {L"NO", &options.objFolder, 3},
                            {L"NS", nullptr, 9},
                            {L"E", &unused, 0}};
  for (const Prefix& prefix : folders) {
    const std::size_t length = std::wcslen(prefix.text);
    if (upper.compare(0, length, prefix.text) == 0 && version >= prefix.since) {
      return prefix.folder == nullptr || folder(*prefix.folder, length);
    }
  }
  switch (upper.empty() ? L'\0' : upper[0]) {
  case L'N':
    return folder(options.dcuFolder, 1);
  case L'U':
    return list(&options.unitFolders);
  case L'I':
    return list(&options.includeFolders);
  case L'R':
    return list(&options.resourceFolders);
  case L'O':
    return list(nullptr);
  case L'D':
    for (const std::wstring& name : SplitFolders(value(1))) {
      options.defines.push_back(Utf8(Upper(name)));
    }
    return true;
  default:
    return false;
  }
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

std::string UpperText(std::string text) {
  for (char& c : text) {
    c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return text;
}

std::string TrimLeft(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(" \t\r\n");
  return begin == std::string::npos ? std::string() : text.substr(begin);
}

// A directive's arguments: 'quoted' ones without their quotes, others up to a blank.
std::vector<std::string> DirectiveArguments(const std::string& rest) {
  std::vector<std::string> arguments;
  for (std::size_t pos = 0; pos < rest.size();) {
    if (rest[pos] == ' ' || rest[pos] == '\t' || rest[pos] == '\r' || rest[pos] == '\n') {
      ++pos;
    } else if (rest[pos] == '\'') {
      const std::size_t close = rest.find('\'', pos + 1);
      arguments.push_back(
          rest.substr(pos + 1, close == std::string::npos ? std::string::npos : close - pos - 1));
      pos = close == std::string::npos ? rest.size() : close + 1;
    } else {
      const std::size_t end = std::min(rest.find_first_of(" \t\r\n", pos), rest.size());
      arguments.push_back(rest.substr(pos, end - pos));
      pos = end;
    }
  }
  return arguments;
}

// The text of a directive's argument: 'quoted' without quotes, else the word.
std::string DirectiveValue(const std::string& rest) {
  const std::vector<std::string> arguments = DirectiveArguments(rest);
  if (arguments.empty()) {
    return {};
  }
  std::size_t end = 0;
  while (end < arguments[0].size() && IsNameChar(arguments[0][end])) {
    ++end;
  }
  return rest.find('\'') != std::string::npos ? arguments[0] : arguments[0].substr(0, end);
}

// The extension of a file name as a directive gives it, "" when it has none.
std::string ExtensionOf(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  const std::size_t separator = name.find_last_of("\\/");
  return dot == std::string::npos || (separator != std::string::npos && dot < separator)
             ? std::string()
             : name.substr(dot);
}

std::string ReplaceStar(std::string name, const std::string& base) {
  for (std::size_t star = name.find('*'); star != std::string::npos;
       star = name.find('*', star + base.size())) {
    name.replace(star, 1, base);
  }
  return name;
}

// The first of `folders` that holds the file `name`; a name with a drive or a leading separator
// only as it is.
std::optional<fs::path> FindFile(const std::string& name, const std::vector<fs::path>& folders) {
  std::error_code error;
  const bool absolute =
      (name.size() >= 2 && name[1] == ':') || name.starts_with('\\') || name.starts_with('/');
  if (absolute) {
    return fs::is_regular_file(PathOf(name), error) ? std::optional<fs::path>(PathOf(name))
                                                    : std::nullopt;
  }
  for (const fs::path& folder : folders) {
    if (fs::is_regular_file(folder / PathOf(name), error)) {
      return folder / PathOf(name);
    }
  }
  return std::nullopt;
}

std::vector<fs::path> Folders(const std::vector<fs::path>& first,
                              const std::vector<std::wstring>& more) {
  std::vector<fs::path> folders = first;
  folders.insert(folders.end(), more.begin(), more.end());
  return folders;
}

// What a conditional symbol or condition is known to be; a symbol the stand-in cannot know (one
// of a configuration file, or set in a branch it could not decide) is Unsure, and code under it
// is neither checked nor trusted.
enum class Known { No, Yes, Unsure };

// The VERnnn symbol of BDS `version` (docwiki "Compiler Versions"); 0 when not known.
int CompilerSymbol(int version) {
  if (version == 0) {
    return 150; // Delphi 7
  }
  if (version >= 2 && version <= 8) {
    const int symbols[] = {160, 170, 180, 185, 200, 210, 220};
    return symbols[version - 2];
  }
  if (version >= 9 && version <= 12) {
    return (version + 14) * 10;
  }
  if (version >= 14 && version <= 23) {
    return (version + 13) * 10;
  }
  return version >= 37 ? version * 10 : 0;
}

// One compilation's reading of its sources: the conditional symbols, the open conditional
// branches, and the resource files that the link will not find.
struct Reading {
  explicit Reading(const Options& given) : options(given) {}

  const Options& options;
  int compilerSymbol = 0;
  std::map<std::string, bool> start; // what every module starts with
  std::map<std::string, bool> symbols;
  struct Branch {
    Known outer, state;
    bool taken, maybeTaken; // an earlier branch surely or possibly compiled
  };
  std::vector<Branch> branches;
  std::vector<std::string> missingResources;
  std::string fatal;
  // The package's own directives.
  std::string suffix, description;
  bool autoSuffix = false;

  Known Current() const { return branches.empty() ? Known::Yes : branches.back().state; }

  Known Symbol(const std::string& name) const {
    if (name.size() > 3 && name.starts_with("VER") &&
        name.find_first_not_of("0123456789", 3) == std::string::npos) {
      const std::string number = name.substr(3);
      return compilerSymbol == 0 ? Known::Unsure
             : number == std::to_string(compilerSymbol) ||
                     (compilerSymbol == 185 && number == "180")
                 ? Known::Yes
                 : Known::No;
    }
    const auto found = symbols.find(name);
    return found == symbols.end() ? Known::Unsure : found->second ? Known::Yes : Known::No;
  }

  // {$IF}: Defined(X) and not Defined(X) are read, any other condition is Unsure.
  Known Condition(const std::string& rest) const {
    std::string text = UpperText(rest);
    text.erase(
        std::remove_if(text.begin(), text.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }),
        text.end());
    const bool negated = text.starts_with("NOT");
    const std::string inner = negated ? text.substr(3) : text;
    if (!inner.starts_with("DEFINED(") || !inner.ends_with(")")) {
      return Known::Unsure;
    }
    const Known known = Symbol(inner.substr(8, inner.size() - 9));
    return !negated || known == Known::Unsure ? known
           : known == Known::Yes              ? Known::No
                                              : Known::Yes;
  }

  static Known Within(Known outer, Known condition) {
    return outer == Known::No || condition == Known::No           ? Known::No
           : outer == Known::Unsure || condition == Known::Unsure ? Known::Unsure
                                                                  : Known::Yes;
  }

  void Open(Known condition) {
    const Known outer = Current();
    branches.push_back(
        {outer, Within(outer, condition), condition == Known::Yes, condition == Known::Unsure});
  }

  void Else(Known condition) {
    if (branches.empty()) {
      return;
    }
    Branch& branch = branches.back();
    const Known taken = branch.taken                                  ? Known::No
                        : branch.maybeTaken && condition != Known::No ? Known::Unsure
                                                                      : condition;
    branch.state = Within(branch.outer, taken);
    branch.taken = branch.taken || taken == Known::Yes;
    branch.maybeTaken = branch.maybeTaken || taken == Known::Unsure;
  }
};

struct Token {
  std::string text; // a string literal keeps its opening quote
  std::size_t line;
};

bool ReadFile(Reading& reading, const fs::path& file, const fs::path& module,
              std::vector<Token>* tokens, int depth);

// One directive of `file` at `line`, part of the module whose source is `module`; false when it
// stops the compiler.
bool ReadDirective(Reading& reading, const std::string& body, const fs::path& file,
                   const fs::path& module, std::size_t line, std::vector<Token>* tokens,
                   int depth) {
  std::size_t nameEnd = 0;
  while (nameEnd < body.size() && IsNameChar(body[nameEnd]) && body[nameEnd] != '.') {
    ++nameEnd;
  }
  const std::string directive = Lower(body.substr(0, nameEnd));
  const std::string rest = body.substr(nameEnd);
  const std::vector<std::string> arguments = DirectiveArguments(rest);
  const std::string symbol = arguments.empty() ? std::string() : UpperText(arguments[0]);
  if (directive == "ifdef" || directive == "ifndef") {
    const Known known = reading.Symbol(symbol);
    reading.Open(directive == "ifdef" || known == Known::Unsure ? known
                 : known == Known::Yes                          ? Known::No
                                                                : Known::Yes);
    return true;
  }
  if (directive == "if" || directive == "ifopt") {
    reading.Open(directive == "if" ? reading.Condition(rest) : Known::Unsure);
    return true;
  }
  if (directive == "elseif" || directive == "else") {
    reading.Else(directive == "else" ? Known::Yes : reading.Condition(rest));
    return true;
  }
  if (directive == "endif" || directive == "ifend") {
    if (!reading.branches.empty()) {
      reading.branches.pop_back();
    }
    return true;
  }
  if (reading.Current() != Known::Yes) {
    if (reading.Current() == Known::Unsure && (directive == "define" || directive == "undef")) {
      reading.symbols.erase(symbol);
    }
    return true;
  }
  const std::string trimmed = TrimLeft(rest);
  const bool isSwitch = trimmed.starts_with('+') || trimmed.starts_with('-');
  if (directive == "define" || directive == "undef") {
    reading.symbols[symbol] = directive == "define";
  } else if ((directive == "r" || directive == "resource") && !isSwitch && !arguments.empty()) {
    // {$R file.res file.rc}, and since 10.4 predicates: linked when one of them is defined.
    Known linked = arguments.size() > 1 ? Known::No : Known::Yes;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
      const Known predicate = Lower(ExtensionOf(arguments[i])) == ".rc"
                                  ? Known::Yes
                                  : reading.Symbol(UpperText(arguments[i]));
      linked = linked == Known::Yes || predicate == Known::Yes ? Known::Yes
               : predicate == Known::Unsure                    ? Known::Unsure
                                                               : linked;
    }
    std::string name = ReplaceStar(arguments[0], Utf8(module.stem().wstring()));
    name += ExtensionOf(name).empty() ? ".res" : "";
    const std::vector<fs::path> folders =
        Folders({module.parent_path(), file.parent_path()}, reading.options.resourceFolders);
    if (linked == Known::Yes && !FindFile(name, folders) &&
        std::find(reading.missingResources.begin(), reading.missingResources.end(), name) ==
            reading.missingResources.end()) {
      reading.missingResources.push_back(name);
    }
  } else if ((directive == "i" || directive == "include") && !isSwitch && !arguments.empty() &&
             !arguments[0].starts_with('%')) {
    std::string name = ReplaceStar(arguments[0], Utf8(file.stem().wstring()));
    name += ExtensionOf(name).empty() ? ".pas" : "";
    const std::optional<fs::path> found = FindFile(
        name, Folders({file.parent_path(), module.parent_path()}, reading.options.includeFolders));
    if (!found) {
      reading.fatal = Utf8(file.filename().wstring()) + "(" + std::to_string(line) +
                      ") Fatal: F1026 File not found: '" + name + "'";
      return false;
    }
    return depth >= 16 || ReadFile(reading, *found, module, tokens, depth + 1);
  } else if (directive == "libsuffix" && tokens != nullptr) {
    reading.autoSuffix =
        Lower(DirectiveValue(rest)) == "auto" && rest.find('\'') == std::string::npos;
    reading.suffix = reading.autoSuffix ? "" : DirectiveValue(rest);
  } else if (directive == "description" && tokens != nullptr) {
    reading.description = DirectiveValue(rest);
  }
  return true;
}

// Reads `file` as the compiler does, its include files in place: the directives in order, and
// the code's words and punctuation into `tokens` when given, comments left out.
bool ReadFile(Reading& reading, const fs::path& file, const fs::path& module,
              std::vector<Token>* tokens, int depth) {
  std::ifstream in(file, std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (text.starts_with("\xEF\xBB\xBF")) { // UTF-8, as the IDE saves its files
    text.erase(0, 3);
  }
  std::size_t line = 1, counted = 0;
  const auto lineAt = [&](std::size_t pos) {
    line +=
        static_cast<std::size_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(counted),
                                            text.begin() + static_cast<std::ptrdiff_t>(pos), '\n'));
    counted = pos;
    return line;
  };
  for (std::size_t pos = 0; pos < text.size();) {
    const char c = text[pos];
    if (c == '{' || text.compare(pos, 2, "(*") == 0) {
      const bool brace = c == '{';
      const std::size_t end = text.find(brace ? "}" : "*)", pos);
      const std::size_t bodyStart = pos + (brace ? 1 : 2);
      const std::string body =
          text.substr(bodyStart, end == std::string::npos ? std::string::npos : end - bodyStart);
      if (body.starts_with('$') &&
          !ReadDirective(reading, body.substr(1), file, module, lineAt(pos), tokens, depth)) {
        return false;
      }
      pos = end == std::string::npos ? text.size() : end + (brace ? 1 : 2);
    } else if (text.compare(pos, 2, "//") == 0) {
      pos = std::min(text.find('\n', pos), text.size());
    } else if (c == '\'') {
      const std::size_t end = text.find('\'', pos + 1);
      if (tokens != nullptr && reading.Current() == Known::Yes) {
        tokens->push_back(
            {text.substr(pos, end == std::string::npos ? std::string::npos : end - pos),
             lineAt(pos)});
      }
      pos = end == std::string::npos ? text.size() : end + 1;
    } else if (IsNameChar(c)) {
      std::size_t end = pos;
      while (end < text.size() && IsNameChar(text[end])) {
        ++end;
      }
      if (tokens != nullptr && reading.Current() == Known::Yes) {
        tokens->push_back({text.substr(pos, end - pos), lineAt(pos)});
      }
      pos = end;
    } else {
      if ((c == ';' || c == ',') && tokens != nullptr && reading.Current() == Known::Yes) {
        tokens->push_back({std::string(1, c), lineAt(pos)});
      }
      ++pos;
    }
  }
  return true;
}

// What the compiler reads of a .dpk: its name, required packages and contained units.
struct PackageSource {
  std::string name;
  std::vector<Token> requires_;
  struct Unit {
    std::string name, file; // file: the 'in' file, "" without one
    std::size_t line;
  };
  std::vector<Unit> contains;
};

PackageSource ParsePackage(const std::vector<Token>& tokens) {
  PackageSource package;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::string word = Lower(tokens[i].text);
    if (word == "package" && package.name.empty() && i + 1 < tokens.size()) {
      package.name = tokens[i + 1].text;
    } else if (word == "requires") {
      for (++i; i < tokens.size() && tokens[i].text != ";"; ++i) {
        if (tokens[i].text != ",") {
          package.requires_.push_back(tokens[i]);
        }
      }
    } else if (word == "contains") {
      for (++i; i < tokens.size() && tokens[i].text != ";"; ++i) {
        if (tokens[i].text == ",") {
          continue;
        }
        PackageSource::Unit unit{tokens[i].text, "", tokens[i].line};
        if (i + 2 < tokens.size() && Lower(tokens[i + 1].text) == "in" &&
            tokens[i + 2].text.starts_with('\'')) {
          unit.file = tokens[i + 2].text.substr(1);
          i += 2;
        }
        package.contains.push_back(unit);
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

int Compile(const Options& options, int version, const std::string& platform,
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
  if (options.tooLongPath) {
    // What JCL reports of these compilers on a longer path.
    return Fail("Fatal: System.pas not found");
  }
  std::ifstream in(source, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::string dpk = Utf8(source.filename().wstring());
  const fs::path folder = source.parent_path().empty() ? fs::path(L".") : source.parent_path();

  Reading reading(options);
  reading.compilerSymbol = CompilerSymbol(version);
  for (const char* never : {"FPC", "LINUX", "MACOS", "POSIX", "ANDROID", "IOS", "CLR"}) {
    reading.start[never] = false;
  }
  for (const char* always : {"MSWINDOWS", "CONDITIONALEXPRESSIONS"}) {
    reading.start[always] = true;
  }
  reading.start["WIN32"] = platform == "Win32";
  reading.start["WIN64"] = platform == "Win64";
  reading.start["CPUX64"] = platform == "Win64";
  if (platform == "Win32") {
    reading.start["CPU386"] = true;
  }
  if (version >= 9) {
    reading.start["CPUX86"] = platform == "Win32";
  }
  reading.start["UNICODE"] = version >= 6;
  for (const std::string& name : options.defines) {
    reading.start[name] = true;
  }
  reading.symbols = reading.start;
  std::vector<Token> tokens;
  if (!ReadFile(reading, source, source, &tokens, 0)) {
    return Fail(reading.fatal);
  }
  const PackageSource package = ParsePackage(tokens);
  if (package.name.empty()) {
    return Fail(dpk + "(1) Error: E2029 'package' expected");
  }
  const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) +
                            (text.empty() || text.back() == '\n' ? 0 : 1);
  if (text.find("standin-hang") != std::string::npos) {
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
  if (const std::size_t flood = text.find("standin-flood "); flood != std::string::npos) {
    // 64-byte lines, as a compiler's hints and warnings come.
    const std::string line(63, 'w');
    for (std::size_t i = 0; i < std::strtoul(text.c_str() + flood + 14, nullptr, 10) * 16384; ++i) {
      std::printf("%s\n", line.c_str());
    }
  }
  if (text.find("standin-fail") != std::string::npos) {
    std::printf("%s.dpk(1) Error: E2003 Undeclared identifier: 'StandinFail'\n",
                package.name.c_str());
    return Fail("Fatal: F2063 Could not compile used unit '" + package.name + ".dpk'");
  }
  // A required package that is built from source where the compiler looks (the package's folder
  // and the unit folders) must have been built before this one.
  const std::vector<fs::path> unitFolders = Folders({folder}, options.unitFolders);
  for (const Token& required : package.requires_) {
    if (FindFile(required.text + ".dpk", unitFolders) &&
        !FindFile(required.text + ".dcp", Folders({*options.dcpFolder}, options.unitFolders))) {
      return Fail(dpk + "(" + std::to_string(required.line) + ") Fatal: E2202 Required package '" +
                  required.text + "' not found");
    }
  }
  // The contained units: their source ('in' the package's folder, else found as NAME.pas where
  // units are looked for), or a compiled NAME.dcu there; each read with its include files.
  struct Built {
    std::string name;
    fs::path dcuFolder;
    bool compiled; // from source, so its .dcu is written
  };
  std::vector<Built> units;
  for (const PackageSource::Unit& unit : package.contains) {
    std::optional<fs::path> file =
        FindFile(unit.file.empty() ? unit.name + ".pas" : unit.file,
                 unit.file.empty() ? unitFolders : std::vector<fs::path>{folder});
    const std::optional<fs::path> compiled =
        file || !unit.file.empty() ? std::nullopt : FindFile(unit.name + ".dcu", unitFolders);
    if (!file && !compiled) {
      return Fail(dpk + "(" + std::to_string(unit.line) + ") Fatal: F1026 File not found: '" +
                  (unit.file.empty() ? unit.name + ".dcu" : unit.file) + "'");
    }
    if (file) {
      reading.symbols = reading.start;
      reading.branches.clear();
      if (!ReadFile(reading, *file, *file, nullptr, 0)) {
        return Fail(reading.fatal);
      }
    }
    const fs::path unitFolder = (file ? *file : *compiled).parent_path();
    units.push_back({unit.name, options.dcuFolder ? fs::path(*options.dcuFolder) : unitFolder,
                     file.has_value()});
  }
  // The link: every resource file of the package and its units.
  if (!reading.missingResources.empty()) {
    for (std::size_t i = 0; i + 1 < reading.missingResources.size(); ++i) {
      std::printf("Error: E1026 File not found: '%s'\n", reading.missingResources[i].c_str());
    }
    return Fail("Error: E1026 File not found: '" + reading.missingResources.back() + "'");
  }

  // AUTO is the package version from RAD Studio 10.4 (BDS 21.0); older compilers add nothing.
  const std::string suffix = !reading.autoSuffix ? reading.suffix
                             : version < 21
                                 ? std::string()
                                 : std::to_string(version < 37 ? (version + 6) * 10 : version * 10);
  const std::string about = "Quillet stand-in output\npackage " + package.name + "\nplatform " +
                            platform + "\ndescription " + reading.description + "\n";
  std::vector<std::pair<fs::path, std::string>> files;
  for (const Built& unit : units) {
    const std::string what = about + "unit " + unit.name + "\n";
    if (unit.compiled) {
      files.push_back({unit.dcuFolder / PathOf(unit.name + ".dcu"), what + "dcu\n"});
    }
    if (options.cppFiles) {
      files.push_back({(options.hppFolder ? fs::path(*options.hppFolder) : unit.dcuFolder) /
                           PathOf(unit.name + ".hpp"),
                       what + "hpp\n"});
      files.push_back({(options.objFolder ? fs::path(*options.objFolder) : unit.dcuFolder) /
                           PathOf(unit.name + ".obj"),
                       what + "obj\n"});
    }
  }
  files.push_back(
      {fs::path(*options.bplFolder) / PathOf(package.name + suffix + ".bpl"), about + "bpl\n"});
  files.push_back({fs::path(*options.dcpFolder) / PathOf(package.name + ".dcp"), about + "dcp\n"});
  if (options.cppFiles) {
    const fs::path linkFolder = *(options.bpiFolder ? options.bpiFolder : options.dcpFolder);
    const fs::path hppFolder = options.hppFolder   ? fs::path(*options.hppFolder)
                               : options.dcuFolder ? fs::path(*options.dcuFolder)
                                                   : folder;
    files.push_back({linkFolder / PathOf(package.name + ".bpi"), about + "bpi\n"});
    files.push_back({linkFolder / PathOf(package.name + ".lib"), about + "lib\n"});
    files.push_back({hppFolder / PathOf(package.name + ".hpp"), about + "hpp\n"});
  }
  for (const auto& [path, content] : files) {
    if (!WriteText(path, content)) {
      return Fail("Fatal: F2039 Could not create output file '" + Utf8(path.wstring()) + "'");
    }
  }
  std::printf("%zu lines, 0.01 seconds, 0 bytes code, 0 bytes data.\n", lines);
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
  const int version = PackageVersion(ownFolder);
  // The switches of a dcc32.cfg (dcc64.cfg) in the folder where it runs come before those of the
  // command line, one a line, quotes around paths dropped (Delphi's help, "DCC32.CFG file": the
  // compiler's folder, then the current folder, then the project's .cfg; JVCL Compile.pas writes
  // one into the package's folder for each build).
  {
    std::ifstream config(fs::current_path(error) / (own.stem().wstring() + L".cfg"),
                         std::ios::binary);
    for (std::string line; std::getline(config, line);) {
      line.erase(std::remove(line.begin(), line.end(), '"'), line.end());
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
      }
      if (line.empty()) {
        continue;
      }
      const std::wstring argument = PathOf(line).wstring();
      if (argument.size() < 2 || (argument[0] != L'-' && argument[0] != L'/') ||
          !ReadSwitch(argument, options, version)) {
        return Fail("Fatal: F1029 Bad command line option: " + line);
      }
    }
  }
  for (int i = 1; list && i < count; ++i) {
    const std::wstring argument = list.get()[i];
    if (argument.size() >= 2 && (argument[0] == L'-' || argument[0] == L'/')) {
      if (!ReadSwitch(argument, options, version)) {
        return Fail("Fatal: F1029 Bad command line option: " + Utf8(argument));
      }
    } else {
      options.sources.push_back(argument);
    }
  }
  const int status = Compile(options, version, platform, ownPath);
  std::fflush(stdout);
  return status;
}
