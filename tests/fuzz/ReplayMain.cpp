// Runs a fuzz target without libFuzzer, so that its seeds and every fixed finding replay as an
// ordinary test: each argument is a file, or a folder whose files are all replayed. A missing
// folder is skipped (a target may have no fixed findings yet). A failure aborts, as under the
// fuzzer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

void Replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  // An exactly sized copy, so that a sanitizer sees any read past the end.
  const std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(input.data(), input.size());
}

} // namespace

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path path = argv[i];
    std::error_code error;
    if (fs::is_directory(path, error)) {
      std::vector<fs::path> files;
      for (const auto& item : fs::directory_iterator(path)) {
        if (item.is_regular_file()) {
          files.push_back(item.path());
        }
      }
      std::sort(files.begin(), files.end());
      for (const fs::path& file : files) {
        Replay(file);
        ++replayed;
      }
    } else if (fs::exists(path, error)) {
      Replay(path);
      ++replayed;
    }
  }
  std::fprintf(stderr, "%zu inputs replayed\n", replayed);
  return replayed != 0 ? 0 : 1; // no seeds at all would make the test pass without running
}
