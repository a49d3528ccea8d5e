#include "Platform/Posix/WineRegistry.h"
#include "Platform/FileMapping.h"
#include "Platform/Posix/CodePage.h"

#include <algorithm>
#include <utility>

namespace quillet::platform::posix {

namespace {

constexpr std::string_view FILE_HEADER = "WINE REGISTRY Version 2";
constexpr std::string_view ARCH_OPTION = "#arch=";
constexpr std::string_view ARCH_WIN64 = "win64";
constexpr std::string_view ARCH_WIN32 = "win32";
constexpr std::u16string_view WOW64_NODE_FOLDED = u"WOW6432NODE";
constexpr std::u16string_view SOFTWARE_FOLDED = u"SOFTWARE";

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

constexpr std::size_t MAX_HEX_ESCAPE_DIGITS = 4;
constexpr std::size_t MAX_OCTAL_ESCAPE_DIGITS = 3;
constexpr std::size_t MAX_TYPE_DIGITS = 8;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

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

std::string_view TrimLeft(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) {
    ++i;
  }
  return text.substr(i);
}

std::string_view TrimRight(std::string_view text) {
  std::size_t n = text.size();
  while (n > 0 && IsSpace(text[n - 1])) {
    --n;
  }
  return text.substr(0, n);
}

std::size_t SkipSpaces(std::string_view text, std::size_t pos) {
  while (pos < text.size() && IsSpace(text[pos])) {
    ++pos;
  }
  return pos;
}

// The line that starts at `pos`, without its "\n" and a "\r" before it. `next` receives the start
// of the following line (text.size() after the last line).
std::string_view LineAt(std::string_view text, std::size_t pos, std::size_t& next) {
  const std::size_t end = text.find('\n', pos);
  const std::size_t stop = end == std::string_view::npos ? text.size() : end;
  next = end == std::string_view::npos ? text.size() : end + 1;
  std::string_view line = text.substr(pos, stop - pos);
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  return line;
}

// Decodes escaped text that starts at `pos` and ends at an unescaped `endChar`, appending it to
// `out`. Gives the position after `endChar`, or nullopt when the text ends first.
std::optional<std::size_t> DecodeEscaped(std::string_view text, std::size_t pos, char endChar,
                                         std::string& out) {
  AnsiBuilder builder(out, CodePage::Active());
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

// Appends the case-folded form of an ANSI name: its characters upper-cased, as UTF-16 code units.
void AppendFolded(std::u16string& out, std::string_view name) {
  AppendFoldedName(out, name, CodePage::Active());
}

std::u16string Folded(std::string_view name) {
  std::u16string folded;
  AppendFolded(folded, name);
  return folded;
}

// The index key of a subkey: its parent's id followed by its folded name.
void MakeIndexKey(std::u16string& key, std::uint32_t parent, std::u16string_view folded) {
  key.clear();
  key += static_cast<char16_t>(parent & 0xFFFF);
  key += static_cast<char16_t>(parent >> 16);
  key += folded;
}

// Splits a value line into its name and the position of its data. nullopt when the line has no
// well-formed name followed by "=".
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

bool EndsWithBackslash(std::string_view line) {
  const std::string_view trimmed = TrimRight(line);
  return !trimmed.empty() && trimmed.back() == '\\';
}

bool IsSectionLine(std::string_view line) {
  const std::string_view body = TrimLeft(line);
  return !body.empty() && body.front() == '[';
}

// True when a value line holds hex data that goes on in the next line.
bool ContinuesOnNextLine(std::string_view line) {
  if (!EndsWithBackslash(line)) {
    return false;
  }
  std::string name;
  const auto data = ValueDataStart(line, name);
  return data && line.substr(*data).starts_with(HEX_TAG_START);
}

// Skips the continuation lines of a hex value; a section line always starts a section.
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

std::string Utf16LeToAnsi(std::string_view bytes) {
  std::string out;
  AnsiBuilder builder(out, CodePage::Active());
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    builder.Unit(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                       (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  builder.Finish();
  return out;
}

// Parses the data part of a value, which starts at `pos` in `text`.
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
    return RegistryValue{type, Utf16LeToAnsi(*bytes)};
  }
  return RegistryValue{type, std::move(*bytes)};
}

} // namespace

WineRegistry::WineRegistry() {
  keys_.emplace_back();
}

WineRegistry::WineRegistry(std::string text) : text_(std::move(text)) {
  keys_.emplace_back();
  Parse();
}

WineRegistry WineRegistry::Load(const std::string& nativePath) {
  auto text = ReadWholeFile(nativePath);
  if (!text) {
    return WineRegistry();
  }
  return WineRegistry(std::move(*text));
}

void WineRegistry::Parse() {
  const std::string_view text(text_);
  std::size_t pos = 0;
  if (LineAt(text, 0, pos) != FILE_HEADER) {
    return; // not a registry file
  }
  std::optional<KeyId> section;
  bool seenSection = false;
  SectionCache cache;
  std::vector<std::pair<KeyId, std::size_t>> valueLines; // key, line offset
  while (pos < text.size()) {
    const std::size_t lineStart = pos;
    const std::string_view line = LineAt(text, lineStart, pos);
    const std::string_view body = TrimLeft(line);
    if (body.empty()) {
      continue;
    }
    switch (body.front()) {
    case '[':
      seenSection = true;
      section = AddSection(body.substr(1), cache);
      break;
    case '"':
    case '@':
      if (section) {
        valueLines.emplace_back(*section, lineStart + (line.size() - body.size()));
        ++keys_[*section].valueCount;
      }
      if (ContinuesOnNextLine(body)) {
        pos = SkipContinuationLines(text, pos);
      }
      break;
    case '#':
      if (!seenSection && body.starts_with(ARCH_OPTION)) {
        const std::string_view arch = TrimRight(body.substr(ARCH_OPTION.size()));
        if (arch == ARCH_WIN64) {
          is64Bit_ = true;
        } else if (arch == ARCH_WIN32) {
          is64Bit_ = false;
        }
      }
      break;
    default:
      break; // comments and lines this reader does not know
    }
  }
  // Group the value lines by key, each group in file order.
  std::size_t first = 0;
  for (Key& key : keys_) {
    key.firstValue = first;
    first += key.valueCount;
  }
  valueLines_.resize(valueLines.size());
  std::vector<std::size_t> filled(keys_.size(), 0);
  for (const auto& [key, offset] : valueLines) {
    valueLines_[keys_[key].firstValue + filled[key]++] = offset;
  }
  // Wine writes subkeys in order already; other files get sorted here.
  const auto byFoldedName = [this](KeyId a, KeyId b) { return keys_[a].folded < keys_[b].folded; };
  for (Key& key : keys_) {
    if (!std::is_sorted(key.children.begin(), key.children.end(), byFoldedName)) {
      std::sort(key.children.begin(), key.children.end(), byFoldedName);
    }
  }
}

std::optional<WineRegistry::KeyId> WineRegistry::AddSection(std::string_view header,
                                                            SectionCache& cache) {
  std::string& path = cache.path;
  path.clear();
  if (!DecodeEscaped(header, 0, ']', path)) {
    return std::nullopt;
  }
  if (!path.empty() && path.front() == '\\') {
    return std::nullopt;
  }
  // Sections come in tree order, so a section mostly shares its leading components with the one
  // before: those are taken from the previous chain instead of being looked up again.
  const std::string_view previous(cache.previousPath);
  const std::size_t shorter = std::min(path.size(), previous.size());
  const std::size_t common = static_cast<std::size_t>(
      std::mismatch(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(shorter),
                    previous.begin())
          .first -
      path.begin());
  KeyId key = ROOT_KEY;
  std::size_t pos = 0;
  std::size_t kept = 0;
  while (kept < cache.chain.size()) {
    const auto [end, id] = cache.chain[kept];
    if (end > common || (end < path.size() && path[end] != '\\')) {
      break;
    }
    key = id;
    pos = end;
    ++kept;
  }
  cache.chain.resize(kept);
  while (pos < path.size()) {
    std::size_t end = path.find('\\', pos);
    if (end == std::string::npos) {
      end = path.size();
    }
    if (end > pos) {
      key = FindOrAddSubkey(key, std::string_view(path).substr(pos, end - pos), cache.indexKey);
      cache.chain.emplace_back(end, key);
    }
    pos = end + 1;
  }
  std::swap(cache.previousPath, path);
  return key;
}

WineRegistry::KeyId WineRegistry::FindOrAddSubkey(KeyId parent, std::string_view name,
                                                  std::u16string& scratch) {
  std::u16string folded = Folded(name);
  MakeIndexKey(scratch, parent, folded);
  const auto [it, inserted] = index_.try_emplace(scratch, static_cast<KeyId>(keys_.size()));
  if (!inserted) {
    return it->second;
  }
  const KeyId id = it->second;
  keys_.push_back(Key{parent, std::string(name), std::move(folded), {}, 0, 0});
  keys_[parent].children.push_back(id);
  return id;
}

std::optional<WineRegistry::KeyId> WineRegistry::FindFolded(KeyId parent,
                                                            std::u16string_view folded) const {
  std::u16string indexKey;
  MakeIndexKey(indexKey, parent, folded);
  const auto it = index_.find(indexKey);
  if (it == index_.end()) {
    return std::nullopt;
  }
  return it->second;
}

std::optional<WineRegistry::KeyId> WineRegistry::FindSubkey(KeyId parent,
                                                            std::string_view name) const {
  return FindFolded(parent, Folded(name));
}

std::optional<WineRegistry::KeyId> WineRegistry::Wow64Branch(KeyId key) const {
  const Key& entry = keys_.at(key);
  if (entry.folded == WOW64_NODE_FOLDED) {
    return key;
  }
  const auto branch = FindFolded(key, WOW64_NODE_FOLDED);
  // The 32-bit programs' software lives under Software\Wow6432Node only: the 64-bit keys beside
  // it are none of theirs, even when that node is missing.
  if (!branch && key != ROOT_KEY && entry.parent == ROOT_KEY && entry.folded == SOFTWARE_FOLDED) {
    return std::nullopt;
  }
  return branch.value_or(key);
}

std::optional<WineRegistry::KeyId> WineRegistry::FindKey(std::string_view path, bool view32) const {
  if (!path.empty() && path.front() == '\\') {
    return std::nullopt;
  }
  const bool redirect = view32 && is64Bit_;
  KeyId key = ROOT_KEY;
  std::u16string folded;
  std::size_t pos = 0;
  for (;;) {
    while (pos < path.size() && path[pos] == '\\') {
      ++pos;
    }
    if (pos == path.size()) {
      break;
    }
    std::size_t end = path.find('\\', pos);
    if (end == std::string_view::npos) {
      end = path.size();
    }
    folded.clear();
    AppendFolded(folded, path.substr(pos, end - pos));
    pos = end;
    // A 32-bit program enters every key that has a Wow6432Node branch through that branch.
    if (redirect && folded != WOW64_NODE_FOLDED) {
      const auto branch = Wow64Branch(key);
      if (!branch) {
        return std::nullopt;
      }
      key = *branch;
    }
    const auto child = FindFolded(key, folded);
    if (!child) {
      return std::nullopt;
    }
    key = *child;
  }
  return redirect ? Wow64Branch(key) : key;
}

std::vector<std::string> WineRegistry::SubkeyNames(KeyId key) const {
  std::vector<std::string> names;
  const auto& children = keys_.at(key).children;
  names.reserve(children.size());
  for (const KeyId child : children) {
    names.push_back(keys_[child].name);
  }
  return names;
}

std::vector<std::string> WineRegistry::ValueNames(KeyId key) const {
  std::vector<std::string> names;
  const Key& entry = keys_.at(key);
  for (std::size_t i = entry.firstValue; i < entry.firstValue + entry.valueCount; ++i) {
    std::size_t next = 0;
    std::string name;
    if (ValueDataStart(LineAt(text_, valueLines_[i], next), name)) {
      names.push_back(std::move(name));
    }
  }
  return names;
}

bool WineRegistry::HasValue(KeyId key, std::string_view name) const {
  return FindValueData(key, name).has_value();
}

std::optional<RegistryValue> WineRegistry::QueryValue(KeyId key, std::string_view name) const {
  const auto dataAt = FindValueData(key, name);
  if (!dataAt) {
    return std::nullopt;
  }
  return ParseData(text_, *dataAt);
}

std::optional<std::size_t> WineRegistry::FindValueData(KeyId key, std::string_view name) const {
  const std::u16string wanted = Folded(name);
  std::optional<std::size_t> dataAt;
  std::string lineName;
  std::u16string folded;
  // Later lines of the same name replace earlier ones, so the last match counts.
  const Key& entry = keys_.at(key);
  for (std::size_t i = entry.firstValue; i < entry.firstValue + entry.valueCount; ++i) {
    std::size_t next = 0;
    const std::size_t lineStart = valueLines_[i];
    lineName.clear();
    const auto start = ValueDataStart(LineAt(text_, lineStart, next), lineName);
    if (!start) {
      continue;
    }
    folded.clear();
    AppendFolded(folded, lineName);
    if (folded == wanted) {
      dataAt = lineStart + *start;
    }
  }
  return dataAt;
}

} // namespace quillet::platform::posix
