// Test support that holds on every platform: temporary folders, files, the built programs.
#include "tests/support/TestSupport.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace quillet::test {

TempDir::TempDir() {
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("quillet-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make everything removable again, then remove it.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) {
    throw std::runtime_error("cannot write " + path.string());
  }
}

std::filesystem::path Utf8Path(const std::string& utf8) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

bool SymlinksWork(const std::filesystem::path& folder) {
  const std::filesystem::path probe = folder / ".symlink-probe";
  std::error_code error;
  std::filesystem::create_symlink("target", probe, error);
  const bool works = !error && std::filesystem::is_symlink(probe, error);
  std::filesystem::remove(probe, error);
  return works;
}

bool NamesIgnoreCase(const std::filesystem::path& folder) {
  const std::filesystem::path probe = folder / ".case-probe";
  WriteFile(probe, "");
  std::error_code error;
  const bool ignored = std::filesystem::exists(folder / ".CASE-PROBE", error);
  std::filesystem::remove(probe, error);
  return ignored;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path.string());
  }
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

std::string SfxPath() {
  return QUILLET_SFX_PATH;
}
std::string PackPath() {
  return QUILLET_PACK_PATH;
}

} // namespace quillet::test
