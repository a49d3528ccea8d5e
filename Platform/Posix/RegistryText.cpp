#include "Platform/Posix/RegistryText.h"

#include <algorithm>
#include <cstdio>

#include "Platform/Posix/CodePage.h"

namespace quillet::platform::posix {

namespace {

// Data type tags, in the order they are tried.
constexpr std::string_view TAG_SZ = "\"";
constexpr std::string_view TAG_STR = "str:\"";
constexpr std::string_view TAG_STR_EXPAND = "str(2):\"";
constexpr std::string_view TAG_STR_MULTI = "str(7):\"";
constexpr std::string_view TAG_HEX = "hex:";
constexpr std::string_view TAG_DWORD = "dword:";
constexpr std::string_view TAG_HEX_TYPED = "hex(";
constexpr std::string_view TAG_HEX_TYPED_END = "):";
constexpr std::string_view HEX_TAG_START = "hex";
constexpr std::string_view ARCH_OPTION = "#arch=";
constexpr std::string_view ARCH_WIN64 = "win64";
constexpr std::string_view ARCH_WIN32 = "win32";
constexpr std::size_t MAX_HEX_ESCAPE_DIGITS = 4;
constexpr std::size_t MAX_OCTAL_ESCAPE_DIGITS = 3;
constexpr std::size_t MAX_TYPE_DIGITS = 8;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return static_cast<unsigned>(c - '0');
  }
  if (c >= 'a' && c <= 'f') {
    return static_cast<unsigned>(c - 'a' + 10);
  }
  return static_cast<unsigned>(c - 'A' + 10);
}

bool IsOctalDigit(char c) {
  return c >= '0' && c <= '7';
}

bool EndsWithBackslash(std::string_view line) {
  const std::string_view trimmed = TrimRight(line);
  return !trimmed.empty() && trimmed.back() == '\\';
}

// Comma-separated hex bytes from `pos` on, over continuation lines. nullopt when malformed.
std::optional<std::string> ParseHexBytes(std::string_view text, std::size_t pos) {
  std::string bytes;
  for (;;) {
    std::size_t next = 0;
    const std::string_view line = LineAt(text, pos, next);
    std::size_t p = SkipSpaces(line, 0);
    while (p < line.size() && IsHexDigit(line[p])) {
      unsigned value = 0;
      while (p < line.size() && IsHexDigit(line[p])) {
        value = value * 16 + HexValue(line[p++]);
        if (value > 0xFF) {
          return std::nullopt;
        }
      }
      bytes += static_cast<char>(value);
      p = SkipSpaces(line, p);
      if (p < line.size() && line[p] == ',') {
        p = SkipSpaces(line, p + 1);
      }
    }
    if (p == line.size()) {
      return bytes;
    }
    if (line[p] != '\\' || SkipSpaces(line, p + 1) != line.size()) {
      return std::nullopt;
    }
    // The data goes on in the next line, which must exist and must not start a section.
    if (next >= text.size()) {
      return std::nullopt;
    }
    std::size_t after = 0;
    if (IsSectionLine(LineAt(text, next, after))) {
      return std::nullopt;
    }
    pos = next;
  }
}

std::uint32_t ParseDword(std::string_view data) {
  std::size_t p = SkipSpaces(data, 0);
  if (data.substr(p).starts_with("0x") || data.substr(p).starts_with("0X")) {
    p += 2;
  }
  std::uint32_t value = 0;
  while (p < data.size() && IsHexDigit(data[p])) {
    value = (value << 4) | HexValue(data[p++]);
  }
  return value;
}

