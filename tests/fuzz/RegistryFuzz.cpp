// libFuzzer target: any bytes as a Wine system.reg. Parsing and every query must neither crash
// nor read out of bounds.
#include <cstdint>
#include <string>

#include "Platform/Posix/WineRegistry.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using quillet::platform::posix::WineRegistry;
  const WineRegistry registry(std::string(reinterpret_cast<const char*>(data), size));
  for (const char* path :
       {"Software\\Borland\\Delphi\\", "Software\\Borland\\C++Builder", "Software", ""}) {
    for (bool view32 : {false, true}) {
      const auto key = registry.FindKey(path, view32);
      if (!key) {
        continue;
      }
      for (WineRegistry::KeyId child : registry.Subkeys(*key)) {
        for (const std::string& name : registry.ValueNames(child)) {
          registry.QueryValue(child, name);
        }
        registry.QueryValue(child, "RootDir");
      }
      registry.SubkeyNames(*key);
    }
  }
  // Every key once, whatever the paths above found.
  for (WineRegistry::KeyId key = 0; key < registry.KeyCount() && key < 4096; ++key) {
    for (const std::string& name : registry.ValueNames(key)) {
      registry.QueryValue(key, name);
    }
  }
  return 0;
}
