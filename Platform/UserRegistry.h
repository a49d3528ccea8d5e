// User registry: lists of folders in string values of the current user's existing keys
// (HKEY_CURRENT_USER), where the IDEs keep their library paths.
//
// One piece of the interface between Quillet and the operating system: declared once here,
// implemented in Platform/Posix/UserRegistry.cpp and Platform/Win32/UserRegistry.cpp; the list
// rules shared by both are in Platform/UserRegistry.cpp. No OS type appears in it.
//
// The lists' keys are opened, never created; SetUserText creates its key. On Windows the values are
// changed through the registry calls. On POSIX the store is the Wine prefix's user.reg: under a
// lock that every installer takes on it, it is rewritten beside itself (beside the file its links
// lead to) and renamed into place, every byte but the changed values' kept, and only while no
// wineserver of the prefix runs, because a running wineserver holds the registry and writes its own
// copy back.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform {

// One value that takes the folder: a key below HKEY_CURRENT_USER ("Software\...", no leading
// "\") and the name of a ";"-separated list value in it. An optional key that does not exist is
// passed over; a required one that does not exist stops the whole change.
struct UserListTarget {
  std::string key;
  std::string value;
  bool required = true;
};

enum class UserListOutcome {
  Changed,    // at least one value changed: the folder appended, replaced or removed
  Present,    // every value that exists holds it already: nothing changed
  KeyMissing, // a required key does not exist (`detail` names it): nothing changed
  InUse,      // POSIX: a wineserver of the prefix holds the registry, or may (`detail` says
              // why it cannot be told): nothing changed
  Failed,     // the store could not be read or replaced, or a value is no text (`detail`)
};

struct UserListResult {
  UserListOutcome outcome = UserListOutcome::Failed;
  std::string detail;
};

// Appends `folder` (UTF-8 text) to every target value that does not hold it yet, after the entries
// it has. A missing value in an existing key is created with the folder alone. Nothing changes
// unless every required key exists and every existing value is text: POSIX makes all changes in
// one replacement of user.reg; Windows reads every key and value before it writes the first.
UserListResult AddToUserLists(const std::vector<UserListTarget>& targets, std::string_view folder);

// Puts `folder` into every target value in the place of `replacing`: where a value holds
// `replacing` (compared as PathListHolds does), that entry becomes `folder`, or is removed when the
// value holds `folder` already or `folder` is empty; a value without it gets `folder` appended as
// AddToUserLists does (nothing when `folder` is empty). The other entries and their separators stay
// byte for byte. An empty `replacing` makes it AddToUserLists. Outcomes as there: Changed when a
// value changed, Present when none had to.
UserListResult ChangeUserLists(const std::vector<UserListTarget>& targets, std::string_view folder,
                               std::string_view replacing);

// Sets a string value (REG_SZ) of a key below HKEY_CURRENT_USER, creating the key and the keys
// above it when they are missing: the installer's index of its records. Changed when written,
// Present when it held that text already, InUse and Failed as for the lists. A value of
// another type becomes REG_SZ. POSIX: a missing key gets its section at the end of user.reg, as
// Wine writes one.
UserListResult SetUserText(std::string_view key, std::string_view value, std::string_view text);

// Removes a value; then the key too when it is left without values and subkeys, not the keys above
// it. Changed when something was removed, Present when the value was not there. POSIX: every line
// of the name goes, and the key's section when no other value and no subkey's section is left; a
// key above it that has no section of its own (Wine writes such keys only through their subkeys)
// is then gone too when Wine loads the file, as it would be had it never held the key.
// With `emptyParents`, up to that many keys above it go too, each only when the removal left it
// without values and subkeys (the installer's own keys that SetUserText made).
UserListResult RemoveUserValue(std::string_view key, std::string_view value,
                               std::size_t emptyParents = 0);

// The string values of a key below HKEY_CURRENT_USER, in the order the store keeps them (Windows:
// as they were set; Wine: sorted by name; user.reg: file order, a name set again in its first
// line's place with its last line's text): name and text. Empty when the key is missing; values
// that are no text are passed over.
struct UserTextValue {
  std::string name;
  std::string text;
};
std::vector<UserTextValue> ReadUserTexts(std::string_view key);

// The text of a string value (REG_SZ, or REG_EXPAND_SZ as stored, not expanded) of an existing
// key of the current user; nullopt when the key or the value is missing or the value is no text.
// POSIX: as user.reg holds it on disk.
std::optional<std::string> ReadUserText(std::string_view key, std::string_view value);

// Whether a change now would be refused with InUse (POSIX: a wineserver of the prefix runs, or
// may); nullopt when nothing holds the settings. Windows: always nullopt.
std::optional<UserListResult> UserSettingsHeld();

// Whether a ";"-separated list holds a folder, compared ignoring ASCII letter case, blanks around
// each entry and a final "\".
bool PathListHolds(std::string_view list, std::string_view folder);

// The list with the folder appended: after a ";" unless the list is empty or ends with one.
std::string PathListWith(std::string_view list, std::string_view folder);

// Where ChangeUserLists changes one list: the bytes [begin, end) of the list give way to the folder
// (after a ";" when `separator`), or to nothing when `putsFolder` is false.
struct PathListChange {
  std::size_t begin = 0;
  std::size_t end = 0;
  bool putsFolder = false;
  bool separator = false;
};

// The change that puts `folder` in the place of `replacing` in a list, as ChangeUserLists
// describes it; nullopt when the list stays. `decode` gives an entry's text as it is compared (on
// POSIX the list is Wine's escaped data, whose bytes are kept); nullptr takes entries as they are.
std::optional<PathListChange> PlanPathListChange(std::string_view list, std::string_view folder,
                                                 std::string_view replacing,
                                                 std::string (*decode)(std::string_view) = nullptr);

// The list with a planned change made, the folder as it is.
std::string PathListChanged(std::string_view list, const PathListChange& change,
                            std::string_view folder);

} // namespace quillet::platform
