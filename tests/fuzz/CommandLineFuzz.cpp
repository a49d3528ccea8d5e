// libFuzzer target: any bytes as the command line that the installer splits into arguments.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Platform/CommandLine.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const auto tokens = quillet::platform::SplitCommandLine(line);
  // Splitting never invents bytes: the tokens together are no longer than the line.
  std::size_t total = 0;
  for (const auto& token : tokens) {
    if (token.empty() && &token != &tokens.front()) {
      std::abort(); // the list ends at the first empty token
    }
    total += token.size();
  }
  if (total > size) {
    std::abort();
  }
  return 0;
}
