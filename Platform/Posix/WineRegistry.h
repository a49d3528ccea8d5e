// Reader for the text registry files of a Wine prefix (system.reg), the store that stands in for
// HKEY_LOCAL_MACHINE on POSIX systems.
//
// The file format, as Wine writes it:
//
//   WINE REGISTRY Version 2
//   ;; All keys relative to \\Machine
//   #arch=win64
//
//   [Software\\Borland\\Delphi\\7.0] 1796736037
//   #time=1d9f2c3e8a1b2c4
//   "RootDir"="C:\\Program Files\\Borland\\Delphi7\\"
//   @="default value"
//   "Expand"=str(2):"%ProgramFiles%\\X"
//   "Multi"=str(7):"one\0two\0"
//   "Count"=dword:0000000a
//   "Blob"=hex:00,01,02,\ (a trailing backslash: the data goes on in the next line)
//     03,04
//   "Other"=hex(5):00,00,00,01
//
// The first line must be the header; a file without it is no registry file and reads as empty.
// Lines may be indented; ";" lines are comments, "#" lines are options (only "#arch=" before the
// first section is used), other unknown lines are ignored. A section names its key by the full path
// below HKEY_LOCAL_MACHINE; keys that only appear as parts of longer paths exist too. A key may
// appear in several sections; its values are merged, and a later value of the same name replaces
// an earlier one.
//
// Escapes in names and quoted data: "\\", "\"", "\]" and any other "\c" give c; "\a" "\b" "\e"
// "\f" "\n" "\r" "\t" "\v" give the control characters; "\x" with 1 to 4 hex digits and "\" with
// 1 to 3 octal digits give a UTF-16 code unit ("\x" without a digit gives "x").
//
// What a query gives back is what a 32-bit program reading with the ANSI registry functions sees:
// - Text is bytes in the ANSI code page that Posix/CodePage.h plays. Bytes of the file are taken as
//   UTF-16 code units of their own value (Wine writes every other character as an escape), and
//   escaped code units are joined into characters; characters the code page lacks become their
//   nearest one or "?", as Wine's ANSI calls convert them.
// - Quoted data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) comes back with its terminating NUL, so the
//   data size counts the terminator as RegQueryValueExA reports it.
// - hex(1), hex(2) and hex(7) data is UTF-16LE text, as Wine stores every string; it is converted
//   to the ANSI code page like quoted text (an odd last byte is dropped). Other hex data is raw.
// - dword: gives the hex digits that follow (none give 0) as four bytes, little-endian.
// - Hex data goes on in the next line only after a trailing "\", and never into a section line:
//   a value that would continue there is malformed, and the section stands.
// - A value whose data cannot be parsed (unknown type tag, unterminated text, bad hex) exists with
//   type REG_NONE and no data, as Wine loads it.
//
// Names match without regard to case (ASCII letters always, other characters by their upper
// case in Unicode). Subkeys enumerate sorted by their upper-case UTF-16 code units, the registry's
// own order. Symbolic-link keys ("#link") are read as ordinary keys; no link is followed.
//
// Parsing is one pass over the lines that indexes the keys; values are kept as positions in the
// text and parsed when queried.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Platform/Registry.h"

namespace quillet::platform::posix {

class WineRegistry {
public:
  using KeyId = std::uint32_t;
  static constexpr KeyId ROOT_KEY = 0;

  // An empty registry.
  WineRegistry();
  // Parses the whole text of a registry file.
  explicit WineRegistry(std::string text);
  // Reads and parses a file; a missing or unreadable file gives an empty registry.
  static WineRegistry Load(const std::string& nativePath);

  // True when the file says "#arch=win64": a 32-bit program then sees the Wow6432Node branches.
  bool Is64BitPrefix() const { return is64Bit_; }
  // Number of keys, the root included.
  std::size_t KeyCount() const { return keys_.size(); }

  // The key at a path below the root ("\" separated, no leading "\", a trailing "\" allowed).
  // With `view32` the path is resolved as a 32-bit program sees it in a 64-bit prefix: Software is
  // always read from Software\Wow6432Node, so without that key the view has nothing under
  // Software; every other key that has a Wow6432Node subkey is entered through it.
  // nullopt when a component is missing.
  std::optional<KeyId> FindKey(std::string_view path, bool view32) const;

  // The direct subkey of `parent` with the given name, without any view mapping.
  std::optional<KeyId> FindSubkey(KeyId parent, std::string_view name) const;

  // The key's own name as first written in the file; empty for the root.
  const std::string& KeyName(KeyId key) const { return keys_.at(key).name; }
  // Direct subkeys in enumeration order.
  const std::vector<KeyId>& Subkeys(KeyId key) const { return keys_.at(key).children; }
  std::vector<std::string> SubkeyNames(KeyId key) const;
  // Names of the key's values in file order, duplicates included; "" is the default value.
  std::vector<std::string> ValueNames(KeyId key) const;

  // True when the key has a value of that name; its data is not parsed.
  bool HasValue(KeyId key, std::string_view name) const;
  // The value's type and bytes; nullopt when the key has no value of that name.
  std::optional<RegistryValue> QueryValue(KeyId key, std::string_view name) const;

private:
  struct Key {
    KeyId parent = 0;
    std::string name;
    std::u16string folded;
    std::vector<KeyId> children;
    // The key's value lines, in file order: valueLines_[firstValue, firstValue + valueCount).
    std::size_t firstValue = 0;
    std::size_t valueCount = 0;
  };

  // What the parse remembers from one section line to the next.
  struct SectionCache {
    std::string path;         // the decoded path of the current section
    std::string previousPath; // the decoded path of the section before
    // For each component of previousPath: where it ends there, and its key.
    std::vector<std::pair<std::size_t, KeyId>> chain;
    std::u16string indexKey;
  };

  void Parse();
  // The key a section line names (the text after "["); nullopt when the line is malformed.
  std::optional<KeyId> AddSection(std::string_view header, SectionCache& cache);
  KeyId FindOrAddSubkey(KeyId parent, std::string_view name, std::u16string& scratch);
  std::optional<KeyId> FindFolded(KeyId parent, std::u16string_view folded) const;
  // The key a 32-bit program sees for `key` in a 64-bit prefix: its Wow6432Node subkey when it
  // has one, else the key itself; but nullopt for a Software key without that subkey.
  std::optional<KeyId> Wow64Branch(KeyId key) const;
  // Where the data of the key's value of that name starts in text_ (the last line of that name).
  std::optional<std::size_t> FindValueData(KeyId key, std::string_view name) const;

  std::string text_;
  bool is64Bit_ = false;
  std::vector<Key> keys_;
  // Offsets in text_ of the first character of every value line, grouped by key.
  std::vector<std::size_t> valueLines_;
  // (parent id, folded name) packed into one string -> key id.
  std::unordered_map<std::u16string, KeyId> index_;
};

} // namespace quillet::platform::posix
