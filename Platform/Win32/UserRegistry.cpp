// The current user's registry on Windows, changed through the registry calls: each value is
// replaced whole by one call, which the registry makes atomic. Keys are opened, never created.
// Values are read and written in UTF-16, so that the user's other folders in a list keep every
// character the ANSI code page lacks.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Interruption.h"
#include "Platform/UserRegistry.h"
#include "Platform/Win32/Win32.h"

namespace quillet::platform {

namespace {

// An open key for the length of its owner.
class OpenKey {
public:
  explicit OpenKey(HKEY key) : key_(key) {}
  ~OpenKey() {
    if (key_ != nullptr) {
      ::RegCloseKey(key_);
    }
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY Get() const { return key_; }

private:
  HKEY key_;
};

struct Change {
  std::shared_ptr<OpenKey> key;
  std::string value;
  DWORD type = REG_SZ;
  std::string data; // the new list, without its terminator
};

} // namespace

UserListResult AddToUserLists(const std::vector<UserListTarget>& targets, std::string_view folder) {
  // Every key is opened and every value read before the first one is written, so that a missing
  // key or a value of another type changes nothing.
  std::vector<Change> changes;
  for (const UserListTarget& target : targets) {
    HKEY opened = nullptr;
    const LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, win32::WideOfText(target.key).c_str(),
                                           0, KEY_QUERY_VALUE | KEY_SET_VALUE, &opened);
    if (status == ERROR_FILE_NOT_FOUND) {
      if (target.required) {
        return {UserListOutcome::KeyMissing, target.key};
      }
      continue;
    }
    if (status != ERROR_SUCCESS) {
      return {UserListOutcome::Failed,
              target.key + ": cannot be opened (error " + std::to_string(status) + ")"};
    }
    auto key = std::make_shared<OpenKey>(opened);
    DWORD type = REG_SZ;
    DWORD size = 0;
    std::string current;
    const std::wstring valueName = win32::WideOfText(target.value);
    LSTATUS query =
        ::RegQueryValueExW(key->Get(), valueName.c_str(), nullptr, &type, nullptr, &size);
    if (query == ERROR_SUCCESS) {
      if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return {UserListOutcome::Failed,
                target.key + "\\" + target.value + " is no text value; it is left as it is"};
      }
      std::wstring wide(size / sizeof(wchar_t) + 1, L'\0');
      DWORD got = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
      query = ::RegQueryValueExW(key->Get(), valueName.c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(wide.data()), &got);
      if (query != ERROR_SUCCESS) {
        return {UserListOutcome::Failed, target.key + "\\" + target.value + ": cannot be read"};
      }
      wide.resize(got / sizeof(wchar_t));
      wide.resize(wide.find(L'\0') == std::wstring::npos ? wide.size() : wide.find(L'\0'));
      current = win32::TextOfWide(wide);
    } else if (query != ERROR_FILE_NOT_FOUND) {
      return {UserListOutcome::Failed, target.key + "\\" + target.value + ": cannot be read"};
    } else {
      type = REG_SZ;
    }
    if (!PathListHolds(current, folder)) {
      changes.push_back(Change{key, target.value, type, PathListWith(current, folder)});
    }
  }
  if (changes.empty()) {
    return {UserListOutcome::Present, {}};
  }
  // An interrupt waits until every value of the line is written.
  const InterruptHold hold;
  for (const Change& change : changes) {
    const std::wstring data = win32::WideOfText(change.data);
    const LSTATUS status =
        ::RegSetValueExW(change.key->Get(), win32::WideOfText(change.value).c_str(), 0, change.type,
                         reinterpret_cast<const BYTE*>(data.c_str()),
                         static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) {
      return {UserListOutcome::Failed,
              change.value + ": cannot be written (error " + std::to_string(status) + ")"};
    }
  }
  return {UserListOutcome::Added, {}};
}

std::optional<std::string> ReadUserText(std::string_view key, std::string_view value) {
  const std::wstring wideKey = win32::WideOfText(key);
  const std::wstring wideValue = win32::WideOfText(value);
  constexpr DWORD TEXT_TYPES = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
  DWORD size = 0;
  if (::RegGetValueW(HKEY_CURRENT_USER, wideKey.c_str(), wideValue.c_str(), TEXT_TYPES, nullptr,
                     nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_CURRENT_USER, wideKey.c_str(), wideValue.c_str(), TEXT_TYPES, nullptr,
                     text.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  text.resize(text.find(L'\0') == std::wstring::npos ? text.size() : text.find(L'\0'));
  return win32::TextOfWide(text);
}

} // namespace quillet::platform