std::string Utf16LeToText(std::string_view bytes) {
  std::string out;
  CodePageBuilder builder(out, CodePage::Active());
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    builder.Unit(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                       (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  builder.Finish();
  return out;
}

// How a value's line begins: its name, escaped, in quotes, and "=". Appended piece by piece:
// GCC 12 takes `"\"" + std::string(...)` for overlapping copies (-Wrestrict, a false alarm).
std::string ValueLineStart(std::string_view value);

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

} // namespace

std::optional<bool> Is64BitOption(std::string_view body) {
  if (!body.starts_with(ARCH_OPTION)) {
    return std::nullopt;
  }
  const std::string_view arch = TrimRight(body.substr(ARCH_OPTION.size()));
  if (arch == ARCH_WIN64 || arch == ARCH_WIN32) {
    return arch == ARCH_WIN64;
  }
  return std::nullopt;
}

std::optional<std::size_t> DecodeEscaped(std::string_view text, std::size_t pos, char endChar,
                                         std::string& out) {
  CodePageBuilder builder(out, CodePage::Active());
  while (pos < text.size()) {
    std::size_t runEnd = pos;
    while (runEnd < text.size() && text[runEnd] != endChar && text[runEnd] != '\\') {
      ++runEnd;
    }
    if (runEnd > pos) {
      builder.Bytes(text.substr(pos, runEnd - pos));
      pos = runEnd;
      continue;
    }
    const char c = text[pos++];
    if (c == endChar) {
      builder.Finish();
      return pos;
    }
    if (c != '\\') {
      builder.Byte(c);
      continue;
    }
    if (pos == text.size()) {
      break; // a backslash at the end escapes nothing: the text is unterminated
    }
    const char escaped = text[pos++];
    switch (escaped) {
    case 'a':
      builder.Byte('\a');
      break;
    case 'b':
      builder.Byte('\b');
      break;
    case 'e':
      builder.Byte('\x1b');
      break;
    case 'f':
      builder.Byte('\f');
      break;
    case 'n':
      builder.Byte('\n');
      break;
    case 'r':
      builder.Byte('\r');
      break;
    case 't':
      builder.Byte('\t');
      break;
    case 'v':
      builder.Byte('\v');
      break;
    case 'x': {
      if (pos == text.size() || !IsHexDigit(text[pos])) {
        builder.Byte('x');
        break;
      }
      unsigned value = 0;
      for (std::size_t i = 0;
           i < MAX_HEX_ESCAPE_DIGITS && pos < text.size() && IsHexDigit(text[pos]); ++i) {
        value = value * 16 + HexValue(text[pos++]);
      }
      builder.Unit(static_cast<char16_t>(value));
      break;
    }
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7': {
      unsigned value = static_cast<unsigned>(escaped - '0');
      for (std::size_t i = 1;
           i < MAX_OCTAL_ESCAPE_DIGITS && pos < text.size() && IsOctalDigit(text[pos]); ++i) {
        value = value * 8 + static_cast<unsigned>(text[pos++] - '0');
      }
      builder.Unit(static_cast<char16_t>(value));
      break;
    }
    default:
      builder.Byte(escaped);
      break;
    }
  }
  return std::nullopt;
}

std::optional<std::size_t> ValueDataStart(std::string_view line, std::string& name) {
  std::size_t pos = 0;
  if (!line.empty() && line[0] == '@') {
    pos = 1;
  } else if (!line.empty() && line[0] == '"') {
    const auto end = DecodeEscaped(line, 1, '"', name);
    if (!end) {
      return std::nullopt;
    }
    pos = *end;
  } else {
    return std::nullopt;
  }
  pos = SkipSpaces(line, pos);
  if (pos == line.size() || line[pos] != '=') {
    return std::nullopt;
  }
  return SkipSpaces(line, pos + 1);
}

bool ContinuesOnNextLine(std::string_view line) {
  if (!EndsWithBackslash(line)) {
    return false;
  }
  std::string name;
  const auto data = ValueDataStart(line, name);
  return data && line.substr(*data).starts_with(HEX_TAG_START);
}

