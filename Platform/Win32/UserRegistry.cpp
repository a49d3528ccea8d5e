// The current user's registry on Windows, changed through the registry calls: each value is
// replaced whole by one call, which the registry makes atomic. Keys are opened, never created.
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
    const LSTATUS status = ::RegOpenKeyExA(HKEY_CURRENT_USER, target.key.c_str(), 0,
                                           KEY_QUERY_VALUE | KEY_SET_VALUE, &opened);
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
    LSTATUS query =
        ::RegQueryValueExA(key->Get(), target.value.c_str(), nullptr, &type, nullptr, &size);
    if (query == ERROR_SUCCESS) {
      if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return {UserListOutcome::Failed,
                target.key + "\\" + target.value + " is no text value; it is left as it is"};
      }
      current.resize(size);
      query = ::RegQueryValueExA(key->Get(), target.value.c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(current.data()), &size);
      if (query != ERROR_SUCCESS) {
        return {UserListOutcome::Failed, target.key + "\\" + target.value + ": cannot be read"};
      }
      current.resize(size);
      current.resize(current.find('\0') == std::string::npos ? current.size() : current.find('\0'));
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
    const LSTATUS status = ::RegSetValueExA(change.key->Get(), change.value.c_str(), 0, change.type,
                                            reinterpret_cast<const BYTE*>(change.data.c_str()),
                                            static_cast<DWORD>(change.data.size() + 1));
    if (status != ERROR_SUCCESS) {
      return {UserListOutcome::Failed,
              change.value + ": cannot be written (error " + std::to_string(status) + ")"};
    }
  }
  return {UserListOutcome::Added, {}};
}

std::string WindowsViewOfFolder(std::string_view folder) {
  const std::string given(folder);
  const DWORD size = ::GetFullPathNameA(given.c_str(), 0, nullptr, nullptr);
  if (size == 0) {
    return given;
  }
  std::string full(size, '\0');
  const DWORD got = ::GetFullPathNameA(given.c_str(), size, full.data(), nullptr);
  if (got == 0 || got >= size) {
    return given;
  }
  full.resize(got);
  return full;
}

} // namespace quillet::platform
