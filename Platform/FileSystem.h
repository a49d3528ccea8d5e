// File system: folders and output files, for Windows-style paths.
//
// Part of the interface between Quillet and the operating system: declared once here, implemented
// in Platform/Posix/FileSystem.cpp and Platform/Win32/FileSystem.cpp. No OS type appears in it.
//
// Paths: the installer speaks Windows paths ("C:\Lib\a.pas"), because packages and registries hold
// them. Functions that take a "Windows-style path" accept that text as it is; the POSIX layer maps
// it onto the native file system (see NativePath). Functions that take a "native path" use it
// unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillet::platform {

// The native path that a Windows-style path stands for. POSIX: "\" becomes "/", a drive "X:"
// goes to $WINEPREFIX/dosdevices/x:, and a component missing as written is matched in any
// letter case. Windows: unchanged.
std::string NativePath(std::string_view windowsPath);

// True when the path names an existing folder.
bool IsFolder(std::string_view windowsPath);

// Creates one folder; true on success.
bool MakeFolder(std::string_view windowsPath);

// A new file that replaces its target only when it is complete. It is created in the target's
// folder under a temporary name; Commit puts it in place. Destroying an uncommitted file removes
// it. A read-only target is never replaced. On POSIX a replaced file keeps its permissions (and,
// run as root, its owner), and a symbolic link at the target stays: its destination is replaced.
class OutputFile {
public:
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // nullopt when the temporary file cannot be created.
  static std::optional<OutputFile> CreateFor(std::string_view windowsTargetPath);
  // The same for a native path, taken as it is (no drive mapping, no letter-case matching). A
  // symbolic link at the target is not followed: Commit puts the new file in its place.
  static std::optional<OutputFile> CreateForNative(std::string_view nativeTargetPath);

  // Writes every byte; false when a write fails or is short.
  bool Write(const void* data, std::size_t size);
  // Sets the last-write time from a packed MS-DOS date (high word) and time (low word) in local
  // time. Gives 0 on success, otherwise the platform's error code.
  std::uint32_t SetLastWriteTime(std::uint32_t packedDosDateTime);
  // Closes the file. False when the system reports that written data was lost (a full disk
  // noticed late, a network file system); the file can then no longer be committed.
  bool Close();
  // Closes the file if it is still open and puts it in place of the target. False when closing
  // fails or the target cannot be replaced; the temporary file is then removed and the target
  // left as it was.
  bool Commit();

private:
  OutputFile() = default;
  struct State;
  std::unique_ptr<State> state_;
};

} // namespace quillet::platform
