// Shell: opening a document with its associated program.
//
// One piece of the interface between Quillet and the operating system: declared once here,
// implemented in Platform/Posix/Shell.cpp and Platform/Win32/Shell.cpp. No OS type appears in it.
#pragma once

#include <string>
#include <string_view>

namespace quillet::platform {

// Opens an existing document with the program associated with its type, without waiting for
// it. Does nothing when no file is at the path. Failures are silent. On POSIX this runs xdg-open,
// detached, and only inside a desktop session (DISPLAY or WAYLAND_DISPLAY set).
void OpenDocument(std::string_view windowsPath);

// The folder of documents that every user shares ("C:\Users\Public\Documents"), as a Windows
// path without a final "\". Windows: the shell's common documents folder. POSIX: the prefix's
// "Common Documents" shell folder from its system.reg, or Wine's default,
// C:\users\Public\Documents.
std::string PublicDocumentsFolder();

} // namespace quillet::platform
