// The text of Wine's registry files (the format is described in WineRegistry.h): its header and
// options, its lines, the comparison of key and value names, the decoding of names and data, and
// the encoding and in-place editing that user.reg gets. The reader of system.reg (WineRegistry)
// keeps its key tree and scoped read and takes every line, name and value from here; the editor of
// user.reg (UserRegistry.cpp) finds sections and value lines here.
//
// An edit keeps every byte it does not change: line ends (LF or CRLF), a byte order mark, a last
// line without a line end, and the type tag of the data it appends to.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Registry.h"

namespace quillet::platform::posix {

// The first line of every registry file.
inline constexpr std::string_view FILE_HEADER = "WINE REGISTRY Version 2";

// Lines, read in place. Inline: the reader of system.reg calls them for every line it keeps.

inline bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The spaces that can stand before the first character of a line.
inline bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

inline std::string_view TrimLeft(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) {
    ++i;
  }
  return text.substr(i);
}

inline std::string_view TrimRight(std::string_view text) {
  std::size_t n = text.size();
  while (n > 0 && IsSpace(text[n - 1])) {
    --n;
  }
  return text.substr(0, n);
}

inline std::size_t SkipSpaces(std::string_view text, std::size_t pos) {
  while (pos < text.size() && IsSpace(text[pos])) {
    ++pos;
  }
  return pos;
}

// The line that starts at `pos`, without its "\n" and a "\r" before it. `next` receives the start
// of the following line (text.size() after the last line).
inline std::string_view LineAt(std::string_view text, std::size_t pos, std::size_t& next) {
  const std::size_t end = text.find('\n', pos);
  const std::size_t stop = end == std::string_view::npos ? text.size() : end;
  next = end == std::string_view::npos ? text.size() : end + 1;
  std::string_view line = text.substr(pos, stop - pos);
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  return line;
}

// The line without its "\n" and a "\r" before it, as LineAt gives lines.
inline std::string_view WithoutLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\n') {
    line.remove_suffix(1);
  }
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  return line;
}

// Whether a line starts a section: a "[" after blanks only.
inline bool IsSectionLine(std::string_view line) {
  const std::string_view body = TrimLeft(line);
  return !body.empty() && body.front() == '[';
}

// What an options line ("#...", before the first section) says of the prefix: true for
// "#arch=win64", false for "#arch=win32", nullopt for any other line.
std::optional<bool> Is64BitOption(std::string_view body);

// Decoding, as a query of the registry gives names and data back (see WineRegistry.h).

// Decodes escaped text that starts at `pos` and ends at an unescaped `endChar`, appending it to
// `out`. Gives the position after `endChar`, or nullopt when the text ends first.
std::optional<std::size_t> DecodeEscaped(std::string_view text, std::size_t pos, char endChar,
                                         std::string& out);

// The text between the quotes of a name or of quoted data, its escapes decoded, without a
// terminator.
std::string DecodedRegistryText(std::string_view quoted);

// Splits a value line into its name and the position of its data. nullopt when the line has no
// well-formed name followed by "=".
std::optional<std::size_t> ValueDataStart(std::string_view line, std::string& name);

// True when a value line holds hex data that goes on in the next line.
bool ContinuesOnNextLine(std::string_view line);

// Skips the continuation lines of a hex value; a section line always starts a section.
std::size_t SkipContinuationLines(std::string_view text, std::size_t pos);

// Calls visit(at, body) for every line of text[pos, text.size()) that is not blank: `body` is the
// line without its leading spaces and line end, `at` where it starts in `text`. The continuation
// lines of hex data belong to their value line and are passed over. A value line's body starts
// with '"' or '@', an option's with '#'.
template <typename Visit> void ForEachLine(std::string_view text, std::size_t pos, Visit visit) {
  while (pos < text.size()) {
    const std::size_t lineStart = pos;
    const std::string_view line = LineAt(text, lineStart, pos);
    const std::string_view body = TrimLeft(line);
    if (body.empty()) {
      continue;
    }
    visit(lineStart + (line.size() - body.size()), body);
    if ((body.front() == '"' || body.front() == '@') && ContinuesOnNextLine(body)) {
      pos = SkipContinuationLines(text, pos);
    }
  }
}

// Parses the data part of a value, which starts at `pos` in `text`.
RegistryValue ParseData(std::string_view text, std::size_t pos);

