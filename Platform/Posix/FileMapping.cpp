#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "Platform/FileMapping.h"

namespace quillet::platform {

namespace {

// A mapped file that shrinks while it is mapped (another program truncates it) makes every read
// past its new end raise SIGBUS. For the views opened here, the handler puts a page of zeros over
// the faulting page instead, so the reader sees bytes that fail their checksum, not a killed
// process.
constexpr int MAX_GUARDED_VIEWS = 16;

struct GuardedView {
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};
};

GuardedView g_views[MAX_GUARDED_VIEWS];
std::uintptr_t g_pageSize = 4096;
struct sigaction g_previousBusHandler {};

void OnBusError(int signal, siginfo_t* info, void* /*context*/) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  if (info->si_code > 0) { // raised by a fault, not sent by another process
    for (const GuardedView& view : g_views) {
      const std::uintptr_t begin = view.begin.load();
      if (begin != 0 && address >= begin && address < view.end.load()) {
        void* page = reinterpret_cast<void*>(address & ~(g_pageSize - 1));
        if (::mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
            MAP_FAILED) {
          return; // the read is repeated and now finds zeros
        }
      }
    }
  }
  // Not one of ours: the disposition from before, which a repeated fault or this raise meets.
  ::sigaction(SIGBUS, &g_previousBusHandler, nullptr);
  if (info->si_code <= 0) {
    ::raise(signal);
  }
}

void GuardView(const void* data, std::uint64_t size) {
  static std::once_flag installed;
  std::call_once(installed, [] {
    g_pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previousBusHandler);
  });
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  for (GuardedView& view : g_views) {
    std::uintptr_t free = 0;
    if (view.begin.compare_exchange_strong(free, begin)) {
      view.end.store(begin + size);
      return;
    }
  }
}

void UnguardView(const void* data) {
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  for (GuardedView& view : g_views) {
    if (view.begin.load() == begin) {
      view.end.store(0);
      view.begin.store(0);
      return;
    }
  }
}

} // namespace

MappedFile::Status MappedFile::Open(const std::string& nativePath, std::uint64_t maxSize) {
  Close();
  // O_NONBLOCK: opening a FIFO must not wait for a writer; regular files ignore the flag.
  const int fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return Status::CannotOpen;
  }
  file_ = fd;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    Close();
    return Status::CannotOpen;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size == 0) {
    Close();
    return Status::Empty;
  }
  if (size > maxSize) {
    Close();
    return Status::TooLarge;
  }
  void* view = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (view == MAP_FAILED) {
    Close();
    return Status::CannotMap;
  }
  data_ = static_cast<const std::uint8_t*>(view);
  size_ = size;
  GuardView(data_, size_);
  return Status::Ok;
}

bool MappedFile::Close() {
  const bool wasOpen = file_ >= 0;
  if (data_ != nullptr) {
    UnguardView(data_);
    ::munmap(const_cast<std::uint8_t*>(data_), size_);
  }
  if (file_ >= 0) {
    ::close(static_cast<int>(file_));
  }
  data_ = nullptr;
  size_ = 0;
  file_ = NO_FILE;
  mapping_ = 0;
  return wasOpen;
}

std::optional<std::string> ReadWholeFile(const std::string& nativePath) {
  const int fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt; // a FIFO or a device could block or never end
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) {
      break;
    }
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
}

} // namespace quillet::platform