std::size_t SkipContinuationLines(std::string_view text, std::size_t pos) {
  while (pos < text.size()) {
    std::size_t next = 0;
    const std::string_view line = LineAt(text, pos, next);
    if (IsSectionLine(line)) {
      break;
    }
    pos = next;
    if (!EndsWithBackslash(line)) {
      break;
    }
  }
  return pos;
}

RegistryValue ParseData(std::string_view text, std::size_t pos) {
  std::size_t next = 0;
  const std::string_view data = LineAt(text, pos, next);
  const RegistryValue malformed{REG_NONE, {}};

  struct QuotedTag {
    std::string_view tag;
    std::uint32_t type;
  };
  static constexpr QuotedTag QUOTED_TAGS[] = {{TAG_SZ, REG_SZ},
                                              {TAG_STR, REG_SZ},
                                              {TAG_STR_EXPAND, REG_EXPAND_SZ},
                                              {TAG_STR_MULTI, REG_MULTI_SZ}};
  for (const auto& [tag, type] : QUOTED_TAGS) {
    if (data.starts_with(tag)) {
      RegistryValue value{type, {}};
      if (!DecodeEscaped(data, tag.size(), '"', value.data)) {
        return malformed;
      }
      value.data += '\0';
      return value;
    }
  }
  if (data.starts_with(TAG_DWORD)) {
    const std::uint32_t dword = ParseDword(data.substr(TAG_DWORD.size()));
    RegistryValue value{REG_DWORD, {}};
    for (int shift = 0; shift < 32; shift += 8) {
      value.data += static_cast<char>((dword >> shift) & 0xFF);
    }
    return value;
  }
  std::uint32_t type = REG_BINARY;
  std::size_t hexStart = 0;
  if (data.starts_with(TAG_HEX)) {
    hexStart = TAG_HEX.size();
  } else if (data.starts_with(TAG_HEX_TYPED)) {
    std::size_t p = TAG_HEX_TYPED.size();
    std::uint64_t number = 0;
    std::size_t digits = 0;
    while (p < data.size() && IsHexDigit(data[p]) && digits < MAX_TYPE_DIGITS) {
      number = number * 16 + HexValue(data[p++]);
      ++digits;
    }
    if (digits == 0 || !data.substr(p).starts_with(TAG_HEX_TYPED_END)) {
      return malformed;
    }
    type = static_cast<std::uint32_t>(number);
    hexStart = p + TAG_HEX_TYPED_END.size();
  } else {
    return malformed;
  }
  auto bytes = ParseHexBytes(text, pos + hexStart);
  if (!bytes) {
    return malformed;
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
    return RegistryValue{type, Utf16LeToText(*bytes)};
  }
  return RegistryValue{type, std::move(*bytes)};
}

std::optional<std::string> DecodeSectionPath(std::string_view header) {
  std::string path;
  if (!DecodeEscaped(header, 0, ']', path) || (!path.empty() && path.front() == '\\')) {
    return std::nullopt;
  }
  return path;
}

std::string DecodedRegistryText(std::string_view quoted) {
  // The text between the quotes holds no unescaped quote: one put after it ends it.
  std::string text(quoted);
  text += '"';
  std::string out;
  DecodeEscaped(text, 0, '"', out);
  return out;
}

