// The current user's registry on Windows, changed through the registry calls: each value is
// replaced whole by one call, which the registry makes atomic. The lists' keys are opened, never
// created; SetUserText creates its key.
// Values are read and written in UTF-16, so that the user's other folders in a list keep every
// character the ANSI code page lacks.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

// How a value reads: its text, or missing, or no text, or unreadable.
enum class ValueState { Text, Missing, NotText, Unreadable };

// Reads a text value (REG_SZ or REG_EXPAND_SZ, not expanded) and its type.
ValueState ReadText(HKEY key, const std::wstring& name, DWORD& type, std::string& text) {
  DWORD size = 0;
  LSTATUS query = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
  if (query == ERROR_FILE_NOT_FOUND) {
    return ValueState::Missing;
  }
  if (query != ERROR_SUCCESS) {
    return ValueState::Unreadable;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    return ValueState::NotText;
  }
  std::wstring wide(size / sizeof(wchar_t) + 1, L'\0');
  DWORD got = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
  query = ::RegQueryValueExW(key, name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(wide.data()), &got);
  if (query != ERROR_SUCCESS) {
    return ValueState::Unreadable;
  }
  wide.resize(got / sizeof(wchar_t));
  wide.resize(wide.find(L'\0') == std::wstring::npos ? wide.size() : wide.find(L'\0'));
  text = win32::TextOfWide(wide);
  return ValueState::Text;
}

LSTATUS WriteText(HKEY key, std::string_view value, DWORD type, std::string_view text) {
  const std::wstring data = win32::WideOfText(text);
  return ::RegSetValueExW(key, win32::WideOfText(value).c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

UserListResult Unreadable(std::string_view key, std::string_view value, std::string_view what) {
  std::string detail(key);
  detail.append("\\").append(value).append(what);
  return {UserListOutcome::Failed, detail};
}

} // namespace

UserListResult ChangeUserLists(const std::vector<UserListTarget>& targets, std::string_view folder,
                               std::string_view replacing) {
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
    std::string current;
    switch (ReadText(key->Get(), win32::WideOfText(target.value), type, current)) {
    case ValueState::NotText:
      return Unreadable(target.key, target.value, " is no text value; it is left as it is");
    case ValueState::Unreadable:
      return Unreadable(target.key, target.value, ": cannot be read");
    case ValueState::Missing:
      type = REG_SZ;
      break;
    case ValueState::Text:
      break;
    }
    if (const std::optional<PathListChange> change =
            PlanPathListChange(current, folder, replacing)) {
      changes.push_back(Change{key, target.value, type, PathListChanged(current, *change, folder)});
    }
  }
  if (changes.empty()) {
    return {UserListOutcome::Present, {}};
  }
  // An interrupt waits until every value of the line is written.
  const InterruptHold hold;
  for (const Change& change : changes) {
    const LSTATUS status = WriteText(change.key->Get(), change.value, change.type, change.data);
    if (status != ERROR_SUCCESS) {
      return {UserListOutcome::Failed,
              change.value + ": cannot be written (error " + std::to_string(status) + ")"};
    }
  }
  return {UserListOutcome::Changed, {}};
}

UserListResult SetUserText(std::string_view key, std::string_view value, std::string_view text) {
  HKEY created = nullptr;
  const LSTATUS status =
      ::RegCreateKeyExW(HKEY_CURRENT_USER, win32::WideOfText(key).c_str(), 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &created, nullptr);
  if (status != ERROR_SUCCESS) {
    return {UserListOutcome::Failed,
            std::string(key) + ": cannot be created (error " + std::to_string(status) + ")"};
  }
  const OpenKey opened(created);
  DWORD type = REG_SZ;
  std::string current;
  if (ReadText(opened.Get(), win32::WideOfText(value), type, current) == ValueState::Text &&
      type == REG_SZ && current == text) {
    return {UserListOutcome::Present, {}};
  }
  const InterruptHold hold;
  const LSTATUS written = WriteText(opened.Get(), value, REG_SZ, text);
  if (written != ERROR_SUCCESS) {
    return Unreadable(key, value, ": cannot be written (error " + std::to_string(written) + ")");
  }
  return {UserListOutcome::Changed, {}};
}

