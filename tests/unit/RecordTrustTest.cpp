// What a record's lines may name, for a record the installer wrote and for one it cannot vouch
// for; the index text with its checksums.
#include <gtest/gtest.h>

#include "Installer/RecordTrust.h"
#include "Installer/RecordStore.h"
#include "Package/Sha256.h"

namespace quillet {
namespace {

constexpr const char* BPL = "C:\\Users\\Public\\Documents\\Embarcadero\\Studio\\23.0\\Bpl\\";
constexpr const char* KEY = "Software\\Embarcadero\\BDS\\23.0";

TEST(ConfineRecord, KeepsOnlyWhatATurnCouldHaveWritten) {
  const std::string bpl = BPL;
  const std::string key = KEY;
  enum class Line { File, Created, Library, Registered };
  // One line of a record whose folder is C:\Lib\W, and whether it is kept when the record is the
  // installer's and when it is not.
  const struct {
    Line kind;
    std::string a, b, c;
    bool verified, unverified;
  } rows[] = {
      {Line::File, "Source\\a.pas", "", "", true, true},
      {Line::File, "C:\\Lib\\W\\Source\\a.pas", "", "", true, true},
      {Line::File, "c:/lib/w/Source/a.pas", "", "", true, true},
      {Line::File, "C:\\windows\\system.ini", "", "", false, false},
      {Line::File, "C:\\Lib\\W\\..\\..\\windows\\system.ini", "", "", false, false},
      {Line::File, "C:\\Lib\\W\\Source\\.\\a.pas", "", "", false, false},
      {Line::File, "C:\\Lib\\W\\a.pas:stream", "", "", false, false},
      {Line::File, "C:\\Lib\\W\\CON", "", "", false, false},
      {Line::File, "C:\\Lib\\Wx\\a.pas", "", "", false, false},
      {Line::File, "\\Lib\\W\\a.pas", "", "", false, false},
      {Line::File, "Z:\\tmp\\a.pas", "", "", false, false},
      {Line::File, bpl + "W290.bpl", "", "", true, false},
      {Line::File, bpl + "sub\\W290.bpl", "", "", false, false},
      {Line::Created, "C:\\Lib\\W\\Source", "", "", true, true},
      {Line::Created, "C:\\Lib\\W", "", "", true, true},
      {Line::Created, "C:\\Lib", "", "", true, false},
      {Line::Created, "C:\\users\\me\\Documents\\EmptyDocs", "", "", false, false},
      {Line::Created, bpl, "", "", true, false},
      {Line::Library, key + "\\Library\\Win32", "Search Path", "C:\\Lib\\W\\Source", true, true},
      {Line::Library, key + "\\Library\\Win32", "Search Path", "C:\\Elsewhere", true, false},
      {Line::Library, key + "\\C++\\Paths\\Win64", "IncludePath", "C:\\Lib\\W\\h", true, true},
      {Line::Library, key + "\\Environment Variables", "PATH", bpl, true, false},
      {Line::Library, key + "\\Library\\Win32\\X", "Search Path", "C:\\Lib\\W", false, false},
      {Line::Library, key + "\\Library\\Win32", "Package DPL Output", "C:\\Lib\\W", false, false},
      {Line::Library, "Software\\Victim\\Env", "PATH", "C:\\windows", false, false},
      {Line::Registered, key + "\\Known Packages", bpl + "W290.bpl", "", true, false},
      {Line::Registered, key + "\\Known Packages x64", bpl + "W290.bpl", "", true, false},
      {Line::Registered, key + "\\Known Packages", "C:\\windows\\evil.bpl", "", false, false},
      {Line::Registered, key + "\\Known Packages", bpl + "W290.dll", "", false, false},
      {Line::Registered, "Software\\Victim", "Important", "", false, false},
  };
  RecordScope scope{IdeInstallation("\\Software\\Embarcadero\\BDS\\", "23.0", "C:\\BDS"), {bpl}};
  for (const auto& row : rows) {
    for (const bool verified : {true, false}) {
      InstallRecord part;
      part.folder = "C:\\Lib\\W\\";
      switch (row.kind) {
      case Line::File:
        part.files.push_back({row.a});
        break;
      case Line::Created:
        part.createdFolders.push_back(row.a);
        break;
      case Line::Library:
        part.library.push_back({row.a, row.b, row.c});
        break;
      case Line::Registered:
        part.registered.push_back({row.a, row.b});
        break;
      }
      const std::string text = RecordText(part);
      std::vector<std::string> refused;
      ConfineRecord(part, verified ? RecordTrust::Verified : RecordTrust::Unverified, scope,
                    refused);
      const std::size_t lines = part.files.size() + part.createdFolders.size() +
                                part.library.size() + part.registered.size();
      const bool kept = verified ? row.verified : row.unverified;
      EXPECT_EQ(lines, kept ? 1u : 0u) << text << " verified " << verified;
      EXPECT_EQ(refused.size(), kept ? 0u : 1u) << text;
    }
  }
  // Without an IDE, no setting is the turn's.
  InstallRecord part;
  part.folder = "C:\\Lib\\W\\";
  part.library = {{key + "\\Library\\Win32", "Search Path", "C:\\Lib\\W"}};
  std::vector<std::string> refused;
  ConfineRecord(part, RecordTrust::Verified, RecordScope{}, refused);
  EXPECT_TRUE(part.library.empty());
}

TEST(IndexText, KeepsEachFolderWithItsChecksum) {
  const std::string sum = Sha256Hex("abc");
  EXPECT_EQ(sum, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  const std::vector<IndexedFolder> folders = {{"C:\\N\\", sum}, {"C:\\W\\", ""}, {"D:\\O\\", sum}};
  const std::string text = IndexText(folders);
  EXPECT_EQ(text, "C:\\N\\|sha256:" + sum + "|C:\\W\\|D:\\O\\|sha256:" + sum);
  const std::vector<IndexedFolder> read = IndexedFoldersOfText(text);
  ASSERT_EQ(read.size(), 3u);
  for (std::size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(std::tie(read[i].folder, read[i].checksum),
              std::tie(folders[i].folder, folders[i].checksum));
  }
  EXPECT_EQ(FoldersOfIndexText(text), (std::vector<std::string>{"C:\\N\\", "C:\\W\\", "D:\\O\\"}));
  // A checksum proves something only of the folder right before it, and only whole.
  const std::pair<std::string, std::string> strays[] = {
      {"sha256:" + sum + "|C:\\W\\", ""},
      {"C:\\W\\|sha256:" + sum.substr(1), ""},
      {"C:\\W\\|sha256:" + sum + "|sha256:" + Sha256Hex("x"), sum},
  };
  for (const auto& [stray, checksum] : strays) {
    const std::vector<IndexedFolder> read = IndexedFoldersOfText(stray);
    ASSERT_EQ(read.size(), 1u) << stray;
    EXPECT_EQ(read[0].checksum, checksum) << stray;
  }
}

} // namespace
} // namespace quillet
