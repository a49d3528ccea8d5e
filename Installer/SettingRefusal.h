// Why a change of an IDE's settings for the user did not happen: the reason a line gives after
// "not added: ", "not removed: " and the like, kept apart from those words so that any line can
// say it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Platform/UserRegistry.h"

namespace quillet {

class SettingRefusal {
public:
  // The refusal a change's result carries; none when the change happened or was not needed.
  static std::optional<SettingRefusal> Of(const platform::UserListResult& result);

  // The reason alone, as the user reads it.
  const std::string& Reason() const { return reason_; }
  // The end of a line: `notDone`, a colon and the reason ("not added: ...").
  std::string Said(std::string_view notDone) const;

private:
  explicit SettingRefusal(std::string reason) : reason_(std::move(reason)) {}
  std::string reason_;
};

} // namespace quillet