UserListResult RemoveUserValue(std::string_view key, std::string_view value,
                               std::size_t emptyParents) {
  const std::wstring wideKey = win32::WideOfText(key);
  HKEY found = nullptr;
  const LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, wideKey.c_str(), 0,
                                         KEY_QUERY_VALUE | KEY_SET_VALUE, &found);
  if (status == ERROR_FILE_NOT_FOUND) {
    return {UserListOutcome::Present, {}};
  }
  if (status != ERROR_SUCCESS) {
    return {UserListOutcome::Failed,
            std::string(key) + ": cannot be opened (error " + std::to_string(status) + ")"};
  }
  DWORD subkeys = 0;
  DWORD values = 0;
  {
    const OpenKey opened(found);
    const InterruptHold hold;
    const LSTATUS removed = ::RegDeleteValueW(opened.Get(), win32::WideOfText(value).c_str());
    if (removed == ERROR_FILE_NOT_FOUND) {
      return {UserListOutcome::Present, {}};
    }
    if (removed != ERROR_SUCCESS) {
      return Unreadable(key, value, ": cannot be removed (error " + std::to_string(removed) + ")");
    }
    if (::RegQueryInfoKeyW(opened.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                           &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return {UserListOutcome::Changed, {}}; // the key stays when it cannot be told empty
    }
  }
  // Only this key, not the keys above it; a key that cannot be removed stays (it holds nothing).
  if (subkeys == 0 && values == 0 &&
      ::RegDeleteKeyW(HKEY_CURRENT_USER, wideKey.c_str()) == ERROR_SUCCESS) {
    // The keys above, while each is left empty.
    std::string_view parent = key;
    for (std::size_t i = 0; i < emptyParents; ++i) {
      const std::size_t last = parent.rfind('\\');
      if (last == std::string_view::npos || last == 0) {
        break;
      }
      parent = parent.substr(0, last);
      const std::wstring wideParent = win32::WideOfText(parent);
      HKEY opened = nullptr;
      if (::RegOpenKeyExW(HKEY_CURRENT_USER, wideParent.c_str(), 0, KEY_QUERY_VALUE, &opened) !=
          ERROR_SUCCESS) {
        break;
      }
      DWORD below = 1;
      DWORD held = 1;
      {
        const OpenKey parentKey(opened);
        ::RegQueryInfoKeyW(parentKey.Get(), nullptr, nullptr, nullptr, &below, nullptr, nullptr,
                           &held, nullptr, nullptr, nullptr, nullptr);
      }
      if (below != 0 || held != 0 ||
          ::RegDeleteKeyW(HKEY_CURRENT_USER, wideParent.c_str()) != ERROR_SUCCESS) {
        break;
      }
    }
  }
  return {UserListOutcome::Changed, {}};
}

std::vector<UserTextValue> ReadUserTexts(std::string_view key) {
  HKEY found = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, win32::WideOfText(key).c_str(), 0, KEY_QUERY_VALUE,
                      &found) != ERROR_SUCCESS) {
    return {};
  }
  const OpenKey opened(found);
  DWORD longestName = 0;
  if (::RegQueryInfoKeyW(opened.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, &longestName, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return {};
  }
  std::vector<UserTextValue> texts;
  std::wstring name(longestName + 1, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    const LSTATUS status = ::RegEnumValueW(opened.Get(), index, name.data(), &length, nullptr,
                                           nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) {
      name.resize(name.size() * 2); // a longer name was set meanwhile: the same index again
      --index;
      continue;
    }
    if (status != ERROR_SUCCESS) {
      break; // ERROR_NO_MORE_ITEMS at the end
    }
    const std::wstring valueName = name.substr(0, length);
    DWORD type = REG_SZ;
    std::string text;
    if (ReadText(opened.Get(), valueName, type, text) == ValueState::Text) {
      texts.push_back(UserTextValue{win32::TextOfWide(valueName), std::move(text)});
    }
  }
  return texts;
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

std::optional<UserListResult> UserSettingsHeld() {
  return std::nullopt; // the registry calls change the settings while programs run
}

} // namespace quillet::platform
