// The registry of the system: HKEY_LOCAL_MACHINE as a 32-bit program sees it, opened for reading
// only. Nothing is ever written to it.
#include <cstring>
#include <utility>

#include "Platform/Registry.h"
#include "Platform/Text.h"
#include "Platform/Win32/Win32.h"

namespace quillet::platform {

namespace {

// Read rights suffice; the IDEs register in the 32-bit view, also on 64-bit Windows.
constexpr REGSAM KEY_ACCESS = KEY_READ | KEY_WOW64_32KEY;
// A value or a name that keeps growing between the size query and the read is given up on.
constexpr int READ_ATTEMPTS = 4;

std::string UpToNul(const char* text, std::size_t size) {
  const void* nul = std::memchr(text, '\0', size);
  return std::string(text, nul != nullptr ? static_cast<const char*>(nul) - text : size);
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
  const std::string subkey(path);
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_ACCESS, &key) != ERROR_SUCCESS) {
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
  if (::RegQueryInfoKeyA(handle_->key, nullptr, nullptr, nullptr, &count, &longest, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  // The longest name is counted in UTF-16 units; a double-byte code page may need two bytes for
  // each. A name that still does not fit makes the buffer grow.
  const DWORD bytesPerCharacter = ActiveLeadBytes() != nullptr ? 2 : 1;
  std::string buffer(static_cast<std::size_t>(longest) * bytesPerCharacter + 1, '\0');
  std::vector<std::string> names;
  names.reserve(count);
  for (DWORD index = 0; index < count; ++index) {
    for (int attempt = 0; attempt < READ_ATTEMPTS; ++attempt) {
      DWORD size = static_cast<DWORD>(buffer.size());
      const LSTATUS status = ::RegEnumKeyExA(handle_->key, index, buffer.data(), &size, nullptr,
                                             nullptr, nullptr, nullptr);
      if (status == ERROR_MORE_DATA) {
        buffer.resize(buffer.size() * 2);
        continue;
      }
      if (status == ERROR_SUCCESS) {
        names.push_back(UpToNul(buffer.data(), size));
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
  const std::string valueName(name);
  return ::RegQueryValueExA(handle_->key, valueName.c_str(), nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

std::optional<std::uint32_t> RegistryKey::QueryValueSize(std::string_view name) const {
  if (!handle_) {
    return std::nullopt;
  }
  const std::string valueName(name);
  DWORD size = 0;
  if (::RegQueryValueExA(handle_->key, valueName.c_str(), nullptr, nullptr, nullptr, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return size;
}

std::optional<RegistryValue> RegistryKey::ReadValue(std::string_view name,
                                                    std::uint32_t capacity) const {
  if (!handle_) {
    return std::nullopt;
  }
  const std::string valueName(name);
  RegistryValue value;
  value.data.resize(capacity);
  DWORD type = REG_NONE;
  DWORD got = capacity;
  // One read, no retry: a value that grew past the size asked for is a failed read.
  if (::RegQueryValueExA(handle_->key, valueName.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(value.data.data()), &got) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.type = type;
  value.data.resize(got <= capacity ? got : capacity);
  return value;
}

} // namespace quillet::platform
