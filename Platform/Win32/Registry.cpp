// The registry of the system: HKEY_LOCAL_MACHINE as a 32-bit program sees it, opened for reading
// only. Nothing is ever written to it.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "Platform/Registry.h"
#include "Platform/Win32/Win32.h"

namespace quillet::platform {

namespace {

// Read rights suffice; the IDEs register in the 32-bit view, also on 64-bit Windows.
constexpr REGSAM KEY_ACCESS = KEY_READ | KEY_WOW64_32KEY;
// A value or a name that keeps growing between the size query and the read is given up on.
constexpr int READ_ATTEMPTS = 4;

bool IsText(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

} // namespace

// Windows keeps the store itself: the accessor holds nothing.
struct RegistryAccessor::Store {};

struct RegistryKey::Handle {
  HKEY key = nullptr;

  explicit Handle(HKEY opened) : key(opened) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (key != nullptr) {
      ::RegCloseKey(key);
    }
  }
};

RegistryAccessor::RegistryAccessor() = default;
RegistryAccessor::~RegistryAccessor() = default;

RegistryReadAhead::RegistryReadAhead(std::vector<std::string> paths) : paths_(std::move(paths)) {}
RegistryReadAhead::~RegistryReadAhead() = default;

std::optional<RegistryKey> RegistryAccessor::OpenLocalMachineKey(std::string_view path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, win32::WideOfText(path).c_str(), 0, KEY_ACCESS, &key) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return RegistryKey(std::make_unique<RegistryKey::Handle>(key));
}

RegistryKey::RegistryKey(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::~RegistryKey() = default;

std::optional<std::vector<std::string>> RegistryKey::SubkeyNames() const {
  if (!handle_) {
    return std::nullopt;
  }
  DWORD count = 0;
  DWORD longest = 0; // in characters, without the terminator
  if (::RegQueryInfoKeyW(handle_->key, nullptr, nullptr, nullptr, &count, &longest, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // A name that no longer fits (the key changed since) makes the buffer grow.
  std::wstring buffer(static_cast<std::size_t>(longest) + 1, L'\0');
  std::vector<std::string> names;
  names.reserve(count);
  for (DWORD index = 0; index < count; ++index) {
    for (int attempt = 0; attempt < READ_ATTEMPTS; ++attempt) {
      DWORD size = static_cast<DWORD>(buffer.size());
      const LSTATUS status = ::RegEnumKeyExW(handle_->key, index, buffer.data(), &size, nullptr,
                                             nullptr, nullptr, nullptr);
      if (status == ERROR_MORE_DATA) {
        buffer.resize(buffer.size() * 2);
        continue;
      }
      if (status == ERROR_SUCCESS) {
        names.push_back(win32::TextOfWide(std::wstring_view(buffer.data(), size)));
      }
      // Any other failure: the key changed since it was counted; that index has no name.
      break;
    }
  }
  return names;
}

bool RegistryKey::HasValue(std::string_view name) const {
  if (!handle_) {
    return false;
  }
  return ::RegQueryValueExW(handle_->key, win32::WideOfText(name).c_str(), nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS;
}

std::optional<std::uint32_t> RegistryKey::QueryValueSize(std::string_view name) const {
  if (!handle_) {
    return std::nullopt;
  }
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (::RegQueryValueExW(handle_->key, win32::WideOfText(name).c_str(), nullptr, &type, nullptr,
                         &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  if (!IsText(type)) {
    return size;
  }
  // Text is stored in UTF-16 and read in UTF-8: a UTF-16 unit (two bytes) takes at most three
  // bytes there. The size is an upper bound, as the ANSI calls give it.
  const std::uint64_t bound = (static_cast<std::uint64_t>(size) * 3 + 1) / 2;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(bound, UINT32_MAX));
}

std::optional<RegistryValue> RegistryKey::ReadValue(std::string_view name,
                                                    std::uint32_t capacity) const {
  if (!handle_) {
    return std::nullopt;
  }
  std::string raw(capacity, '\0');
  DWORD type = REG_NONE;
  DWORD got = capacity;
  // One read, no retry: a value that grew past the size asked for is a failed read.
  if (::RegQueryValueExW(handle_->key, win32::WideOfText(name).c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(raw.data()), &got) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  raw.resize(got <= capacity ? got : capacity);
  RegistryValue value;
  value.type = type;
  if (!IsText(type)) {
    value.data = std::move(raw);
    return value;
  }
  // Terminators stay, one byte each, as the ANSI calls give them.
  std::wstring wide(raw.size() / sizeof(wchar_t), L'\0');
  std::memcpy(wide.data(), raw.data(), wide.size() * sizeof(wchar_t));
  value.data = win32::TextOfWide(wide);
  if (value.data.size() > capacity) {
    return std::nullopt;
  }
  return value;
}

} // namespace quillet::platform
