#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>

#include "Platform/Posix/StandardStreams.h"
#include "Platform/Process.h"

namespace quillet::platform {

namespace posix {

void ReserveClosedStandardDescriptors() {
  for (int fd = 0; fd < 3; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
      continue;
    }
    const int placeholder = ::open("/dev/null", O_RDWR);
    if (placeholder >= 0 && placeholder != fd) {
      ::dup2(placeholder, fd);
      ::close(placeholder);
    }
  }
}

} // namespace posix

void InitialiseProcess() {
  posix::ReserveClosedStandardDescriptors();
  // The locale's encoding is the system's side of file names and the terminal.
  std::setlocale(LC_ALL, "");
  // A reader that went away makes writes fail, as on Windows, instead of ending the process.
  std::signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> RuntimeArguments(int argc, char** argv) {
  return ProgramArguments(argc, argv);
}

bool SlashQuestionAsksForHelp() {
  return false; // "/?" is a path there.
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.emplace_back(argv[i]);
  }
  return arguments;
}

std::string OwnProgramPath() {
  // readlink does not say whether it truncated: grow the buffer until the answer fits.
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) {
      return {};
    }
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

__attribute__((noinline)) const void* CallerAddress() {
  return __builtin_extract_return_addr(__builtin_return_address(0));
}

std::uint32_t ModuleOffsetOf(const void* address) {
  Dl_info info{};
  if (address == nullptr || ::dladdr(address, &info) == 0 || info.dli_fbase == nullptr) {
    return 0;
  }
  const auto offset =
      reinterpret_cast<std::uintptr_t>(address) - reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  return static_cast<std::uint32_t>(offset);
}

} // namespace quillet::platform
