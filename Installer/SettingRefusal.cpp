// The reasons a change of the IDE's settings is refused, in the words every line shares.
#include "Installer/SettingRefusal.h"

namespace quillet {

std::optional<SettingRefusal> SettingRefusal::Of(const platform::UserListResult& result) {
  switch (result.outcome) {
  case platform::UserListOutcome::Changed:
  case platform::UserListOutcome::Present:
    return std::nullopt;
  case platform::UserListOutcome::KeyMissing:
    return SettingRefusal("the IDE has no settings for this user yet (HKEY_CURRENT_USER\\" +
                          result.detail +
                          " does not exist); start the IDE once, then run the installer again");
  case platform::UserListOutcome::InUse:
    // A detail says why it cannot be told whether they run: nothing is changed then either.
    return SettingRefusal(result.detail.empty()
                              ? "Wine programs of this prefix are running and hold its registry; "
                                "close them, then run the installer again"
                              : "Wine programs of this prefix may be running and hold its "
                                "registry (" +
                                    result.detail + "); close them, then run the installer again");
  case platform::UserListOutcome::Failed:
    break;
  }
  return SettingRefusal(result.detail);
}

std::string SettingRefusal::Said(std::string_view notDone) const {
  return std::string(notDone) + ": " + reason_;
}

} // namespace quillet
