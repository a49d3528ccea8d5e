// The registry on POSIX systems: HKEY_LOCAL_MACHINE is the system.reg file of the Wine prefix,
// read as the 32-bit programs in that prefix see it. Nothing is ever written to it.
#include <utility>

#include "Platform/Posix/WinePrefix.h"
#include "Platform/Posix/WineRegistry.h"
#include "Platform/Registry.h"

namespace quillet::platform {

namespace {
constexpr const char* LOCAL_MACHINE_FILE = "/system.reg";
} // namespace

// The file is read once, when the accessor opens its first key. Keys share the parsed store, so a
// key stays usable even when it outlives its accessor.
struct RegistryAccessor::Store {
  std::shared_ptr<const posix::WineRegistry> registry;
};

struct RegistryKey::Handle {
  std::shared_ptr<const posix::WineRegistry> registry;
  posix::WineRegistry::KeyId key = posix::WineRegistry::ROOT_KEY;
};

RegistryAccessor::RegistryAccessor() = default;
RegistryAccessor::~RegistryAccessor() = default;

std::optional<RegistryKey> RegistryAccessor::OpenLocalMachineKey(std::string_view path) {
  if (!store_) {
    auto store = std::make_unique<Store>();
    store->registry = std::make_shared<const posix::WineRegistry>(
        posix::WineRegistry::Load(posix::WinePrefix() + LOCAL_MACHINE_FILE));
    store_ = std::move(store);
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
