// The temporary names of Platform/TemporaryName.h, the same on every platform.
#include "Platform/TemporaryName.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <random>

namespace quillet::platform {

namespace {

// splitmix64: every step of the state gives a new, well mixed 64-bit number. The state starts
// from the system's random source and the clock, so two processes do not meet by chance; should
// they, the exclusive create of the file settles it.
std::uint64_t NextRandom() {
  static std::atomic<std::uint64_t> state = [] {
    std::uint64_t seed = static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
    try {
      std::random_device device;
      seed ^= static_cast<std::uint64_t>(device()) << 32 ^ device();
    } catch (const std::exception&) {
      // No random source: the clock alone still makes names unlikely to meet.
    }
    return seed;
  }();
  std::uint64_t z = state.fetch_add(0x9E3779B97F4A7C15ull) + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

} // namespace

std::string TemporaryName(std::uint32_t processId) {
  char middle[TEMPORARY_PROCESS_DIGITS + 1 + TEMPORARY_RANDOM_DIGITS + 1];
  std::snprintf(middle, sizeof middle, "%08lx-%016llx", static_cast<unsigned long>(processId),
                static_cast<unsigned long long>(NextRandom()));
  std::string name(TEMPORARY_PREFIX);
  name += middle;
  name += TEMPORARY_SUFFIX;
  return name;
}

} // namespace quillet::platform
