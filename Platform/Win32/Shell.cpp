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

} // namespace

void OpenDocument(std::string_view windowsPath) {
  const std::string path(windowsPath);
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return; // nothing to show: no file was installed there
  }
  // The document is for the user to read, so its window is shown; the program that shows it runs
  // on its own and is not waited for. Its failure is not reported.
  const ComApartment com;
  ::ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::string PublicDocumentsFolder() {
  char folder[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, SHGFP_TYPE_CURRENT,
                                folder))) {
    return "C:\\Users\\Public\\Documents";
  }
  std::string path(folder);
  while (!path.empty() && path.back() == '\\') {
    path.pop_back();
  }
  return path;
}

} // namespace quillet::platform
