// The install record's text: what is written is read back, and a damaged text is read strictly.
#include <gtest/gtest.h>

#include "Package/InstallRecord.h"

namespace quillet {
namespace {

TEST(InstallRecord, TextReadsBackWhatWasWritten) {
  // 0x58616000: 2024-03-01 12:00:00
  const InstallRecord full{"Widgets",
                           "2.1-rc+3",
                           "Software\\Embarcadero\\BDS\\23.0",
                           "C:\\Lib\\W\xC3\xBC\\",
                           "D:\\Old\\",
                           {{"Src\\\xE6\x97\xA5\xE6\x9C\xAC.pas", 1234, 0x0089abcd, 0x58616000},
                            {"D:\\Shared\\w.bpl", UINT64_MAX, 0xFFFFFFFF, 0}},
                           {"C:\\Lib\\W\xC3\xBC", "C:\\Lib\\W\xC3\xBC\\Src"},
                           {{"Software\\X\\Library\\Win32", "Search Path", "C:\\Lib\\S"}},
                           {{"Software\\X\\Known Packages", "C:\\Bpl\\W290.bpl"}},
                           {{"Software\\X\\Library\\Win32", "Browsing Path"}}};
  const InstallRecord bare{"W", "", "", "C:\\W", "", {{"a", 0, 0, 0xFFFFFFFF}, {"\\\\s\\a"}},
                           {},  {}, {}, {}};
  for (const InstallRecord& record : {full, bare}) {
    std::string text = RecordText(record);
    const std::optional<InstallRecord> read = RecordOfText(text);
    ASSERT_TRUE(read) << text;
    EXPECT_EQ(RecordText(*read), text);
    EXPECT_EQ(std::tie(read->name, read->version, read->ide, read->folder, read->previous),
              std::tie(record.name, record.version, record.ide, record.folder, record.previous));
    ASSERT_EQ(read->files.size(), record.files.size());
    EXPECT_EQ(read->files[0].dosDateTime, record.files[0].dosDateTime);
    EXPECT_EQ(read->files[1].size, record.files[1].size);
    EXPECT_EQ(read->createdFolders, record.createdFolders);
    EXPECT_EQ(read->library.size(), record.library.size());
    // Lines that end in LF alone read the same.
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) {
      text.erase(at, 1);
    }
    EXPECT_EQ(RecordText(RecordOfText(text).value_or(InstallRecord{})), RecordText(record));
  }
  EXPECT_EQ(RecordFileLine(full.files[0]),
            "file\t1234\t0089abcd\t2024-03-01 12:00:00\tSrc\\\xE6\x97\xA5\xE6\x9C\xAC.pas\r\n");
  EXPECT_EQ(RecordedFilePath(full, full.files[0]), "C:\\Lib\\W\xC3\xBC\\" + full.files[0].path);
  EXPECT_EQ(RecordedFilePath(full, full.files[1]), "D:\\Shared\\w.bpl");
  EXPECT_EQ(RecordedFilePath(bare, bare.files[0]), "C:\\W\\a");
  EXPECT_EQ(RecordedFilePath(bare, bare.files[1]), "\\\\s\\a");
  // A field that holds a line end cannot make a line of its own.
  InstallRecord forged = bare;
  forged.files[0].path = "a\r\nfile\t1\t00000000\t2024-03-01 12:00:00\tC:\\Windows\\x";
  const std::optional<InstallRecord> read = RecordOfText(RecordText(forged));
  ASSERT_TRUE(read && read->files.size() == 2);
  EXPECT_EQ(read->files[0].path.find("\r\n"), std::string::npos);
}

#define FILE_AT(size, crc, time, path) "file\t" size "\t" crc "\t" time "\t" path "\r\n"
#define GOOD FILE_AT("1", "0089ABCD", "2024-03-01 12:00:00", "a.pas")

TEST(RecordOfText, TakesWholeRightLinesOnly) {
  const struct {
    const char* tail; // after the first line, a name line and a folder line
    std::size_t files, created, library;
  } rows[] = {
      {GOOD "created\tC:\\W\r\nlibrary\tK\t\tC:\\W\r\n", 1, 1, 1},
      {GOOD "file\t1\t0089abcd\t2024-03-01 12:00:00\ta.pas", 1, 0, 0}, // cut short: dropped
      {"checksum\t1\t2\r\n" GOOD, 1, 0, 0},                            // a later kind
      {FILE_AT("1", "0089abcg", "2024-03-01 12:00:00", "a"), 0, 0, 0},
      {FILE_AT("1", "89abcd", "2024-03-01 12:00:00", "a"), 0, 0, 0},
      {FILE_AT("-1", "0089abcd", "2024-03-01 12:00:00", "a"), 0, 0, 0},
      {FILE_AT("18446744073709551616", "00000000", "2024-03-01 12:00:00", "a"), 0, 0, 0},
      {FILE_AT("1", "0089abcd", "2024-03-01 12:00:01", "a"), 0, 0, 0}, // odd second
      {FILE_AT("1", "00000000", "2024-16-01 12:00:00", "a"), 0, 0, 0}, // month 16
      {FILE_AT("1", "00000000", "2024-03-01T12:00:00", "a"), 0, 0, 0},
      {FILE_AT("1", "00000000", "2024-03-01 12:00:00", "a\tmore"), 0, 0, 0},
      {FILE_AT("1", "00000000", "2024-03-01 12:00:00", "..\\a"), 0, 0, 0},
      {FILE_AT("1", "00000000", "2024-03-01 12:00:00", "%\\..\\a"), 0, 0, 0},
      {"created\tC:\\W\rX\r\ncreated\tSource\r\nlibrary\tK\tV\r\nlibrary\tK\tV\tC:\\W\tX\r\n", 0, 0,
       0},
  };
  for (const auto& row : rows) {
    const std::optional<InstallRecord> record =
        RecordOfText(std::string("quillet-record\t1\r\nname\tW\r\nfolder\tC:\\W\\\r\n") + row.tail);
    ASSERT_TRUE(record) << row.tail;
    EXPECT_EQ(std::tie(record->folder, record->name), std::make_tuple("C:\\W\\", "W"));
    EXPECT_EQ(record->files.size(), row.files) << row.tail;
    EXPECT_EQ(record->createdFolders.size(), row.created) << row.tail;
    EXPECT_EQ(record->library.size(), row.library) << row.tail;
  }
  for (const std::string_view text :
       {"", "quillet-record\t1", "quillet-record\t2\r\nname\tW\r\n", "name\tW\r\n",
        "quillet-record\t1\r\nname\tW", "quillet-record\t1\r\nname\t.W\r\n"}) {
    EXPECT_FALSE(RecordOfText(text)) << text;
  }
}

// The end line tells a whole record from one cut at a line end or added to after it.
TEST(RecordOfText, TellsAWholeRecord) {
  const std::string whole = RecordText(InstallRecord{
      "W", "1", "", "C:\\W\\", "", {{"a.pas", 1, 2, 0x58616000}}, {"C:\\W"}, {}, {}, {}});
  const std::size_t end = whole.rfind("end\t");
  const struct {
    std::string text;
    bool taken, endsLine, ended;
  } rows[] = {
      {whole, true, true, true},
      {whole.substr(0, end), true, true, false},
      {whole.substr(0, whole.size() - 1), true, false, false}, // the end line cut short
      {whole + "created\tC:\\X\r\n", false, true, false},
      {whole.substr(0, end) + "end\t9\r\n", false, true, false},
      {whole.substr(0, end) + "file\t1\tzz\r\n" + "end\t6\r\n", false, true, true},
      {whole.substr(0, end) + "checksum\t1\r\nend\t6\r\n", true, true, true},
  };
  for (const auto& row : rows) {
    RecordReading reading;
    ASSERT_TRUE(RecordOfText(row.text, &reading)) << row.text;
    EXPECT_EQ(std::tie(reading.linesTaken, reading.endsLine, reading.ended),
              std::tie(row.taken, row.endsLine, row.ended))
        << row.text;
  }
}

TEST(IsPackageName, HoldsWhatFileNamesAndKeysHold) {
  EXPECT_TRUE(IsPackageName("My Widgets 2.0_x+y-z") && IsPackageName(std::string(64, 'w')));
  EXPECT_FALSE(IsPackageName(std::string(65, 'w')));
  for (const char* name : {"", " W", "W ", ".W", "W.", "a\\b", "W\xC3\xA9", "con", "W\t"}) {
    EXPECT_FALSE(IsPackageName(name)) << name;
  }
  const std::pair<std::string, bool> versions[] = {
      {"2.1.0-beta+5_x", true}, {"", false}, {std::string(33, '1'), false}, {"1 0", false}};
  for (const auto& [version, holds] : versions) {
    EXPECT_EQ(IsPackageVersion(version), holds) << version;
  }
}

} // namespace
} // namespace quillet
