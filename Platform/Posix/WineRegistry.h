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
// What a query gives back is what a 32-bit program reading with the registry functions sees:
// - Text is in UTF-8, the program's texts (Platform/Text.h). Bytes of the file are taken as
//   UTF-16 code units of their own value (Wine writes every other character as an escape), and
//   escaped code units are joined into characters; a lone surrogate becomes "?".
// - Quoted data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) comes back with its terminating NUL, so the
//   data size counts the terminator as RegQueryValueExA reports it.
// - hex(1), hex(2) and hex(7) data is UTF-16LE text, as Wine stores every string; it is converted
//   to UTF-8 like quoted text (an odd last byte is dropped). Other hex data is raw.
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
// Reading a file is one pass over it in pieces of a fixed size, so that memory does not grow with
// the file. A read can be limited to scopes, the paths below which the caller will look: then only
// the section lines are looked at, and a section is kept (its key made, its lines copied) only when
// its key lies at or below a scope. Wow6432Node components count for nothing in this comparison,
// because a 32-bit view enters them on its own. A section above a scope makes its key and no more,
// and one that leaves a scope after a Wow6432Node component makes the keys up to that component,
// which decide how a 32-bit view turns. So every query at or below a scope (see Covers) gives what
// the whole file gives. Values are kept as positions in the copied text and parsed when queried.
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

// The bytes of a registry file, read front to back.
class RegistryBytes {
public:
  virtual ~RegistryBytes() = default;
  // Up to `capacity` bytes into `buffer`; 0 at the end; nullopt when the read fails.
  virtual std::optional<std::size_t> Read(char* buffer, std::size_t capacity) = 0;
};

// Every byte of a source, read to its end; nullopt when a read fails.
std::optional<std::string> ReadAllBytes(RegistryBytes& source);

// Text in memory, handed out in pieces of at most `piece` bytes.
class TextBytes : public RegistryBytes {
public:
  explicit TextBytes(std::string_view text, std::size_t piece = SIZE_MAX)
      : text_(text), piece_(piece == 0 ? 1 : piece) {}
  std::optional<std::size_t> Read(char* buffer, std::size_t capacity) override;

private:
  std::string_view text_;
  std::size_t piece_;
  std::size_t pos_ = 0;
};

// A registry file, open for reading for the life of this object. Each Bytes() reads it anew from
// its start.
class RegistryFile {
public:
  // A missing file, or one that is no regular file (a folder, a FIFO), is not open.
  explicit RegistryFile(const std::string& nativePath);
  ~RegistryFile();
  RegistryFile(const RegistryFile&) = delete;
  RegistryFile& operator=(const RegistryFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // True when size and change times are those the file had when it was opened.
  bool Unchanged() const;

  class Reader : public RegistryBytes {
  public:
    explicit Reader(int fd) : fd_(fd) {}
    std::optional<std::size_t> Read(char* buffer, std::size_t capacity) override;

  private:
    int fd_;
    std::uint64_t offset_ = 0;
  };
  Reader Bytes() const { return Reader(fd_); }

private:
  struct Identity {
    std::uint64_t size = 0;
    std::int64_t modified = 0; // nanoseconds
    std::int64_t changed = 0;  // nanoseconds
    bool operator==(const Identity&) const = default;
  };
  std::optional<Identity> Current() const;

  int fd_ = -1;
  Identity opened_;
};

class WineRegistry {
public:
  using KeyId = std::uint32_t;
  static constexpr KeyId ROOT_KEY = 0;

  // An empty registry.
  WineRegistry();
  // Parses the whole text of a registry file: every key.
  explicit WineRegistry(std::string_view text);
  // Reads a registry file, keeping what queries at or below `scopes` (paths as FindKey takes
  // them) need. A read that fails gives an empty registry, as does a file without the header.
  WineRegistry(RegistryBytes& source, const std::vector<std::string>& scopes);
  // Reads a file whole; a missing or unreadable file gives an empty registry.
  static WineRegistry Load(const std::string& nativePath);

  // True when FindKey(path) and every query on the key it gives, its subkeys' included, answer
  // as on the whole file: the path lies at or below a scope (Wow6432Node components aside), or
  // the registry is empty because the file was none.
  bool Covers(std::string_view path) const;
  // True when both hold the same sections and keys: read with the same scopes from one file, they
  // differ only when the file changed in between.
  bool SameContent(const WineRegistry& other) const;

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

  class Scan;

  void Read(RegistryBytes& source);
  // The value lines and options of the lines in text_[begin, end); `section` is the key they
  // belong to, nullopt before the first section.
  void ParseLines(std::size_t begin, std::size_t end, std::optional<KeyId> section,
                  std::vector<std::pair<KeyId, std::size_t>>& valueLines);
  // Groups the value lines by key and puts subkeys in enumeration order.
  void Finish(const std::vector<std::pair<KeyId, std::size_t>>& valueLines);
  // The key of a decoded section path, made with its parents where missing.
  KeyId AddPath(std::string_view path, SectionCache& cache);
  KeyId FindOrAddSubkey(KeyId parent, std::string_view name, std::u16string& scratch);
  std::optional<KeyId> FindFolded(KeyId parent, std::u16string_view folded) const;
  // The key a 32-bit program sees for `key` in a 64-bit prefix: its Wow6432Node subkey when it
  // has one, else the key itself; but nullopt for a Software key without that subkey.
  std::optional<KeyId> Wow64Branch(KeyId key) const;
  // Where the data of the key's value of that name starts in text_ (the last line of that name).
  std::optional<std::size_t> FindValueData(KeyId key, std::string_view name) const;

  // The copied lines of the kept sections, each section from its "[" to the end of its last line.
  std::string text_;
  bool is64Bit_ = false;
  // The scopes as folded components without Wow6432Node ones; empty when every key is kept.
  std::vector<std::vector<std::u16string>> scopes_;
  bool coversAll_ = true;
  std::vector<Key> keys_;
  // Offsets in text_ of the first character of every value line, grouped by key.
  std::vector<std::size_t> valueLines_;
  // (parent id, folded name) packed into one string -> key id.
  std::unordered_map<std::u16string, KeyId> index_;
};

} // namespace quillet::platform::posix
