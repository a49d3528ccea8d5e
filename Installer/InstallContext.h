// The run values that macro expansion and entry installation read. One instance lives for the
// whole run; the folders and texts start empty and are never reset between turns.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "Package/EntryContent.h"
#include "Platform/ChildProcess.h"
#include "Platform/Text.h"

namespace quillet {

class TurnRecorder;

struct InstallContext {
  std::string IdeRoot;     // root folder of the IDE installation whose turn it is
  std::string PackageRoot; // target folder of the package for the current turn
  std::string IdeShared;   // shared documents folder of that installation; empty without an IDE
  std::string PatchText;   // content of the package's "patchinfo.txt"; empty when there is none
  std::string ReadmePath;  // target path of the last installable "readme.html" reached
  // How taking "patchinfo.txt" went: entries that ask for the patch text fail with it rather than
  // be installed without it.
  EntryStatus PatchStatus = EntryStatus::Content;
  // The code page of the package's names, folders and texts: the one it records, else the
  // system's ANSI code page. The root folders above are in the program's own texts, UTF-8.
  std::uint32_t CodePage = platform::SystemCodePage();
  // The record of the current turn (Installer/TurnRecord.h); none for a package without a name.
  TurnRecorder* Recorder = nullptr;
  // How long one compile of a package build may run (--build-timeout).
  std::chrono::seconds BuildTimeLimit = platform::DEFAULT_TIME_LIMIT;
};

// A name, folder template or text of the package in the program's own texts, where it meets the
// root folders, the console and the system.
inline std::string TextOfPackage(const InstallContext& context, std::string_view bytes) {
  return platform::CodePageToText(context.CodePage, bytes);
}

} // namespace quillet
