// libFuzzer target: any bytes as a package file. Validation, both lookups and extraction must
// neither crash nor read outside the image, whatever the bytes say.
#include <cstdint>
#include <vector>

#include "Package/EntryContent.h"
#include "Package/PackageFormat.h"
#include "Package/RecordCheck.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exactly sized copy, so that the sanitizer sees any read past the end.
  const std::vector<std::uint8_t> image(data, data + size);
  quillet::PackageLayout layout;
  if (!quillet::ValidatePackage(image.data(), image.size(), layout)) {
    return 0;
  }
  for (std::int32_t index = 0; index < 64; ++index) {
    const quillet::EntryLookup lookup = quillet::FindEntryByIndex(layout, index);
    if (!lookup.found) {
      break;
    }
    // Every entry, whatever its unpacked-size field says: no field reserves more than a cap.
    quillet::ExtractEntry(lookup.entry);
  }
  quillet::CheckPackageRecords(layout);
  quillet::FindEntryByName(layout, "welcome.txt");
  quillet::FindEntryByIndex(layout, -1);
  return 0;
}
