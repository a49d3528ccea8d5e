#include "Package/DosDateTime.h"

namespace quillet {

DosDateTimeFields DosFieldsOf(std::uint32_t packed) {
  const std::uint32_t date = packed >> 16;
  const std::uint32_t time = packed & 0xFFFF;
  return {DOS_BASE_YEAR + static_cast<int>(date >> 9),
          (date >> 5) & 0x0F,
          date & 0x1F,
          time >> 11,
          (time >> 5) & 0x3F,
          (time & 0x1F) * 2};
}

std::optional<std::uint32_t> PackDosFields(const DosDateTimeFields& fields) {
  if (fields.year < DOS_BASE_YEAR || fields.year > DOS_BASE_YEAR + 127 || fields.month > 15 ||
      fields.day > 31 || fields.hour > 31 || fields.minute > 63 || fields.second > 62 ||
      fields.second % 2 != 0) {
    return std::nullopt;
  }
  const std::uint32_t date =
      static_cast<std::uint32_t>(fields.year - DOS_BASE_YEAR) << 9 | fields.month << 5 | fields.day;
  const std::uint32_t time = fields.hour << 11 | fields.minute << 5 | fields.second / 2;
  return date << 16 | time;
}

} // namespace quillet
