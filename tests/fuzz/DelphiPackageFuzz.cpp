// libFuzzer target: any bytes as a Delphi package project (.dpk). The names read are non-empty
// names as written in the text; a byte order mark changes nothing; and the project written again
// from what was read reads back the same.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Package/DelphiPackage.h"

namespace {

using quillet::DelphiPackageSource;

void Check(bool holds) {
  if (!holds) {
    __builtin_trap();
  }
}

bool IsNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// A name as the reader promises it: letters, digits and "_" in parts joined by single dots, each
// part beginning with a letter, and found as written in the text.
void CheckName(const std::string& name, std::string_view text) {
  Check(!name.empty() && IsNameStart(name.front()) && name.back() != '.');
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool inPart = IsNameStart(c) || (c >= '0' && c <= '9');
    Check(inPart || (c == '.' && i + 1 < name.size() && IsNameStart(name[i + 1])));
  }
  Check(text.find(name) != std::string_view::npos);
}

bool Same(const DelphiPackageSource& a, const DelphiPackageSource& b) {
  return a.name == b.name && a.libSuffix == b.libSuffix && a.autoSuffix == b.autoSuffix &&
         a.description == b.description && a.designOnly == b.designOnly && a.runOnly == b.runOnly &&
         a.required == b.required && a.contains == b.contains;
}

// A string as Delphi writes it, quotes doubled.
std::string Quote(std::string_view value) {
  std::string quoted = "'";
  for (const char c : value) {
    quoted += c == '\'' ? "''" : std::string(1, c);
  }
  return quoted + "'";
}

// A directive in braces, or in "(*$ *)" when its text holds a closing brace; empty when it holds
// both closers.
std::string Directive(const std::string& body) {
  if (body.find('}') == std::string::npos) {
    return "{$" + body + "}\r\n";
  }
  if (body.find("*)") == std::string::npos && body.back() != '*') {
    return "(*$" + body + "*)\r\n";
  }
  return {};
}

// The project as an IDE writes one, from what was read; nullopt-like empty text when a string
// cannot be written back.
std::string ProjectText(const DelphiPackageSource& package, bool& writable) {
  std::string text = "package " + package.name + ";\r\n\r\n";
  const auto add = [&text, &writable](const std::string& body) {
    const std::string directive = Directive(body);
    writable = writable && !directive.empty();
    text += directive;
  };
  if (package.autoSuffix) {
    add("LIBSUFFIX AUTO");
  } else if (!package.libSuffix.empty()) {
    add("LIBSUFFIX " + Quote(package.libSuffix));
  }
  if (!package.description.empty()) {
    add("DESCRIPTION " + Quote(package.description));
  }
  add(package.designOnly ? "DESIGNONLY" : "DESIGNONLY OFF");
  add(package.runOnly ? "RUNONLY ON" : "RUNONLY OFF");
  add("R *.res");
  const auto list = [&text](const char* word, const std::vector<std::string>& names) {
    if (names.empty()) {
      return;
    }
    text += std::string("\r\n") + word + "\r\n";
    for (std::size_t i = 0; i < names.size(); ++i) {
      // Names are written escaped, so that a reserved word stays a name.
      text += "  &" + names[i] + (i + 1 < names.size() ? ",\r\n" : ";\r\n");
    }
  };
  list("requires", package.required);
  list("contains", package.contains);
  return text + "\r\nend.\r\n";
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto package = quillet::ParseDelphiPackage(text);
  if (!text.starts_with("\xEF\xBB\xBF")) {
    const auto marked = quillet::ParseDelphiPackage("\xEF\xBB\xBF" + text);
    Check(marked.has_value() == package.has_value() && (!package || Same(*marked, *package)));
  }
  if (!package) {
    return 0;
  }
  CheckName(package->name, text);
  for (const std::string& name : package->required) {
    CheckName(name, text);
  }
  for (const std::string& name : package->contains) {
    CheckName(name, text);
  }
  Check(package->description.size() <= size && package->libSuffix.size() <= size);
  Check(quillet::DcpFileName(*package) == package->name + ".dcp");
  Check(quillet::BplFileName(*package, 23).starts_with(package->name));

  bool writable = true;
  const std::string again = ProjectText(*package, writable);
  if (writable) {
    const auto reread = quillet::ParseDelphiPackage(again);
    Check(reread && Same(*reread, *package));
  }
  return 0;
}
