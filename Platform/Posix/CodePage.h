// Windows code pages on POSIX, against the locale's encoding.
//
// The program's texts are UTF-8 (Platform/Text.h); Active() converts them at the boundary to the
// system: file names to and from the native encoding, registry text (UTF-16) to UTF-8, console
// output to the terminal's encoding and console input back. The system's ANSI code page, which
// Wine plays for Windows programs, is chosen from the locale (LC_CTYPE) as Wine chooses it: it is
// the code page of a package that names none and of the bytes in a pipe or a file. A package's
// own code page is converted to UTF-8 with the same class.
//
// Bytes that are no character of the code page (an undefined byte, a lead byte without a valid
// second byte) pass through unchanged in both directions, so that a package whose names were
// stored in another encoding still installs. A Unicode character that a code page cannot hold
// becomes its nearest character where glibc's transliteration knows one, else "?", as the
// best-fit tables of Windows and Wine do.
#pragma once

#include <iconv.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "Platform/Text.h"
#include "Platform/Utf8.h"

namespace quillet::platform::posix {

// Which bytes of a double-byte code page begin a character of two bytes.
using LeadByteTable = std::array<bool, 256>;

// The ANSI code page that Wine takes for a POSIX locale name such as "ja_JP.UTF-8": by language,
// and for Chinese by territory. "C", "POSIX" and unknown languages give 1252; languages that
// Windows writes in Unicode only give 65001 (UTF-8).
std::uint32_t AnsiCodePageForLocale(std::string_view localeName);

// The iconv name of a Windows code page ("CP1252", "CP932"); empty for one that is not known.
std::string IconvNameOfCodePage(std::uint32_t codePage);

// An iconv descriptor for the length of its owner.
class IconvHandle {
public:
  IconvHandle(const std::string& to, const std::string& from);
  ~IconvHandle();
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
  // Converts all of `in`; nullopt when iconv refuses a byte (or the input ends inside a
  // character). `incomplete` tells the latter apart.
  std::optional<std::string> Convert(std::string_view in, bool* incomplete = nullptr) const;

private:
  iconv_t handle_;
};

// One code page against one native encoding.
class CodePage {
public:
  // `nativeCharset` is the iconv name of the system's encoding; ASCII and UTF-8 names both mean
  // UTF-8. Throws std::invalid_argument for a code page that iconv does not know.
  CodePage(std::uint32_t number, std::string_view nativeCharset);

  // The program's texts, UTF-8, against the locale's encoding.
  static const CodePage& Active();
  // The ANSI code page of the current LC_CTYPE locale against its encoding. It is chosen again
  // only when the locale changes.
  static const CodePage& System();

  std::uint32_t Number() const { return number_; }
  // The lead bytes of a double-byte code page; nullptr for a single-byte one.
  const LeadByteTable* LeadBytes() const { return doubleByte_ ? &leadBytes_ : nullptr; }

  // Text in the code page as code points; a byte that is no character is a pass-through marker.
  std::u32string Decode(std::string_view text) const;
  // Code points as text in the code page. Without `strict`, a character the code page lacks becomes
  // its nearest one or "?"; with it, the first such character goes to `unmappable` and the result
  // is incomplete.
  std::string Encode(std::u32string_view text, bool strict = false,
                     std::optional<char32_t>* unmappable = nullptr) const;

  // Whether the native encoding holds every character of the text; bytes that are no character
  // pass through.
  bool HeldByNative(std::string_view text) const;
  // Text in the code page in the native encoding, and back.
  std::string ToNative(std::string_view text) const;
  std::string FromNative(std::string_view native) const;

private:
  using Row = std::array<char32_t, 256>;
  const Row& DoubleByteRow(unsigned char lead) const;
  std::optional<std::string> EncodeOne(char32_t c, bool strict) const;

  std::uint32_t number_;
  bool doubleByte_ = false;
  bool nativeUtf8_ = true;
  LeadByteTable leadBytes_{};
  Row singleBytes_{};
  std::string iconvName_;
  std::string nativeCharset_;
  std::unique_ptr<IconvHandle> decoder_;
  std::unique_ptr<IconvHandle> encoder_;
  std::unique_ptr<IconvHandle> bestFitEncoder_;
  std::unique_ptr<IconvHandle> nativeDecoder_;
  std::unique_ptr<IconvHandle> nativeEncoder_;
  // Filled as characters are met; names and texts use few of them.
  mutable std::mutex cacheLock_;
  mutable std::array<std::unique_ptr<Row>, 256> rows_;
  mutable std::unordered_map<char32_t, std::optional<std::string>> strictCache_;
  mutable std::unordered_map<char32_t, std::string> bestFitCache_;
};

// Builds text in a code page (the program's UTF-8 for registry text) from UTF-16 code units
// (registry escapes and data) and from bytes taken as they are, joining surrogate pairs.
class CodePageBuilder {
public:
  CodePageBuilder(std::string& out, const CodePage& codePage) : out_(out), codePage_(codePage) {}
  void Byte(char c);
  void Bytes(std::string_view run);
  void Unit(char16_t unit);
  void Finish();

private:
  void Flush();
  std::string& out_;
  const CodePage& codePage_;
  std::u32string pending_;
  char16_t highSurrogate_ = 0;
};

// The upper case of a character by Unicode's rules, whatever the locale; pass-through markers
// stay as they are.
char32_t UpperCase(char32_t c);

// The upper-case UTF-16 form of a name in the code page, appended to `out`: the key of a
// case-insensitive lookup. A pass-through byte stands for itself, above every character.
void AppendFoldedName(std::u16string& out, std::string_view name, const CodePage& codePage);

} // namespace quillet::platform::posix