// The decoded path of a section line's text after "["; nullopt when the line is malformed.
std::optional<std::string> DecodeSectionPath(std::string_view header);

// Encoding and editing, for user.reg.

// UTF-8 text in the registry files' escapes: printable ASCII as it is ("\" and '"' escaped), every
// other character as its UTF-16 code units in "\x" escapes of four digits. Value names are written
// the same way.
std::string EscapedRegistryData(std::string_view text);

// A key's section in the text: the first one whose decoded path names the key, its names compared
// as the registry compares them (Wine's case folding, CodePage.h's AppendFoldedName) and empty
// components passed over, as WineRegistry finds keys.
struct RegistrySection {
  std::size_t begin = 0;    // its "[" line
  std::size_t end = 0;      // where the next section line begins, or the end of the text
  std::size_t lastLine = 0; // the end (after its LF) of its last line that is not blank
};
std::optional<RegistrySection> FindRegistrySection(std::string_view text, std::string_view key);

// A line of a section that sets a value, and where its text data stands between its quotes:
// "..." (REG_SZ) or str(2):"..." (REG_EXPAND_SZ).
struct RegistryValueLine {
  std::size_t at;          // the line's first byte after its indentation, in the text
  std::size_t open;        // its opening quote, from `at`
  std::size_t close;       // its closing quote, from `at`; npos for data that is no text
  bool expandable = false; // str(2): REG_EXPAND_SZ
  bool IsText() const { return close != std::string_view::npos; }
  // The decoded text of its data (only for text data).
  std::string Text(std::string_view text) const;
};

// A line of a section that sets a value, with the value's decoded name and that name as the
// registry compares names.
struct NamedValueLine {
  std::string name;
  std::u16string folded;
  RegistryValueLine line;
};

// Every line of the section that sets a value, in file order.
std::vector<NamedValueLine> ValueLinesOf(std::string_view text, const RegistrySection& section);

// The lines of the section that set the named value (its name compared as the registry compares
// names, like WineRegistry's), in file order (Wine keeps the last one when it loads the file).
std::vector<RegistryValueLine> FindValueLines(std::string_view text, const RegistrySection& section,
                                              std::string_view value);

// A name as the registry compares it (Wine's case folding), as NamedValueLine::folded holds it.
std::u16string FoldedRegistryName(std::string_view name);

// Whether a section of a key below `key` stands in the text: Wine writes a key that has subkeys
// but no values only through its subkeys' sections.
bool HasSubkeySection(std::string_view text, std::string_view key);

// Changes to one text, planned against the text as it was read and made in one go. The changes
// must not overlap.
class RegistryEdit {
public:
  // Replaces the bytes [begin, end) of the quoted data of `line` (a text line; positions counted
  // from after its opening quote) with `data` (escaped already).
  void ReplaceInValue(const RegistryValueLine& line, std::size_t begin, std::size_t end,
                      std::string_view data);
  // Makes `line` (and the continuation lines of its hex data) set `value` to the quoted `data`
  // (escaped already), its indentation and line end kept.
  void SetValue(std::string_view text, const RegistryValueLine& line, std::string_view value,
                std::string_view data);
  // Removes `line`, its continuation lines, its indentation and its line end.
  void RemoveValue(std::string_view text, const RegistryValueLine& line);
  // Adds a line that sets `value` to the quoted `data` (escaped already) after the section's last
  // line.
  void AddValue(std::string_view text, const RegistrySection& section, std::string_view value,
                std::string_view data);
  // Adds a section for `key` at the end of the text, as Wine writes one: after a blank line, its
  // path with the time of `unixTime` (seconds since 1970), a "#time=" line with that time in
  // Windows' units, and a line that sets `value` to the quoted `data` (escaped already).
  void AddSection(std::string_view text, std::string_view key, long long unixTime,
                  std::string_view value, std::string_view data);
  // Removes a section whole. The blank lines before the next section stay as they were before
  // this one; the last section takes the blank lines before it along.
  void RemoveSection(std::string_view text, const RegistrySection& section);
  bool Empty() const { return changes_.empty(); }
  // Makes every change; each lands where it was planned, whatever the order it was planned in.
  void ApplyTo(std::string& text) const;

private:
  struct Change {
    std::size_t at;
    std::size_t removed; // bytes replaced from `at` on
    std::string text;
  };
  std::vector<Change> changes_;
};

} // namespace quillet::platform::posix
