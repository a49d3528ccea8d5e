#include "Platform/Shell.h"

#include "Platform/Win32/Win32.h"
#include <string>

#include <objbase.h>  // after windows.h, which it needs
#include <shellapi.h> // after windows.h, which it needs
#include <shlobj.h>   // after windows.h, which it needs

namespace quillet::platform {

namespace {

// COM in a single-threaded apartment for this thread while it lives: the shell extensions that
// ShellExecute may load rely on it. Each successful initialisation, also the one that finds COM
// already set up (S_FALSE), is balanced by its uninitialisation; a failed one is not.
class ComApartment {
public:
  ComApartment()
      : initialised_(SUCCEEDED(
            ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (initialised_) {
      ::CoUninitialize();
    }
  }

private:
  bool initialised_;
};

// The path to hand the shell: as it is below MAX_PATH. A longer one gets its folder in the short
// (8.3) form when that brings it below MAX_PATH, since the shell's own buffers stop there; the
// file's name stays whole, so that its extension still chooses the program. Otherwise it goes
// in the "\\?\" form.
std::wstring ShellPath(const std::wstring& path) {
  constexpr std::wstring_view LONG_PREFIX = L"\\\\?\\";
  const std::size_t slash = path.rfind(L'\\');
  if (!path.starts_with(LONG_PREFIX) || slash == std::wstring::npos) {
    return path;
  }
  const std::wstring folder = path.substr(0, slash);
  const DWORD needed = ::GetShortPathNameW(folder.c_str(), nullptr, 0);
  std::wstring shortFolder(needed, L'\0');
  const DWORD got =
      needed == 0 ? 0 : ::GetShortPathNameW(folder.c_str(), shortFolder.data(), needed);
  if (got == 0 || got >= needed) {
    return path;
  }
  shortFolder.resize(got);
  const std::wstring plain = shortFolder.substr(LONG_PREFIX.size()) + path.substr(slash);
  return plain.size() < MAX_PATH && !plain.starts_with(L"UNC\\") ? plain : path;
}

} // namespace

void OpenDocument(std::string_view windowsPath) {
  // Through the wide calls, so that a path of any length is found.
  const std::wstring path = win32::SystemPath(windowsPath);
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return; // nothing to show: no file was installed there
  }
  // The document is for the user to read, so its window is shown; the program that shows it runs
  // on its own and is not waited for. Its failure is not reported.
  const ComApartment com;
  ::ShellExecuteW(nullptr, L"open", ShellPath(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::string PublicDocumentsFolder() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, SHGFP_TYPE_CURRENT,
                                folder))) {
    return "C:\\Users\\Public\\Documents";
  }
  std::string path = win32::Narrow(folder, CP_UTF8);
  while (!path.empty() && path.back() == '\\') {
    path.pop_back();
  }
  return path;
}

} // namespace quillet::platform
