// The one interface between Quillet and the operating system.
//
// Everything that touches the OS (console handles, file mapping, the file system, the registry,
// the shell, locale-aware comparison) is declared here and implemented once per platform, in
// Platform/Posix/ and Platform/Win32/. No OS type appears in this header, so the rest of the
// program is written once for both.
//
// Paths: the installer speaks Windows paths ("C:\Lib\a.pas"), because packages and registries hold
// them. Functions that take a "Windows-style path" accept that text as it is; the POSIX layer maps
// it onto the native file system (see NativePath). Functions that take a "native path" use it
// unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform {

// ---------------------------------------------------------------------------------------------
// Process

// Sets up the process once at start: the user's locale for text comparison, console mode.
void InitialiseProcess();

// The command-line arguments after the program name. POSIX hands them over already split;
// Windows splits GetCommandLineA's text with the installer's own splitting rules.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Full native path of the running program file, with no length limit; empty when unknown.
std::string OwnProgramPath();

// Value of an environment variable; nullopt when unset.
std::optional<std::string> EnvironmentVariable(const char* name);

// An address inside the function that calls this one. Used as a default argument of exception
// constructors, so that it names the code that raised the exception.
const void* CallerAddress();

// Offset of a code address from the load address of the module that holds it; 0 when unknown.
std::uint32_t ModuleOffsetOf(const void* address);

// ---------------------------------------------------------------------------------------------
// Console channels: standard input and standard output as byte streams.

enum class ChannelKind {
  Console, // a character device: output is written out at the end of every write operation
  Stream,  // a disk file or a pipe: output is written in blocks
};

enum class ReadOutcome {
  Data,       // one or more bytes were delivered
  End,        // the input has no more bytes
  BrokenPipe, // the writer went away: also the end of input
  Failed,     // any other failure; a later read may succeed
};

class ConsoleChannel {
public:
  virtual ~ConsoleChannel() = default;
  virtual ChannelKind Kind() const = 0;
  // Reads up to `capacity` bytes; `got` receives the count when the outcome is Data.
  virtual ReadOutcome Read(char* buffer, std::size_t capacity, std::size_t& got) = 0;
  // Writes all `size` bytes, or fewer when the handle fails; gives the number written.
  virtual std::size_t Write(const char* data, std::size_t size) = 0;
};

// The process's standard input or output; nullptr when the handle cannot be used.
std::unique_ptr<ConsoleChannel> OpenStandardInput();
std::unique_ptr<ConsoleChannel> OpenStandardOutput();

// Whether a lone LF ends an input line. POSIX terminals and text end lines with LF; the Windows
// console ends them with CR LF and a lone LF is an ordinary character there.
bool LoneLineFeedEndsLine();

// ---------------------------------------------------------------------------------------------
// Text

// Case-insensitive equality under the user's locale (the system's ANSI code page).
bool EqualIgnoringCaseInLocale(std::string_view a, std::string_view b);

// Lead bytes of the active double-byte code page; nullptr when double-byte support is off.
using LeadByteTable = std::array<bool, 256>;
const LeadByteTable* ActiveLeadBytes();

// ---------------------------------------------------------------------------------------------
// Read-only file mapping (native paths)

class MappedFile {
public:
  enum class Status { Ok, CannotOpen, Empty, TooLarge, CannotMap };

  MappedFile() = default;
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  // Opens the file for reading (others may read and write it meanwhile) and maps all of it.
  // Files larger than `maxSize` bytes are refused with TooLarge before anything is mapped.
  Status Open(const std::string& nativePath, std::uint64_t maxSize);
  // Unmaps and closes; gives true when something was open.
  bool Close();

  bool IsOpen() const { return data_ != nullptr; }
  const std::uint8_t* Data() const { return data_; }
  std::uint64_t Size() const { return size_; }

private:
  const std::uint8_t* data_ = nullptr;
  std::uint64_t size_ = 0;
  // No file: -1 is both an invalid descriptor and INVALID_HANDLE_VALUE.
  static constexpr std::intptr_t NO_FILE = -1;
  std::intptr_t file_ = NO_FILE; // OS file handle or descriptor
  std::intptr_t mapping_ = 0;    // OS mapping handle, where the OS has one
};

// Whole-file helpers for native paths, used by tools and tests.
std::optional<std::string> ReadWholeFile(const std::string& nativePath);

// ---------------------------------------------------------------------------------------------
// File system (Windows-style paths)

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

// ---------------------------------------------------------------------------------------------
// Registry (HKEY_LOCAL_MACHINE, read only, the view a 32-bit program sees)

inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;
inline constexpr std::uint32_t REG_MULTI_SZ = 7;

struct RegistryValue {
  std::uint32_t type = REG_NONE;
  std::string data; // the raw bytes, terminators included as stored
};

class RegistryKey;

// The registry as one session of reads sees it. On POSIX the store is the Wine prefix's
// system.reg, read once when the first key is opened.
class RegistryAccessor {
public:
  RegistryAccessor();
  ~RegistryAccessor();
  RegistryAccessor(const RegistryAccessor&) = delete;
  RegistryAccessor& operator=(const RegistryAccessor&) = delete;

  // Opens an existing key below HKEY_LOCAL_MACHINE for reading; nullopt when it cannot be opened.
  // The path has no leading "\"; a trailing "\" is allowed.
  std::optional<RegistryKey> OpenLocalMachineKey(std::string_view path);

  struct Store;

private:
  std::unique_ptr<Store> store_;
};

class RegistryKey {
public:
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey();

  // Names of the direct subkeys in the registry's enumeration order; nullopt when the query fails.
  std::optional<std::vector<std::string>> SubkeyNames() const;
  // The value's type and bytes; nullopt when it does not exist or cannot be read.
  std::optional<RegistryValue> QueryValue(std::string_view name) const;

  // The single steps of a read, for callers that must tell them apart:
  // whether the value exists, asked without reading its data;
  bool HasValue(std::string_view name) const;
  // its size in bytes (terminators included, as stored), asked without reading its data;
  // nullopt when the query fails;
  std::optional<std::uint32_t> QueryValueSize(std::string_view name) const;
  // its type and bytes, read into a buffer of `capacity` bytes; nullopt when the read fails,
  // which includes a value that vanished or outgrew `capacity` since its size was asked for.
  std::optional<RegistryValue> ReadValue(std::string_view name, std::uint32_t capacity) const;

  struct Handle;
  explicit RegistryKey(std::unique_ptr<Handle> handle);

private:
  std::unique_ptr<Handle> handle_;
};

// ---------------------------------------------------------------------------------------------
// Shell

// Opens an existing document with the program associated with its type, without waiting for
// it. Does nothing when no file is at the path. Failures are silent. On POSIX this runs xdg-open,
// detached, and only inside a desktop session (DISPLAY or WAYLAND_DISPLAY set).
void OpenDocument(std::string_view windowsPath);

} // namespace quillet::platform
