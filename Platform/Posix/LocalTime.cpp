#include "Platform/LocalTime.h"

#include <ctime>

namespace quillet::platform {

std::optional<std::int64_t> LocalOffsetAt(std::int64_t utcSeconds) {
  const auto moment = static_cast<std::time_t>(utcSeconds);
  std::tm fields{};
  ::tzset(); // localtime_r need not read TZ again, and the tests change it
  if (::localtime_r(&moment, &fields) == nullptr) {
    return std::nullopt;
  }
  return fields.tm_gmtoff;
}

} // namespace quillet::platform
