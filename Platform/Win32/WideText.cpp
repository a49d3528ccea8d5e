// Conversions between the code pages and UTF-16, and the path forms the wide calls take.
#include <climits>
#include <memory>

#include "Platform/Text.h"
#include "Platform/Win32/Win32.h"

namespace quillet::platform::win32 {

namespace {
constexpr wchar_t LONG_PATH_PREFIX[] = L"\\\\?\\";
constexpr wchar_t LONG_UNC_PREFIX[] = L"\\\\?\\UNC\\";
} // namespace

bool Widen(std::string_view text, UINT codePage, std::wstring& wide, bool strict) {
  wide.clear();
  if (text.empty()) {
    return true;
  }
  if (text.size() > INT_MAX) {
    return false;
  }
  const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
  const int length = static_cast<int>(text.size());
  const int needed = ::MultiByteToWideChar(codePage, flags, text.data(), length, nullptr, 0);
  if (needed <= 0) {
    return false;
  }
  wide.resize(static_cast<std::size_t>(needed));
  return ::MultiByteToWideChar(codePage, flags, text.data(), length, wide.data(), needed) == needed;
}

std::string Narrow(std::wstring_view wide, UINT codePage) {
  if (wide.empty() || wide.size() > INT_MAX) {
    return {};
  }
  const int length = static_cast<int>(wide.size());
  const int needed =
      ::WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return {};
  }
  std::string text(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(codePage, 0, wide.data(), length, text.data(), needed, nullptr, nullptr);
  return text;
}

std::wstring WideOfText(std::string_view text) {
  std::wstring wide;
  Widen(text, CP_UTF8, wide);
  return wide;
}

std::string TextOfWide(std::wstring_view wide) {
  return Narrow(wide, CP_UTF8);
}

std::wstring SystemPathW(std::wstring path, std::size_t limit) {
  if (path.size() < limit || path.rfind(LONG_PATH_PREFIX, 0) == 0) {
    return path;
  }
  // The long form is taken literally: "." and ".." and "/" must be resolved beforehand, which
  // GetFullPathNameW does (it has no length limit of its own).
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    return path;
  }
  std::wstring full(needed, L'\0');
  const DWORD got = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (got == 0 || got >= needed) {
    return path;
  }
  full.resize(got);
  if (full.rfind(L"\\\\", 0) == 0) {
    return LONG_UNC_PREFIX + full.substr(2); // \\server\share\...
  }
  return LONG_PATH_PREFIX + full;
}

std::wstring SystemPath(std::string_view path, std::size_t limit) {
  std::wstring wide;
  Widen(path.substr(0, path.find('\0')), CP_UTF8, wide);
  return SystemPathW(std::move(wide), limit);
}

std::optional<std::wstring> SystemPathOfUtf8(std::string_view utf8Path) {
  std::wstring wide;
  if (utf8Path.find('\0') != std::string_view::npos || !Widen(utf8Path, CP_UTF8, wide, true)) {
    return std::nullopt;
  }
  return SystemPathW(std::move(wide));
}

std::string ErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const std::unique_ptr<wchar_t, decltype(&::LocalFree)> owned(text, &::LocalFree);
  std::wstring message(text != nullptr ? text : L"", text != nullptr ? length : 0);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  return "error " + std::to_string(error) + (message.empty() ? "" : ": ") + TextOfWide(message);
}

} // namespace quillet::platform::win32
