// The registry on POSIX systems: HKEY_LOCAL_MACHINE is the system.reg file of the Wine prefix,
// read as the 32-bit programs in that prefix see it. Nothing is ever written to it.
#include <utility>

#include "Platform/Posix/WinePrefix.h"
#include "Platform/Posix/WineRegistry.h"
#include "Platform/Registry.h"

namespace quillet::platform {

namespace {
constexpr const char* LOCAL_MACHINE_FILE = "/system.reg";
// The innermost RegistryReadAhead alive; the program reads the registry from one thread.
RegistryReadAhead* g_readAhead = nullptr;
} // namespace

// The file is read when the accessor opens its first key, and only as far as that key and the
// keys below it go: IDE discovery opens a base key first and then its subkeys, so one pass over
// the file serves a whole discovery. Under a RegistryReadAhead the accessors share one store, read
// for all of its paths in one pass. A key elsewhere makes the accessor read the file again,
// through the same open file, for that key too; but only while the file is still what was read
// first, so that keys from two versions of it never meet: a file changed since then has nothing
// else to give. Keys share the parsed store, so a key stays usable even when it outlives its
// accessor.
struct RegistryAccessor::Store {
  std::unique_ptr<posix::RegistryFile> file;
  std::vector<std::string> scopes;
  std::shared_ptr<const posix::WineRegistry> registry;

  // Opens the prefix's file and reads it for the first scopes.
  explicit Store(std::vector<std::string> firstScopes)
      : file(std::make_unique<posix::RegistryFile>(posix::WinePrefix() + LOCAL_MACHINE_FILE)),
        scopes(std::move(firstScopes)), registry(Read()) {}

  std::shared_ptr<const posix::WineRegistry> Read() const {
    if (!file->IsOpen()) {
      return std::make_shared<const posix::WineRegistry>();
    }
    auto bytes = file->Bytes();
    return std::make_shared<const posix::WineRegistry>(bytes, scopes);
  }
};

struct RegistryKey::Handle {
  std::shared_ptr<const posix::WineRegistry> registry;
  posix::WineRegistry::KeyId key = posix::WineRegistry::ROOT_KEY;
};

RegistryAccessor::RegistryAccessor() = default;
RegistryAccessor::~RegistryAccessor() = default;

RegistryReadAhead::RegistryReadAhead(std::vector<std::string> paths)
    : paths_(std::move(paths)), outer_(g_readAhead) {
  g_readAhead = this;
}

RegistryReadAhead::~RegistryReadAhead() {
  if (g_readAhead == this) {
    g_readAhead = outer_;
  }
}

std::optional<RegistryKey> RegistryAccessor::OpenLocalMachineKey(std::string_view path) {
  if (!store_ && g_readAhead != nullptr) {
    if (!g_readAhead->store_) {
      g_readAhead->store_ = std::make_shared<Store>(g_readAhead->paths_);
    }
    if (g_readAhead->store_->registry->Covers(path)) {
      store_ = g_readAhead->store_;
    }
  }
  if (!store_) {
    store_ = std::make_shared<Store>(std::vector<std::string>{std::string(path)});
  } else if (!store_->registry->Covers(path)) {
    if (!store_->file->Unchanged() || !store_->Read()->SameContent(*store_->registry)) {
      return std::nullopt;
    }
    store_->scopes.emplace_back(path);
    store_->registry = store_->Read();
  }
  const auto key = store_->registry->FindKey(path, /*view32=*/true);
  if (!key) {
    return std::nullopt;
  }
  return RegistryKey(
      std::make_unique<RegistryKey::Handle>(RegistryKey::Handle{store_->registry, *key}));
}

RegistryKey::RegistryKey(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::~RegistryKey() = default;

std::optional<std::vector<std::string>> RegistryKey::SubkeyNames() const {
  if (!handle_) {
    return std::nullopt;
  }
  return handle_->registry->SubkeyNames(handle_->key);
}

bool RegistryKey::HasValue(std::string_view name) const {
  return handle_ && handle_->registry->HasValue(handle_->key, name);
}

std::optional<std::uint32_t> RegistryKey::QueryValueSize(std::string_view name) const {
  const auto value = handle_ ? handle_->registry->QueryValue(handle_->key, name) : std::nullopt;
  if (!value) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value->data.size());
}

std::optional<RegistryValue> RegistryKey::ReadValue(std::string_view name,
                                                    std::uint32_t capacity) const {
  auto value = handle_ ? handle_->registry->QueryValue(handle_->key, name) : std::nullopt;
  // The store does not change while it is read, but a buffer too small fails as on Windows.
  if (!value || value->data.size() > capacity) {
    return std::nullopt;
  }
  return value;
}

} // namespace quillet::platform
