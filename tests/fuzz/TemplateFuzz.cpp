// libFuzzer target: template expansion. The input is split at the first two NUL bytes into the
// template, the IDE root and the package root.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Installer/Templates.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  auto next = [&rest] {
    const std::size_t nul = rest.find('\0');
    const std::string_view part = rest.substr(0, nul);
    rest = nul == std::string_view::npos ? std::string_view{} : rest.substr(nul + 1);
    return std::string(part);
  };
  const std::string templateText = next();
  quillet::InstallContext context;
  context.IdeRoot = next();
  context.PackageRoot = next();
  const std::string expanded = quillet::ExpandTemplate(templateText, context);
  if (templateText.find('%') == std::string::npos && expanded != templateText) {
    std::abort(); // a template without macros is its own expansion
  }
  quillet::ExpandTemplate(context.PackageRoot, context);
  return 0;
}
