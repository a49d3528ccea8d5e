#if defined(_MSC_VER)
#include <intrin.h> // _ReturnAddress
#endif

#include "Platform/CommandLine.h"
#include "Platform/Process.h"
#include "Platform/Win32/Win32.h"

#include <shellapi.h>

#include <memory>

namespace quillet::platform {

namespace {
// GetModuleFileNameW has no way to ask for the length: the buffer grows up to this bound.
constexpr std::size_t MAX_MODULE_PATH = 1 << 20;
constexpr std::size_t FIRST_MODULE_PATH_BUFFER = MAX_PATH + 1;
} // namespace

void InitialiseProcess() {
  // A console program: failures are reported on standard output, never in a message box.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

bool SlashQuestionAsksForHelp() {
  return true; // The Windows convention for a program's help.
}

std::vector<std::string> ProgramArguments(int /*argc*/, char** /*argv*/) {
  // The runtime's own splitting of argv follows other rules (backslashes before quotes, doubled
  // quotes): the installer splits the whole command line itself.
  // The wide command line keeps every name whole; the arguments stay in UTF-8, where blanks and
  // quotes are the bytes the splitting rule looks for and never part of another character.
  std::vector<std::string> tokens = SplitCommandLine(win32::Narrow(::GetCommandLineW(), CP_UTF8));
  if (!tokens.empty()) {
    tokens.erase(tokens.begin()); // the program's name
  }
  return tokens;
}

std::vector<std::string> RuntimeArguments(int /*argc*/, char** /*argv*/) {
  // The runtime's splitting rules, on the wide command line instead of its ANSI form.
  struct LocalMemory {
    void operator()(LPWSTR* list) const { ::LocalFree(list); }
  };
  int count = 0;
  const std::unique_ptr<LPWSTR, LocalMemory> list(
      ::CommandLineToArgvW(::GetCommandLineW(), &count));
  std::vector<std::string> arguments;
  for (int i = 1; list && i < count; ++i) {
    arguments.push_back(win32::Narrow(list.get()[i], CP_UTF8));
  }
  return arguments;
}

std::string OwnProgramPath() {
  // A truncated answer fills the buffer exactly: grow it until the path fits.
  // In UTF-8, as the arguments: the program's folder may hold any character.
  std::wstring buffer(FIRST_MODULE_PATH_BUFFER, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      return {};
    }
    if (n < buffer.size()) {
      buffer.resize(n);
      return win32::Narrow(buffer, CP_UTF8);
    }
    if (buffer.size() >= MAX_MODULE_PATH) {
      return {};
    }
    buffer.resize(buffer.size() * 2);
  }
}

#if defined(_MSC_VER)
__declspec(noinline) const void* CallerAddress() {
  return _ReturnAddress();
}
#else
__attribute__((noinline)) const void* CallerAddress() {
  return __builtin_extract_return_addr(__builtin_return_address(0));
}
#endif

std::uint32_t ModuleOffsetOf(const void* address) {
  HMODULE module = nullptr;
  // The module is only looked at, so its reference count is left alone.
  const DWORD flags =
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
  if (address == nullptr ||
      ::GetModuleHandleExA(flags, static_cast<LPCSTR>(address), &module) == 0 ||
      module == nullptr) {
    return 0;
  }
  const auto offset =
      reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(module);
  return static_cast<std::uint32_t>(offset);
}

} // namespace quillet::platform
