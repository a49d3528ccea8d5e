#include "Platform/LocalTime.h"

#include <ctime>

namespace quillet::platform {

// The zone is the one the last tzset found (OutputFile::SetLastWriteTime calls it once per
// conversion): localtime_r itself need not look at TZ again.
std::optional<std::int64_t> LocalOffsetAt(std::int64_t utcSeconds) {
  const auto moment = static_cast<std::time_t>(utcSeconds);
  std::tm fields{};
  if (::localtime_r(&moment, &fields) == nullptr) {
    return std::nullopt;
  }
  return fields.tm_gmtoff;
}

} // namespace quillet::platform
