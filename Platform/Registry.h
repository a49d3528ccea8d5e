// Registry: HKEY_LOCAL_MACHINE, read only, in the view a 32-bit program sees.
//
// One piece of the interface between Quillet and the operating system: declared once here,
// implemented in Platform/Posix/Registry.cpp and Platform/Win32/Registry.cpp.
// No OS type appears in it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform {

inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;

struct RegistryValue {
  std::uint32_t type = REG_NONE;
  std::string data; // the raw bytes, terminators included as stored
};

class RegistryKey;

// The registry as one session of reads sees it. On POSIX the store is the Wine prefix's
// system.reg, read when the first key is opened, for that key and the keys below it; a key
// elsewhere is read from the same file later, unless the file changed meanwhile: then it is not
// found.
class RegistryAccessor {
public:
  RegistryAccessor();
  ~RegistryAccessor();
  RegistryAccessor(const RegistryAccessor&) = delete;
  RegistryAccessor& operator=(const RegistryAccessor&) = delete;

  // Opens an existing key below HKEY_LOCAL_MACHINE for reading; nullopt when it cannot be opened.
  // The path has no leading "\"; a trailing "\" is allowed.
  std::optional<RegistryKey> OpenLocalMachineKey(std::string_view path);

  struct Store;

private:
  std::shared_ptr<Store> store_;
};

// The keys that the accessors of one stretch of work will open, told ahead. While an object of
// this class lives, the accessors whose first key lies at or below one of these paths share one
// reading of the store, made when the first of them opens its first key, instead of reading it
// each on its own: on POSIX that is one pass over system.reg for all of them. Other accessors read
// as they would without it. Windows keeps the registry itself, and there this does nothing.
// Objects of this class nest; the innermost one counts.
class RegistryReadAhead {
public:
  // Paths as OpenLocalMachineKey takes them.
  explicit RegistryReadAhead(std::vector<std::string> paths);
  ~RegistryReadAhead();
  RegistryReadAhead(const RegistryReadAhead&) = delete;
  RegistryReadAhead& operator=(const RegistryReadAhead&) = delete;

private:
  friend class RegistryAccessor;
  std::vector<std::string> paths_;
  std::shared_ptr<RegistryAccessor::Store> store_; // made when first needed
  RegistryReadAhead* outer_ = nullptr;
};

class RegistryKey {
public:
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey();

  // Names of the direct subkeys in the registry's enumeration order; nullopt when the query fails.
  std::optional<std::vector<std::string>> SubkeyNames() const;

  // The single steps of a read, for callers that must tell them apart:
  // whether the value exists, asked without reading its data;
  bool HasValue(std::string_view name) const;
  // its size in bytes (terminators included, as stored), asked without reading its data;
  // nullopt when the query fails;
  std::optional<std::uint32_t> QueryValueSize(std::string_view name) const;
  // its type and bytes, read into a buffer of `capacity` bytes; nullopt when the read fails,
  // which includes a value that vanished or outgrew `capacity` since its size was asked for.
  std::optional<RegistryValue> ReadValue(std::string_view name, std::uint32_t capacity) const;

  struct Handle;
  explicit RegistryKey(std::unique_ptr<Handle> handle);

private:
  std::unique_ptr<Handle> handle_;
};

} // namespace quillet::platform