std::string EscapedRegistryData(std::string_view text) {
  std::string out;
  for (char32_t c : CodePage::Active().Decode(text)) {
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

namespace {

// A key path as the registry compares it: its names folded, its empty components passed over.
std::u16string FoldedKeyPath(std::string_view path) {
  std::u16string folded;
  std::size_t pos = 0;
  while (pos < path.size()) {
    std::size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) {
      end = path.size();
    }
    if (end > pos) {
      if (!folded.empty()) {
        folded += u'\\';
      }
      AppendFoldedName(folded, path.substr(pos, end - pos), CodePage::Active());
    }
    pos = end + 1;
  }
  return folded;
}

} // namespace

std::optional<RegistrySection> FindRegistrySection(std::string_view text, std::string_view key) {
  const std::u16string wanted = FoldedKeyPath(key);
  std::optional<RegistrySection> found;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t next = 0;
    const std::string_view line = LineAt(text, at, next);
    if (IsSectionLine(line)) {
      if (found && found->end == 0) {
        found->end = at;
        return found;
      }
      const std::optional<std::string> path = DecodeSectionPath(TrimLeft(line).substr(1));
      if (path && FoldedKeyPath(*path) == wanted) {
        found = RegistrySection{at, 0, next};
      }
    } else if (found && !TrimLeft(line).empty()) {
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

std::u16string FoldedRegistryName(std::string_view name) {
  std::u16string folded;
  AppendFoldedName(folded, name, CodePage::Active());
  return folded;
}

std::vector<NamedValueLine> ValueLinesOf(std::string_view text, const RegistrySection& section) {
  std::vector<NamedValueLine> lines;
  const auto visit = [&](std::size_t at, std::string_view body) {
    std::string name;
    const std::optional<std::size_t> data = ValueDataStart(body, name);
    if (!data) {
      return;
    }
    // Text data: "..." (REG_SZ) or str(2):"..." (REG_EXPAND_SZ); `open` is at its quote.
    std::size_t open = *data;
    const bool expandable = body.substr(open).starts_with(TAG_STR_EXPAND);
    if (expandable) {
      open += TAG_STR_EXPAND.size() - 1;
    }
    const std::size_t close = open < body.size() && body[open] == '"'
                                  ? EndOfEscaped(body, open + 1, '"')
                                  : std::string_view::npos;
    std::u16string folded = FoldedRegistryName(name);
    lines.push_back(
        NamedValueLine{std::move(name), std::move(folded), {at, open, close, expandable}});
  };
  ForEachLine(text.substr(0, section.end), section.begin, visit);
  return lines;
}

std::vector<RegistryValueLine> FindValueLines(std::string_view text, const RegistrySection& section,
                                              std::string_view value) {
  const std::u16string wanted = FoldedRegistryName(value);
  std::vector<RegistryValueLine> lines;
  for (const NamedValueLine& line : ValueLinesOf(text, section)) {
    if (line.folded == wanted) {
      lines.push_back(line.line);
    }
  }
  return lines;
}

bool HasSubkeySection(std::string_view text, std::string_view key) {
  const std::u16string below = FoldedKeyPath(key) + u'\\';
  for (std::size_t at = 0, next = 0; at < text.size(); at = next) {
    const std::string_view line = LineAt(text, at, next);
    if (IsSectionLine(line)) {
      const std::optional<std::string> path = DecodeSectionPath(TrimLeft(line).substr(1));
      if (path && FoldedKeyPath(*path).starts_with(below)) {
        return true;
      }
    }
  }
  return false;
}

namespace {

std::string ValueLineStart(std::string_view value) {
  std::string start = "\"";
  start += EscapedRegistryData(value);
  start += "\"=";
  return start;
}

// Where a value line's text ends, before its line end: after the continuation lines of hex data.
std::size_t ValueLineEnd(std::string_view text, const RegistryValueLine& line) {
  std::size_t next = 0;
  const std::string_view body = LineAt(text, line.at, next);
  if (ContinuesOnNextLine(body)) {
    next = SkipContinuationLines(text, next);
  }
  std::size_t end = next;
  if (end > line.at && text[end - 1] == '\n') {
    --end;
    if (end > line.at && text[end - 1] == '\r') {
      --end;
    }
  }
  return end;
}

// The start of the line that holds `at`.
std::size_t LineStart(std::string_view text, std::size_t at) {
  const std::size_t newline = text.rfind('\n', at == 0 ? 0 : at - 1);
  return at == 0 || newline == std::string_view::npos ? 0 : newline + 1;
}

// The line end that the text uses: that of its first line.
std::string_view LineEndOf(std::string_view text) {
  const std::size_t newline = text.find('\n');
  return newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r' ? "\r\n"
                                                                                       : "\n";
}

} // namespace

void RegistryEdit::ReplaceInValue(const RegistryValueLine& line, std::size_t begin, std::size_t end,
                                  std::string_view data) {
  const std::size_t start = line.at + line.open + 1;
  changes_.push_back(Change{start + begin, end - begin, std::string(data)});
}

void RegistryEdit::SetValue(std::string_view text, const RegistryValueLine& line,
                            std::string_view value, std::string_view data) {
  std::string set = ValueLineStart(value);
  set.append("\"").append(data).append("\"");
  changes_.push_back(Change{line.at, ValueLineEnd(text, line) - line.at, std::move(set)});
}

void RegistryEdit::RemoveValue(std::string_view text, const RegistryValueLine& line) {
  const std::size_t start = LineStart(text, line.at);
  std::size_t end = ValueLineEnd(text, line);
  end = text.substr(end).starts_with("\r\n") ? end + 2 : end + (end < text.size() ? 1 : 0);
  changes_.push_back(Change{start, end - start, {}});
}

void RegistryEdit::AddValue(std::string_view text, const RegistrySection& section,
                            std::string_view value, std::string_view data) {
  const bool lineEnded = section.lastLine == 0 || text[section.lastLine - 1] == '\n';
  const std::string_view end = LineEndOf(text); // a CRLF file gets CRLF lines
  Change change{section.lastLine, 0, std::string(lineEnded ? "" : end)};
  change.text.append(ValueLineStart(value)).append("\"").append(data).append("\"").append(end);
  changes_.push_back(std::move(change));
}

void RegistryEdit::AddSection(std::string_view text, std::string_view key, long long unixTime,
                              std::string_view value, std::string_view data) {
  // Windows counts 100 ns from 1601, 11644473600 s before 1970.
  constexpr unsigned long long SECONDS_1601_TO_1970 = 11644473600ULL;
  constexpr unsigned long long TICKS_PER_SECOND = 10000000ULL;
  const unsigned long long ticks =
      (static_cast<unsigned long long>(unixTime) + SECONDS_1601_TO_1970) * TICKS_PER_SECOND;
  // Key names escape the brackets besides what value names escape: "]" ends the path.
  std::string path;
  for (char c : EscapedRegistryData(key)) {
    if (c == '[' || c == ']') {
      path += '\\';
    }
    path += c;
  }
  char times[64];
  std::snprintf(times, sizeof times, "] %lld", unixTime);
  const std::string_view end = LineEndOf(text);
  std::string section(text.empty() || text.back() == '\n' ? "" : end);
  section.append(end).append("[").append(path).append(times).append(end);
  std::snprintf(times, sizeof times, "#time=%llx", ticks);
  section.append(times).append(end);
  section.append(ValueLineStart(value)).append("\"").append(data).append("\"").append(end);
  changes_.push_back(Change{text.size(), 0, std::move(section)});
}

void RegistryEdit::RemoveSection(std::string_view text, const RegistrySection& section) {
  std::size_t start = LineStart(text, section.begin);
  if (section.end == text.size()) {
    // The blank lines that stood before it, back to the end of the line before them.
    while (start > 0) {
      const std::size_t previous = LineStart(text, start - 1);
      if (!TrimLeft(text.substr(previous, start - previous)).empty() || previous == start) {
        break;
      }
      start = previous;
    }
  }
  changes_.push_back(Change{start, section.end - start, {}});
}

void RegistryEdit::ApplyTo(std::string& text) const {
  // From the end backwards, so that every planned position still holds when it is reached.
  std::vector<const Change*> order;
  for (const Change& change : changes_) {
    order.push_back(&change);
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const Change* a, const Change* b) { return a->at > b->at; });
  for (const Change* change : order) {
    text.replace(change->at, change->removed, change->text);
  }
}

} // namespace quillet::platform::posix
