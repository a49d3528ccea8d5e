// quillet-bench: the helper program of bench/run.sh.
//
//   quillet-bench corpus DIR MEGABYTES   writes a generated corpus of source-like files
//   quillet-bench extract PACKAGE        extracts every entry in memory, as the installer does
//   quillet-bench streams PACKAGE DIR    writes every entry's stored bzip2 stream to DIR
//
// The corpus is the same for the same size on every run, so measurements can be repeated.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "Package/EntryContent.h"
#include "Package/PackageFormat.h"
#include "Platform/FileMapping.h"

namespace {

using quillet::PackageEntry;

const char* const WORDS[] = {
    "begin",      "end;",   "if",       "then",      "else",     "procedure", "function",
    "var",        "const",  "type",     "class",     "property", "read",      "write",
    "inherited",  "Result", ":=",       "Integer",   "string",   "Boolean",   "TObject",
    "Self",       "nil",    "for",      "to",        "do",       "while",     "try",
    "finally",    "except", "raise",    "Exception", "Create",   "Free",      "Canvas",
    "Width",      "Height", "Left",     "Top",       "Caption",  "Color",     "Font",
    "Invalidate", "Paint",  "override", "virtual",   "private",  "public",    "published",
    "(",          ")",      "[",        "]",         "+",        "-",         "=",
    "<>",         "and",    "or",       "not",       "div",      "mod",       "//",
};

std::string Identifier(std::mt19937& random) {
  static const char* const parts[] = {"Widget", "Grid",   "Cell",  "Row",    "Column", "Item",
                                      "Index",  "Count",  "Value", "Text",   "Rect",   "Style",
                                      "Draw",   "Update", "Owner", "Parent", "Scroll", "Edit"};
  std::string name = random() % 3 == 0 ? "F" : (random() % 2 == 0 ? "T" : "");
  const int count = 1 + static_cast<int>(random() % 3);
  for (int i = 0; i < count; ++i) {
    name += parts[random() % std::size(parts)];
  }
  return name;
}

// Text that compresses about as well as real Pascal sources do.
std::string SourceFile(std::mt19937& random, std::size_t length) {
  std::string text = "unit " + Identifier(random) + ";\r\n\r\ninterface\r\n\r\n";
  int indent = 2;
  while (text.size() < length) {
    text.append(static_cast<std::size_t>(indent), ' ');
    const int tokens = 3 + static_cast<int>(random() % 9);
    for (int t = 0; t < tokens; ++t) {
      switch (random() % 6) {
      case 0:
      case 1:
        text += Identifier(random);
        break;
      case 2:
        text += std::to_string(random() % 1000);
        break;
      default:
        text += WORDS[random() % std::size(WORDS)];
      }
      text += ' ';
    }
    text += random() % 4 == 0 ? ";\r\n" : "\r\n";
    indent = 2 + 2 * static_cast<int>(random() % 4);
  }
  text.resize(length);
  return text;
}

// Form and resource files: short runs of repeated bytes among noise.
std::string BinaryFile(std::mt19937& random, std::size_t length) {
  std::string bytes;
  while (bytes.size() < length) {
    const auto value = static_cast<char>(random());
    bytes.append(1 + random() % (random() % 4 == 0 ? 40 : 2), value);
  }
  bytes.resize(length);
  return bytes;
}

int Corpus(const std::filesystem::path& dir, std::uint64_t megabytes) {
  std::mt19937 random(20260115);
  const std::uint64_t target = megabytes * 1024 * 1024;
  std::uint64_t written = 0;
  for (int index = 0; written < target; ++index) {
    const bool binary = index % 10 == 9;
    // About 40 KB on average, so that 24 MB make some 600 entries.
    const std::size_t length = 8 * 1024 + random() % (binary ? 32 * 1024 : 66 * 1024);
    const std::string folder = "lib" + std::to_string(index % 6) + (index % 4 == 0 ? "/ext" : "");
    const std::string name = "Unit" + std::to_string(index) + (binary ? ".dfm" : ".pas");
    const std::string content = binary ? BinaryFile(random, length) : SourceFile(random, length);
    std::filesystem::create_directories(dir / folder);
    std::ofstream out(dir / folder / name, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
      std::cerr << "quillet-bench: cannot write " << (dir / folder / name).string() << "\n";
      return 1;
    }
    written += content.size();
  }
  std::cout << "corpus: " << written << " bytes in " << dir.string() << "\n";
  return 0;
}

struct OpenedPackage {
  quillet::platform::MappedFile image;
  quillet::PackageLayout layout;
  std::vector<PackageEntry> entries;
};

bool Open(const std::string& path, OpenedPackage& package) {
  if (package.image.Open(path, quillet::MAX_PACKAGE_FILE_SIZE) !=
          quillet::platform::MappedFile::Status::Ok ||
      !quillet::ValidatePackage(package.image.Data(), package.image.Size(), package.layout)) {
    std::cerr << "quillet-bench: " << path << ": holds no package\n";
    return false;
  }
  for (std::int32_t i = 0;; ++i) {
    const auto lookup = quillet::FindEntryByIndex(package.layout, i);
    if (!lookup.found) {
      break;
    }
    package.entries.push_back(lookup.entry);
  }
  return true;
}

int Extract(const std::string& path) {
  OpenedPackage package;
  if (!Open(path, package)) {
    return 1;
  }
  std::uint64_t bytes = 0;
  for (const PackageEntry& entry : package.entries) {
    const quillet::EntryContent content = quillet::ExtractEntry(entry);
    if (content.status != quillet::EntryStatus::Content) {
      std::cerr << "quillet-bench: " << path << ": entry " << entry.FileName() << " failed\n";
      return 1;
    }
    bytes += content.bytes.size();
  }
  std::cout << "extracted " << package.entries.size() << " entries, " << bytes << " bytes\n";
  return 0;
}

int Streams(const std::string& path, const std::filesystem::path& dir) {
  OpenedPackage package;
  if (!Open(path, package)) {
    return 1;
  }
  std::filesystem::create_directories(dir);
  int index = 0;
  for (const PackageEntry& entry : package.entries) {
    char name[32];
    std::snprintf(name, sizeof name, "%05d.bz2", index++);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(entry.StoredBytes()), entry.StoredSize());
    if (!out) {
      std::cerr << "quillet-bench: cannot write " << (dir / name).string() << "\n";
      return 1;
    }
  }
  std::cout << "streams: " << index << " files in " << dir.string() << "\n";
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "corpus") {
    return Corpus(args[1], std::strtoull(args[2].c_str(), nullptr, 10));
  }
  if (args.size() == 2 && args[0] == "extract") {
    return Extract(args[1]);
  }
  if (args.size() == 3 && args[0] == "streams") {
    return Streams(args[1], args[2]);
  }
  std::cerr << "usage: quillet-bench corpus DIR MEGABYTES | extract PACKAGE | streams PACKAGE "
               "DIR\n";
  return 2;
}
