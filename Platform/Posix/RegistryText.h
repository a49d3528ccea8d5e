// The text of Wine's registry files as it is edited in place: finding a key's section and the
// lines that set a value, and writing names and data in the file's escapes. user.reg is changed
// with it; the reader of system.reg (WineRegistry.h) parses the same text and owns its decoding
// (DecodedRegistryText), which these lines use too.
//
// An edit keeps every byte it does not change: line ends (LF or CRLF), a byte order mark, a last
// line without a line end, and the type tag of the data it appends to.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform::posix {

// A name as the registry files write it, for names of ASCII characters: "\" and '"' escaped.
std::string EscapedRegistryName(std::string_view name);

// ANSI text in the registry files' escapes: printable ASCII as it is ("\" and '"' escaped), every
// other character as its UTF-16 code units in "\x" escapes of four digits.
std::string EscapedRegistryData(std::string_view ansi);

// A key's section in the text: the first one whose name matches, ignoring ASCII letter case.
struct RegistrySection {
  std::size_t begin = 0;    // its "[" line
  std::size_t end = 0;      // where the next section line begins, or the end of the text
  std::size_t lastLine = 0; // the end (after its LF) of its last line that is not blank
};
std::optional<RegistrySection> FindRegistrySection(std::string_view text, std::string_view key);

// A line of a section that sets a value, and where its text data stands between its quotes:
// "..." (REG_SZ) or str(2):"..." (REG_EXPAND_SZ).
struct RegistryValueLine {
  std::size_t at;    // the line's first byte in the text
  std::size_t open;  // its opening quote, from `at`
  std::size_t close; // its closing quote, from `at`; npos for data that is no text
  bool IsText() const { return close != std::string_view::npos; }
  // The decoded text of its data (only for text data).
  std::string Text(std::string_view text) const;
};

// The lines of the section that set the named value, in file order (Wine keeps the last one when
// it loads the file).
std::vector<RegistryValueLine> FindValueLines(std::string_view text, const RegistrySection& section,
                                              std::string_view value);

// Changes to one text, planned against the text as it was read and made in one go.
class RegistryEdit {
public:
  // Appends `data` (escaped already) to the quoted data of `line`.
  void AppendToValue(const RegistryValueLine& line, std::string_view data);
  // Adds a line that sets `value` to the quoted `data` (escaped already) after the section's last
  // line.
  void AddValue(std::string_view text, const RegistrySection& section, std::string_view value,
                std::string_view data);
  bool Empty() const { return insertions_.empty(); }
  // Makes every change; each lands where it was planned, whatever the order it was planned in.
  void ApplyTo(std::string& text) const;

private:
  struct Insertion {
    std::size_t at;
    std::string text;
  };
  std::vector<Insertion> insertions_;
};

} // namespace quillet::platform::posix
