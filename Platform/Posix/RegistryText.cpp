#include "Platform/Posix/RegistryText.h"

#include <algorithm>
#include <cstdio>

#include "Platform/Ascii.h"
#include "Platform/Posix/CodePage.h"
#include "Platform/Posix/WineRegistry.h"

namespace quillet::platform::posix {

namespace {

// How a value's line begins: its name, escaped, in quotes, and "=". Appended piece by piece:
// GCC 12 takes `"\"" + std::string(...)` for overlapping copies (-Wrestrict, a false alarm).
std::string ValueLineStart(std::string_view value) {
  std::string start = "\"";
  start += EscapedRegistryName(value);
  start += "\"=";
  return start;
}

// Where the escaped text that starts at `at` ends: at the first unescaped `close`, or npos.
std::size_t EndOfEscaped(std::string_view text, std::size_t at, char close) {
  for (; at < text.size(); ++at) {
    if (text[at] == '\\') {
      ++at;
    } else if (text[at] == close || text[at] == '\n') {
      return text[at] == close ? at : std::string_view::npos;
    }
  }
  return std::string_view::npos;
}

// The start of the line after the one at `at`: after its LF, or the end of the text.
std::size_t NextLine(std::string_view text, std::size_t at) {
  const std::size_t lineEnd = text.find('\n', at);
  return lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
}

} // namespace

std::string EscapedRegistryName(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '\\' || c == '"') {
      out += '\\';
    }
    out += c;
  }
  return out;
}

std::string EscapedRegistryData(std::string_view ansi) {
  std::string out;
  for (char32_t c : CodePage::Active().Decode(ansi)) {
    if (c >= 0x20 && c < 0x7F) {
      if (c == '\\' || c == '"') {
        out += '\\';
      }
      out += static_cast<char>(c);
      continue;
    }
    char escape[16];
    if (c >= 0x10000 && c <= 0x10FFFF) {
      const char32_t v = c - 0x10000;
      std::snprintf(escape, sizeof escape, "\\x%04x\\x%04x",
                    static_cast<unsigned>(0xD800 + (v >> 10)),
                    static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
    } else {
      std::snprintf(escape, sizeof escape, "\\x%04x", static_cast<unsigned>(c & 0xFFFF));
    }
    out += escape;
  }
  return out;
}

std::optional<RegistrySection> FindRegistrySection(std::string_view text, std::string_view key) {
  const std::string wanted = EscapedRegistryName(key);
  std::optional<RegistrySection> found;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t next = NextLine(text, at);
    const std::string_view line = text.substr(at, next - at);
    if (line.starts_with('[')) {
      if (found && found->end == 0) {
        found->end = at;
        return found;
      }
      const std::size_t close = EndOfEscaped(line, 1, ']');
      if (close != std::string_view::npos &&
          EqualIgnoringAsciiCase(line.substr(1, close - 1), wanted)) {
        found = RegistrySection{at, 0, next};
      }
    } else if (found && line.find_first_not_of(" \t\r\n") != std::string_view::npos) {
      found->lastLine = next;
    }
    at = next;
  }
  if (found) {
    found->end = text.size();
  }
  return found;
}

std::string RegistryValueLine::Text(std::string_view text) const {
  return DecodedRegistryText(text.substr(at + open + 1, close - open - 1));
}

std::vector<RegistryValueLine> FindValueLines(std::string_view text, const RegistrySection& section,
                                              std::string_view value) {
  const std::string name = ValueLineStart(value);
  std::vector<RegistryValueLine> lines;
  for (std::size_t at = section.begin; at < section.end;) {
    const std::size_t next = NextLine(text, at);
    const std::string_view line = text.substr(at, next - at);
    const std::size_t indent = line.find_first_not_of(" \t");
    if (indent != std::string_view::npos && line.size() - indent >= name.size() &&
        EqualIgnoringAsciiCase(line.substr(indent, name.size()), name)) {
      std::size_t open = indent + name.size();
      if (line.substr(open).starts_with("str(2):")) {
        open += 7;
      }
      const std::size_t close = open < line.size() && line[open] == '"'
                                    ? EndOfEscaped(line, open + 1, '"')
                                    : std::string_view::npos;
      lines.push_back(RegistryValueLine{at, open, close});
    }
    at = next;
  }
  return lines;
}

void RegistryEdit::AppendToValue(const RegistryValueLine& line, std::string_view data) {
  insertions_.push_back(Insertion{line.at + line.close, std::string(data)});
}

void RegistryEdit::AddValue(std::string_view text, const RegistrySection& section,
                            std::string_view value, std::string_view data) {
  const bool lineEnded = section.lastLine == 0 || text[section.lastLine - 1] == '\n';
  Insertion insertion{section.lastLine, lineEnded ? "" : "\n"};
  insertion.text.append(ValueLineStart(value)).append("\"").append(data).append("\"\n");
  insertions_.push_back(std::move(insertion));
}

void RegistryEdit::ApplyTo(std::string& text) const {
  // From the end backwards, so that every planned position still holds when it is reached.
  std::vector<const Insertion*> order;
  for (const Insertion& insertion : insertions_) {
    order.push_back(&insertion);
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const Insertion* a, const Insertion* b) { return a->at > b->at; });
  for (const Insertion* insertion : order) {
    text.insert(insertion->at, insertion->text);
  }
}

} // namespace quillet::platform::posix
