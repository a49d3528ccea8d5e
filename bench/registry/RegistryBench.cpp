// Times IDE discovery on a Wine prefix: the two DiscoverIdes calls of a run (each reads
// system.reg anew for its own base key), and the parse of the whole file alone.
//
//   quillet-registry-bench [PREFIX] [ROUNDS]
//
// Without PREFIX it writes a generated system.reg of about 40,000 lines, shaped like the one of a
// fresh 64-bit prefix, with a few Delphi and C++Builder versions registered, into a temporary
// prefix and measures that.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Installer/IdeDiscovery.h"
#include "Platform/FileMapping.h"
#include "Platform/Posix/WineRegistry.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int DEFAULT_ROUNDS = 50;
constexpr std::size_t GENERATED_LINES = 40000;

std::string Guid(unsigned n) {
  char text[48];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}", n * 2654435761u, n & 0xFFFF,
                (n >> 3) & 0xFFFF, (n * 7) & 0xFFFF, static_cast<unsigned long long>(n) * 977);
  return text;
}

void Section(std::ostringstream& out, const std::string& path, unsigned n) {
  out << "\n[" << path << "] " << 1796737465 + n << "\n#time=1dd871a3d07" << std::hex << n
      << std::dec << "\n";
}

void HexValue(std::ostringstream& out, const std::string& name, unsigned bytes, unsigned seed) {
  std::string line = "\"" + name + "\"=hex:";
  for (unsigned i = 0; i < bytes; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", (seed + i * 31) & 0xFF);
    line += byte;
    if (i + 1 < bytes) {
      line += ',';
      if (line.size() > 76) {
        out << line << "\\\n";
        line = "  ";
      }
    }
  }
  out << line << "\n";
}

// A system.reg in Wine's layout: COM classes, interfaces, services, a Wow6432Node branch with the
// IDE registrations, hex data spread over continuation lines.
std::string GenerateSystemReg(std::size_t targetLines) {
  std::ostringstream out;
  out << "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";
  Section(out, "Software\\\\Borland\\\\Database Engine\\\\Settings\\\\SYSTEM\\\\INIT", 0);
  out << "\"SHAREDMEMLOCATION\"=\"9000\"\n";
  unsigned n = 1;
  std::size_t written = 8;
  while (written < targetLines) {
    const std::string guid = Guid(n);
    switch (n % 5) {
    case 0:
      Section(out, "Software\\\\Classes\\\\CLSID\\\\" + guid, n);
      out << "@=\"Component " << n << "\"\n";
      written += 4;
      Section(out, "Software\\\\Classes\\\\CLSID\\\\" + guid + "\\\\InprocServer32", n);
      out << "@=\"C:\\\\windows\\\\system32\\\\comp" << n
          << ".dll\"\n\"ThreadingModel\"=\"Both\"\n";
      written += 5;
      break;
    case 1:
      Section(out, "Software\\\\Classes\\\\Interface\\\\" + guid, n);
      out << "@=\"IUnknown" << n << "\"\n";
      Section(out, "Software\\\\Classes\\\\Interface\\\\" + guid + "\\\\ProxyStubClsid32", n);
      out << "@=\"" << Guid(n + 1) << "\"\n";
      written += 8;
      break;
    case 2:
      Section(out, "System\\\\CurrentControlSet\\\\Services\\\\svc" + std::to_string(n), n);
      out << "\"DisplayName\"=\"Service " << n << "\"\n\"ErrorControl\"=dword:00000001\n"
          << "\"ImagePath\"=str(2):\"%SystemRoot%\\\\system32\\\\svc" << n << ".exe\"\n"
          << "\"Start\"=dword:00000003\n\"Type\"=dword:00000010\n";
      written += 8;
      break;
    case 3:
      Section(out,
              "Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\Fonts\\\\F" +
                  std::to_string(n),
              n);
      HexValue(out, "Data", 96, n);
      out << "\"Names\"=str(7):\"Arial\\0Arial Bold\\0\"\n";
      written += 7;
      break;
    default:
      Section(out, "Software\\\\Wow6432Node\\\\Classes\\\\CLSID\\\\" + guid, n);
      out << "@=\"Wow64 component " << n << "\"\n";
      written += 4;
      break;
    }
    ++n;
  }
  const char* const versions[][2] = {
      {"Delphi\\\\5.0", "C:\\\\Program Files\\\\Borland\\\\Delphi5"},
      {"Delphi\\\\7.0", "C:\\\\Program Files\\\\Borland\\\\Delphi7"},
      {"C++Builder\\\\6.0", "C:\\\\Program Files\\\\Borland\\\\CBuilder6"}};
  for (const auto& version : versions) {
    Section(out, std::string("Software\\\\Wow6432Node\\\\Borland\\\\") + version[0], n++);
    out << "\"RootDir\"=\"" << version[1] << "\\\\\"\n\"Version\"=\"1.0\"\n";
  }
  return out.str();
}

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void Report(const char* what, std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  std::printf("%-34s min %7.2f ms   median %7.2f ms   max %7.2f ms   (%zu rounds)\n", what,
              samples.front(), samples[samples.size() / 2], samples.back(), samples.size());
}

} // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  fs::path prefix;
  fs::path generated;
  if (argc > 1) {
    prefix = argv[1];
  } else {
    generated = fs::temp_directory_path() /
                ("quillet-registry-bench-" + std::to_string(std::random_device()()));
    fs::create_directories(generated);
    std::ofstream(generated / "system.reg", std::ios::binary) << GenerateSystemReg(GENERATED_LINES);
    prefix = generated;
  }
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : DEFAULT_ROUNDS;
  ::setenv("WINEPREFIX", prefix.c_str(), 1);

  const std::string file = (prefix / "system.reg").string();
  const auto text = quillet::platform::ReadWholeFile(file);
  if (!text) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return 1;
  }
  std::printf("%s: %zu bytes, %zu lines\n", file.c_str(), text->size(),
              static_cast<std::size_t>(std::count(text->begin(), text->end(), '\n')));

  std::vector<double> read;
  std::vector<double> parse;
  std::vector<double> discovery;
  std::size_t keys = 0;
  std::vector<quillet::IdeInstallation> roots;
  for (int i = 0; i < rounds; ++i) {
    const auto readStart = Clock::now();
    const auto again = quillet::platform::ReadWholeFile(file);
    read.push_back(Milliseconds(Clock::now() - readStart));

    std::string copy = *text;
    const auto start = Clock::now();
    const quillet::platform::posix::WineRegistry registry(std::move(copy));
    parse.push_back(Milliseconds(Clock::now() - start));
    keys = registry.KeyCount();

    roots.clear();
    const auto discoveryStart = Clock::now();
    quillet::DiscoverIdes(roots, quillet::DELPHI_BASE_PATH);
    quillet::DiscoverIdes(roots, quillet::CBUILDER_BASE_PATH);
    discovery.push_back(Milliseconds(Clock::now() - discoveryStart));
  }
  std::printf("%zu keys; roots found:", keys);
  for (const auto& root : roots) {
    std::printf(" [%s]", root.Root().c_str());
  }
  std::printf("\n");
  Report("read file only", read);
  Report("parse only (text in memory)", parse);
  Report("DiscoverIdes x2 (2 scoped reads)", discovery);

  if (!generated.empty()) {
    fs::remove_all(generated);
  }
  return 0;
}
