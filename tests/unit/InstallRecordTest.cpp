// The install record's text: what is written is read back, and a damaged text is read strictly.
#include <gtest/gtest.h>

#include "Package/InstallRecord.h"

namespace quillet {
namespace {

constexpr std::uint32_t NOON = 0x58616000; // 2024-03-01 12:00:00

TEST(InstallRecord, TextReadsBackWhatWasWritten) {
  const InstallRecord full{"Widgets",
                           "2.1-rc+3",
                           "Software\\Embarcadero\\BDS\\23.0",
                           "C:\\Lib\\W\xC3\xBC\\",
                           "D:\\Old\\",
                           {{"Source\\\xE6\x97\xA5\xE6\x9C\xAC.pas", 1234, 0x0089abcd, NOON},
                            {"D:\\Shared\\w.bpl", UINT64_MAX, 0xFFFFFFFF, 0}},
                           {"C:\\Lib\\W\xC3\xBC", "C:\\Lib\\W\xC3\xBC\\Source"},
                           {{"Software\\X\\Library\\Win32", "Search Path", "C:\\Lib\\S"}}};
  const InstallRecord bare{"W", "", "", "C:\\W\\", "", {{"a", 0, 0, 0xFFFFFFFF}}, {}, {}};
  for (const InstallRecord& record : {full, bare}) {
    const std::optional<InstallRecord> read = RecordOfText(RecordText(record));
    ASSERT_TRUE(read) << RecordText(record);
    EXPECT_EQ(RecordText(*read), RecordText(record));
    EXPECT_EQ(std::tie(read->name, read->version, read->ide, read->folder, read->previous),
              std::tie(record.name, record.version, record.ide, record.folder, record.previous));
    ASSERT_EQ(read->files.size(), record.files.size());
    EXPECT_EQ(read->files.back().dosDateTime, record.files.back().dosDateTime);
    EXPECT_EQ(read->files.back().size, record.files.back().size);
    EXPECT_EQ(read->createdFolders, record.createdFolders);
    EXPECT_EQ(read->library.size(), record.library.size());
  }
  EXPECT_EQ(RecordFileLine(full.files[0]),
            "file\t1234\t0089abcd\t2024-03-01 12:00:00\tSource\\\xE6\x97\xA5\xE6\x9C\xAC.pas\r\n");
  EXPECT_EQ(RecordedFilePath(full, full.files[0]), "C:\\Lib\\W\xC3\xBC\\" + full.files[0].path);
  EXPECT_EQ(RecordedFilePath(full, full.files[1]), "D:\\Shared\\w.bpl");
  const InstallRecord unended{"W", "", "", "C:\\W", "", {{"a"}, {"\\\\srv\\s\\a"}}, {}, {}};
  EXPECT_EQ(RecordedFilePath(unended, unended.files[0]), "C:\\W\\a");
  EXPECT_EQ(RecordedFilePath(unended, unended.files[1]), "\\\\srv\\s\\a");
  // A field that holds a line end cannot make a line of its own.
  InstallRecord forged = bare;
  forged.files[0].path = "a\r\nfile\t1\t00000000\t2024-03-01 12:00:00\tC:\\Windows\\x";
  const std::optional<InstallRecord> read = RecordOfText(RecordText(forged));
  ASSERT_TRUE(read && read->files.size() == 1);
  EXPECT_EQ(read->files[0].path.find("\r\n"), std::string::npos);
}

struct ReadCase {
  const char* name;
  std::string tail; // after the first line, a name line and a folder line
  std::size_t files;
  std::size_t created = 0;
  std::size_t library = 0;
  bool lf = false; // the head's lines end in LF alone
};

class RecordOfTextTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(RecordOfTextTest, TakesWholeRightLinesOnly) {
  const std::string head = GetParam().lf ? "quillet-record\t1\nname\tW\nfolder\tC:\\W\\\n"
                                         : "quillet-record\t1\r\nname\tW\r\nfolder\tC:\\W\\\r\n";
  const std::optional<InstallRecord> record = RecordOfText(head + GetParam().tail);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->files.size(), GetParam().files);
  EXPECT_EQ(record->createdFolders.size(), GetParam().created);
  EXPECT_EQ(record->library.size(), GetParam().library);
  EXPECT_EQ(record->folder, "C:\\W\\");
}

#define FILE_AT(size, crc, time, path) "file\t" size "\t" crc "\t" time "\t" path
#define GOOD FILE_AT("1", "0089ABCD", "2024-03-01 12:00:00", "a.pas")

INSTANTIATE_TEST_SUITE_P(
    Lines, RecordOfTextTest,
    ::testing::Values(
        ReadCase{"Whole", GOOD "\r\ncreated\tC:\\W\r\nlibrary\tK\t\tC:\\W\r\n", 1, 1, 1},
        ReadCase{"LfOnly", GOOD "\ncreated\tC:\\W\n", 1, 1, 0, true},
        ReadCase{"CutLastLineDropped", GOOD "\r\n" GOOD, 1},
        ReadCase{"UnknownKindPassedOver", "checksum\t1\t2\r\n" GOOD "\r\n", 1},
        ReadCase{"BadCrcDigit", FILE_AT("1", "0089abcg", "2024-03-01 12:00:00", "a") "\r\n", 0},
        ReadCase{"ShortCrc", FILE_AT("1", "89abcd", "2024-03-01 12:00:00", "a") "\r\n", 0},
        ReadCase{"SignedSize", FILE_AT("-1", "0089abcd", "2024-03-01 12:00:00", "a") "\r\n", 0},
        ReadCase{"SizeOverflows",
                 FILE_AT("18446744073709551616", "00000000", "2024-03-01 12:00:00", "a") "\r\n", 0},
        ReadCase{"OddSecond", FILE_AT("1", "0089abcd", "2024-03-01 12:00:01", "a") "\r\n", 0},
        ReadCase{"MonthBeyondItsBits", FILE_AT("1", "00000000", "2024-16-01 12:00:00", "a") "\r\n",
                 0},
        ReadCase{"TimeFormWrong", FILE_AT("1", "00000000", "2024-03-01T12:00:00", "a") "\r\n", 0},
        ReadCase{"ExtraField", GOOD "\tmore\r\n", 0},
        ReadCase{"ClimbsOut", FILE_AT("1", "00000000", "2024-03-01 12:00:00", "..\\a") "\r\n", 0},
        ReadCase{"ClimbsBehindAPercent",
                 FILE_AT("1", "00000000", "2024-03-01 12:00:00", "%\\..\\a") "\r\n", 0},
        ReadCase{"LoneCrInAField", "created\tC:\\W\rX\r\n", 0},
        ReadCase{"RelativeCreatedFolder", "created\tSource\r\nlibrary\tK\tV\r\n", 0}),
    [](const auto& info) { return info.param.name; });

TEST(RecordOfText, NeedsTheFirstLineAndAName) {
  for (const std::string_view text :
       {"", "quillet-record\t1", "quillet-record\t2\r\nname\tW\r\n", "name\tW\r\n",
        "quillet-record\t1\r\nname\tW", "quillet-record\t1\r\nname\t.W\r\n"}) {
    EXPECT_FALSE(RecordOfText(text)) << text;
  }
}

TEST(IsPackageName, HoldsWhatFileNamesAndKeysHold) {
  const std::string longest(64, 'w');
  for (const std::string& name : {std::string("My Widgets 2.0_x+y-z"), longest}) {
    EXPECT_TRUE(IsPackageName(name)) << name;
  }
  for (const std::string& name :
       {std::string(), longest + "w", std::string(" W"), std::string("W "), std::string(".W"),
        std::string("W."), std::string("a\\b"), std::string("W\xC3\xA9"), std::string("con"),
        std::string("W\t")}) {
    EXPECT_FALSE(IsPackageName(name)) << name;
  }
  EXPECT_TRUE(IsPackageVersion("2.1.0-beta+5_x"));
  for (const std::string& version : {std::string(), std::string(33, '1'), std::string("1 0")}) {
    EXPECT_FALSE(IsPackageVersion(version)) << version;
  }
}

} // namespace
} // namespace quillet
