#include "Platform/Platform.h"
#include "Platform/Win32/Win32.h"

#include <shellapi.h> // after windows.h, which it needs

namespace quillet::platform {

void OpenDocument(std::string_view windowsPath) {
  const std::string path(windowsPath);
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return; // nothing to show: no file was installed there
  }
  // The document is for the user to read, so its window is shown; the program that shows it runs
  // on its own and is not waited for. Its failure is not reported.
  ::ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace quillet::platform
