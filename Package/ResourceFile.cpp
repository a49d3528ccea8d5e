#include "Package/ResourceFile.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "Platform/Ascii.h"
#include "Platform/Utf8.h"

namespace quillet {

namespace {

constexpr std::uint16_t RT_VERSION = 16;
constexpr std::uint16_t VERSION_NAME = 1;
// MOVEABLE | PURE, what resource compilers give a version resource.
constexpr std::uint16_t VERSION_MEMORY_FLAGS = 0x0030;
constexpr std::uint16_t ANSI_CODE_PAGE = 1252;
constexpr std::uint32_t FIXED_SIGNATURE = 0xFEEF04BD;
constexpr std::uint32_t FIXED_STRUCTURE_VERSION = 0x00010000;
constexpr std::uint32_t FILE_FLAGS_MASK = 0x3F;
constexpr std::uint32_t VOS_NT_WINDOWS32 = 0x00040004;
constexpr std::uint32_t VFT_DLL = 2;
constexpr std::size_t FIXED_INFO_SIZE = 13 * 4;
constexpr std::size_t RESOURCE_HEADER_SIZE = 32; // with an ordinal type and name

void Put16(std::string& out, std::uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}

void Put32(std::string& out, std::uint32_t value) {
  Put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
  Put16(out, static_cast<std::uint16_t>(value >> 16));
}

void Set16(std::string& out, std::size_t at, std::uint16_t value) {
  out[at] = static_cast<char>(value & 0xFF);
  out[at + 1] = static_cast<char>(value >> 8);
}

std::uint16_t Get16(std::string_view bytes, std::size_t at) {
  unsigned char raw[2];
  std::memcpy(raw, bytes.data() + at, 2);
  return static_cast<std::uint16_t>(raw[0] | (raw[1] << 8));
}

std::uint32_t Get32(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(Get16(bytes, at)) |
         (static_cast<std::uint32_t>(Get16(bytes, at + 2)) << 16);
}

void Align4(std::string& out) {
  while (out.size() % 4 != 0) {
    out.push_back('\0');
  }
}

// UTF-16LE of UTF-8 text, with surrogate pairs for characters past the first plane.
std::string Utf16(std::string_view text) {
  std::string out;
  for (const char32_t c : platform::DecodeUtf8(text)) {
    const char32_t code = platform::IsPassThrough(c) ? U'\uFFFD' : c;
    if (code >= 0x10000) {
      Put16(out, static_cast<std::uint16_t>(0xD800 + ((code - 0x10000) >> 10)));
      Put16(out, static_cast<std::uint16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      Put16(out, static_cast<std::uint16_t>(code));
    }
  }
  return out;
}

// One node of the version tree: wLength, wValueLength, wType, the key with its NUL, padding to
// 32 bits, the value, then each child at a 32-bit boundary. `valueLength` counts bytes for binary
// values and characters for texts, as the format has it. Offsets are relative to the tree's
// start, which is itself 32-bit aligned.
std::string VersionNode(std::string_view key, std::uint16_t type, const std::string& value,
                        std::uint16_t valueLength, const std::vector<std::string>& children) {
  std::string node;
  Put16(node, 0);
  Put16(node, valueLength);
  Put16(node, type);
  node += Utf16(key);
  Put16(node, 0);
  Align4(node);
  node += value;
  for (const std::string& child : children) {
    Align4(node);
    node += child;
  }
  Set16(node, 0, static_cast<std::uint16_t>(node.size()));
  return node;
}

std::string HexWord(std::uint16_t value) {
  static constexpr char DIGITS[] = "0123456789ABCDEF";
  std::string text;
  for (int shift = 12; shift >= 0; shift -= 4) {
    text.push_back(DIGITS[(value >> shift) & 0xF]);
  }
  return text;
}

void PutEntry(std::string& out, std::uint16_t type, std::uint16_t name, std::uint16_t memoryFlags,
              std::uint16_t language, const std::string& data) {
  Put32(out, static_cast<std::uint32_t>(data.size()));
  Put32(out, RESOURCE_HEADER_SIZE);
  Put16(out, 0xFFFF);
  Put16(out, type);
  Put16(out, 0xFFFF);
  Put16(out, name);
  Put32(out, 0); // DataVersion
  Put16(out, memoryFlags);
  Put16(out, language);
  Put32(out, 0); // Version
  Put32(out, 0); // Characteristics
  out += data;
  Align4(out);
}

// The text of the first element `name` in an XML text, entities of the five kinds decoded;
// nullopt when there is none.
std::optional<std::string> ElementText(std::string_view xml, std::string_view name) {
  std::string open(1, '<');
  open.append(name);
  for (std::size_t at = xml.find(open); at != std::string_view::npos; at = xml.find(open, at + 1)) {
    const std::size_t after = at + open.size();
    if (after >= xml.size() || (xml[after] != '>' && xml[after] != ' ' && xml[after] != '/')) {
      continue;
    }
    const std::size_t tagEnd = xml.find('>', after);
    if (tagEnd == std::string_view::npos) {
      return std::nullopt;
    }
    if (xml[tagEnd - 1] == '/') {
      return std::string();
    }
    const std::size_t close = xml.find("</" + std::string(name) + ">", tagEnd);
    if (close == std::string_view::npos) {
      return std::nullopt;
    }
    std::string_view raw = xml.substr(tagEnd + 1, close - tagEnd - 1);
    std::string text;
    static constexpr std::pair<std::string_view, char> ENTITIES[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    while (!raw.empty()) {
      bool decoded = false;
      for (const auto& [entity, c] : ENTITIES) {
        if (raw.starts_with(entity)) {
          text.push_back(c);
          raw.remove_prefix(entity.size());
          decoded = true;
          break;
        }
      }
      if (!decoded) {
        text.push_back(raw.front());
        raw.remove_prefix(1);
      }
    }
    return text;
  }
  return std::nullopt;
}

bool ReadNumber(std::string_view xml, std::string_view name, std::uint16_t& number) {
  const std::optional<std::string> text = ElementText(xml, name);
  if (!text || text->empty()) {
    return true; // the IDE's default stays
  }
  const char* end = text->data() + text->size();
  const auto [stop, error] = std::from_chars(text->data(), end, number);
  return error == std::errc() && stop == end;
}

std::string Replaced(std::string text, std::string_view what, std::string_view with) {
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size()) {
    text.replace(at, what.size(), with);
  }
  return text;
}

} // namespace

std::optional<VersionInfo> ReadDprojVersionInfo(std::string_view dproj,
                                                std::string_view projectName) {
  const std::optional<std::string> include = ElementText(dproj, "VerInfo_IncludeVerInfo");
  if (!include || !platform::EqualIgnoringAsciiCase(*include, "true")) {
    return std::nullopt;
  }
  VersionInfo info;
  const char* const numbers[] = {"VerInfo_MajorVer", "VerInfo_MinorVer", "VerInfo_Release",
                                 "VerInfo_Build"};
  for (std::size_t i = 0; i < info.version.size(); ++i) {
    if (!ReadNumber(dproj, numbers[i], info.version[i])) {
      return std::nullopt;
    }
  }
  if (!ReadNumber(dproj, "VerInfo_Locale", info.language)) {
    return std::nullopt;
  }
  std::string_view keys;
  const std::optional<std::string> keyText = ElementText(dproj, "VerInfo_Keys");
  if (keyText) {
    keys = *keyText;
  }
  while (!keys.empty()) {
    const std::size_t end = keys.find(';');
    const std::string_view pair = keys.substr(0, end);
    const std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos && equals > 0) {
      info.strings.emplace_back(
          std::string(pair.substr(0, equals)),
          Replaced(std::string(pair.substr(equals + 1)), "$(MSBuildProjectName)", projectName));
    }
    keys.remove_prefix(end == std::string_view::npos ? keys.size() : end + 1);
  }
  return info;
}

std::string EmptyResourceFile() {
  std::string out;
  PutEntry(out, 0, 0, 0, 0, {});
  return out;
}

std::string VersionResourceFile(const VersionInfo& info) {
  const std::uint32_t high = (static_cast<std::uint32_t>(info.version[0]) << 16) | info.version[1];
  const std::uint32_t low = (static_cast<std::uint32_t>(info.version[2]) << 16) | info.version[3];
  std::string fixed;
  for (const std::uint32_t field : {FIXED_SIGNATURE, FIXED_STRUCTURE_VERSION, high, low, high, low,
                                    FILE_FLAGS_MASK, 0u, VOS_NT_WINDOWS32, VFT_DLL, 0u, 0u, 0u}) {
    Put32(fixed, field);
  }
  std::vector<std::string> strings;
  for (const auto& [key, value] : info.strings) {
    std::string text = Utf16(value);
    Put16(text, 0);
    strings.push_back(VersionNode(key, 1, text, static_cast<std::uint16_t>(text.size() / 2), {}));
  }
  const std::string table =
      VersionNode(HexWord(info.language) + HexWord(ANSI_CODE_PAGE), 1, {}, 0, strings);
  std::string translation;
  Put16(translation, info.language);
  Put16(translation, ANSI_CODE_PAGE);
  const std::string var = VersionNode("Translation", 0, translation, 4, {});
  const std::string tree = VersionNode("VS_VERSION_INFO", 0, fixed, FIXED_INFO_SIZE,
                                       {VersionNode("StringFileInfo", 1, {}, 0, {table}),
                                        VersionNode("VarFileInfo", 1, {}, 0, {var})});
  std::string out = EmptyResourceFile();
  PutEntry(out, RT_VERSION, VERSION_NAME, VERSION_MEMORY_FLAGS, info.language, tree);
  return out;
}

std::optional<std::vector<ResourceEntry>> ReadResourceFile(std::string_view bytes) {
  std::vector<ResourceEntry> entries;
  std::size_t offset = 0;
  while (offset < bytes.size()) {
    if (bytes.size() - offset < 8) {
      return std::nullopt;
    }
    const std::uint32_t dataSize = Get32(bytes, offset);
    const std::uint32_t headerSize = Get32(bytes, offset + 4);
    if (headerSize < 16 || headerSize > bytes.size() - offset ||
        dataSize > bytes.size() - offset - headerSize) {
      return std::nullopt;
    }
    const std::string_view header = bytes.substr(offset, headerSize);
    ResourceEntry entry;
    // TYPE, then NAME: an ordinal (0xFFFF, number) or a NUL-ended UTF-16 text.
    std::size_t at = 8;
    for (std::uint32_t* id : {&entry.type, &entry.name}) {
      if (header.size() - at < 4) {
        return std::nullopt;
      }
      if (Get16(header, at) == 0xFFFF) {
        *id = Get16(header, at + 2);
        at += 4;
        continue;
      }
      *id = 0xFFFFFFFF;
      while (header.size() - at >= 2 && Get16(header, at) != 0) {
        at += 2;
      }
      if (header.size() - at < 2) {
        return std::nullopt;
      }
      at += 2;
    }
    at = (at + 3) & ~static_cast<std::size_t>(3);
    if (at > header.size() || header.size() - at < 16) {
      return std::nullopt;
    }
    entry.language = Get16(header, at + 6);
    entry.data = std::string(bytes.substr(offset + headerSize, dataSize));
    entries.push_back(std::move(entry));
    // Each entry begins at a 32-bit boundary; padding may end the file.
    offset += headerSize + dataSize;
    offset = std::min(bytes.size(), (offset + 3) & ~static_cast<std::size_t>(3));
  }
  return entries;
}

} // namespace quillet
