#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace kuribo {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kuribo_settings_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "kuribo.ini").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
  std::string path_;
};

TEST(SettingsSplit, EmptyEntriesBetweenSeparatorsSurvive) {
  EXPECT_EQ(SplitSettingValue("a;;;;b", true), (std::vector<std::string>{"a", "", "b"}));
}

TEST(SettingsSplit, EntriesAndRestAreTrimmed) {
  EXPECT_EQ(SplitSettingValue(" abc ;;  見積 ", true), (std::vector<std::string>{"abc", "見積"}));
  // The text after a separator is trimmed in any case; only a type value with
  // no separator at all keeps its blanks.
  EXPECT_EQ(SplitSettingValue(".pdf ;; .bmp ", false), (std::vector<std::string>{".pdf", ".bmp"}));
  EXPECT_EQ(SplitSettingValue(" .bmp ", false), (std::vector<std::string>{" .bmp "}));
  EXPECT_EQ(SplitSettingValue(" .bmp ", true), (std::vector<std::string>{".bmp"}));
}

TEST(SettingsSplit, TrailingSeparatorAddsNoEntryAndEmptyValueNone) {
  EXPECT_EQ(SplitSettingValue("a;;", true), (std::vector<std::string>{"a"}));
  EXPECT_TRUE(SplitSettingValue("", true).empty());
}

TEST(SettingsSplit, JoinIsTheInverseForUntrimmedEntries) {
  std::vector<std::string> e = {"abc", "", "見積"};
  EXPECT_EQ(JoinSettingValue(e), "abc;;;;見積");
  EXPECT_EQ(SplitSettingValue(JoinSettingValue(e), true), e);
}

TEST(SettingsTypes, TickedBoxesThenOtherEntries) {
  std::array<bool, kTypeBoxes> checked{};
  checked[0] = true;   // .doc
  checked[10] = true;  // .docx/.docm
  EXPECT_EQ(BuildTypeValue(checked, ".bmp ; .jpg"), ".doc;;.docx;;.docm;;.bmp;;.jpg");
}

TEST(SettingsTypes, OneTwoExtensionBoxAlone) {
  std::array<bool, kTypeBoxes> checked{};
  checked[11] = true;
  EXPECT_EQ(BuildTypeValue(checked, ""), ".xlsx;;.xlsm");
}

TEST(SettingsTypes, OtherTextWithoutBlanksGivesSeparateEntries) {
  std::array<bool, kTypeBoxes> checked{};
  EXPECT_EQ(BuildTypeValue(checked, ".bmp;.jpg"), ".bmp;;.jpg");
  // Two adjacent ";" keep an empty entry.
  EXPECT_EQ(BuildTypeValue(checked, ".a;;.b"), ".a;;;;.b");
  EXPECT_EQ(BuildTypeValue(checked, "   "), "");
}

TEST(SettingsTypes, ParseTicksOnlyExactExtensions) {
  TypeSelection t = ParseTypeValue(".DOC");
  for (bool b : t.checked) EXPECT_FALSE(b);
  EXPECT_EQ(t.other, ".DOC");

  t = ParseTypeValue(".pdf;;.bmp;;.jpg");
  EXPECT_TRUE(t.checked[3]);
  int ticked = 0;
  for (bool b : t.checked) ticked += b;
  EXPECT_EQ(ticked, 1);
  EXPECT_EQ(t.other, ".bmp ; .jpg");

  t = ParseTypeValue(".xlsm");
  EXPECT_TRUE(t.checked[11]);
  EXPECT_EQ(t.other, "");
}

TEST(SettingsTypes, NormalizeKeepsEmptyEntryBetweenSeparators) {
  EXPECT_EQ(NormalizeOtherExtensions(".bmp;.jpg ;;  .png"), ".bmp ; .jpg ;  ; .png");
  EXPECT_EQ(NormalizeOtherExtensions("  .BMP  "), ".BMP");
  EXPECT_EQ(NormalizeOtherExtensions(""), "");
}

TEST(SettingsUtf8, RejectsMalformedAndOverlong) {
  EXPECT_TRUE(IsValidUtf8("abc 見積"));
  EXPECT_FALSE(IsValidUtf8("\x8C\xA9\x90\xCF"));  // 見積 in Shift_JIS
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
  EXPECT_FALSE(IsValidUtf8("\xE8\xA6"));  // cut off
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
}

TEST(SettingsIni, ReadsSectionAndKeysWithoutRegardToCase) {
  IniText ini = IniText::FromFileBytes(
      "[other]\r\nKEY=wrong\r\n[common]\r\n key = abc;;見積 \r\nDIR=/d/\r\n");
  EXPECT_EQ(ini.Get("COMMON", "KEY"), "abc;;見積");
  EXPECT_EQ(ini.Get("COMMON", "DIR"), "/d/");
  EXPECT_EQ(ini.Get("COMMON", "TYP"), "");
  EXPECT_EQ(ini.Get("other", "key"), "wrong");
}

TEST(SettingsIni, ValueReadUpTo2047BytesWithoutSplittingACharacter) {
  std::string ascii(3000, 'x');
  IniText ini = IniText::FromFileBytes("[COMMON]\nKEY=" + ascii + "\n");
  EXPECT_EQ(ini.Get("COMMON", "KEY").size(), 2047u);
  // 2047 = 682 three-byte characters + 1 byte: the half character goes.
  std::string kanji;
  for (int i = 0; i < 700; ++i) kanji += "見";
  ini = IniText::FromFileBytes("[COMMON]\nKEY=" + kanji + "\n");
  EXPECT_EQ(ini.Get("COMMON", "KEY").size(), 2046u);
  EXPECT_TRUE(IsValidUtf8(ini.Get("COMMON", "KEY")));
}

TEST(SettingsIni, SetReplacesInPlaceAndKeepsOtherLines) {
  IniText ini = IniText::FromFileBytes("; mine\n[COMMON]\nKEY=old\nEXTRA=1\n\n[Other]\nX=y\n");
  ini.Set("COMMON", "KEY", "new");
  ini.Set("COMMON", "TYP", ".pdf");
  EXPECT_EQ(ini.ToBytes(), "; mine\n[COMMON]\nKEY=new\nEXTRA=1\nTYP=.pdf\n\n[Other]\nX=y\n");
}

TEST(SettingsIni, LineBreakInAValueCannotStartAnotherKey) {
  IniText ini;
  ini.Set("COMMON", "DIR", "/a\nTYP=.exe/");
  EXPECT_EQ(ini.Get("COMMON", "TYP"), "");
  EXPECT_EQ(ini.Get("COMMON", "DIR"), "/a TYP=.exe/");
}

TEST_F(SettingsFileTest, MissingFileReadsEmpty) {
  SettingsValues v = ReadSettingsFile(path_);
  EXPECT_EQ(v.key, "");
  EXPECT_EQ(v.dir, "");
  EXPECT_EQ(v.typ, "");
}

TEST_F(SettingsFileTest, WriteCreatesAndRoundTripsValuesByteForByte) {
  SettingsValues v{"abc;;見積, x", "/docs/;;/報告 書/", ".doc;;.docx;;.docm;;.bmp;;.jpg"};
  ASSERT_TRUE(WriteSettingsFile(path_, v));
  EXPECT_EQ(ReadAll(path_),
            "[COMMON]\nKEY=abc;;見積, x\nDIR=/docs/;;/報告 書/\nTYP=.doc;;.docx;;.docm;;.bmp;;.jpg\n");
  SettingsValues back = ReadSettingsFile(path_);
  EXPECT_EQ(back.key, v.key);
  EXPECT_EQ(back.dir, v.dir);
  EXPECT_EQ(back.typ, v.typ);
  EXPECT_FALSE(fs::exists(path_ + ".new"));
}

TEST_F(SettingsFileTest, ShiftJisFileIsReadAsShiftJis) {
  // KEY=見積;;abc written in the Windows code page.
  WriteAll(path_, "[COMMON]\r\nKEY=\x8C\xA9\x90\xCF;;abc\r\n");
  EXPECT_EQ(ReadSettingsFile(path_).key, "見積;;abc");
  // The next save turns the file into UTF-8.
  ASSERT_TRUE(WriteSettingsFile(path_, {"見積", "", ""}));
  EXPECT_TRUE(IsValidUtf8(ReadAll(path_)));
  EXPECT_EQ(ReadSettingsFile(path_).key, "見積");
}

TEST_F(SettingsFileTest, WriteFailsWhenTheNameIsTakenByADirectory) {
  fs::create_directories(path_);
  EXPECT_FALSE(WriteSettingsFile(path_, {"a", "", ""}));
  EXPECT_TRUE(fs::is_directory(path_));
  // Unreadable reads as empty.
  EXPECT_EQ(ReadSettingsFile(path_).key, "");
  EXPECT_FALSE(fs::exists(path_ + ".new"));
}

TEST_F(SettingsFileTest, WriteFailsInAMissingDirectory) {
  EXPECT_FALSE(WriteSettingsFile((dir_ / "gone" / "kuribo.ini").string(), {"a", "", ""}));
}

TEST_F(SettingsFileTest, LinkedSettingsFileIsWrittenThrough) {
#ifdef _WIN32
  GTEST_SKIP() << "makes a symbolic link, which needs a privilege on Windows";
#endif
  const std::string real = (dir_ / "real.ini").string();
  WriteAll(real, "[COMMON]\nKEY=old\n");
  fs::create_symlink(real, path_);
  ASSERT_TRUE(WriteSettingsFile(path_, {"new", "", ""}));
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(ReadSettingsFile(real).key, "new");
}

TEST(SettingsLists, AnEntryThatDoesNotFitWholeIsDroppedNeverCut) {
  const std::string a(1000, 'a'), b(1000, 'b'), c(100, 'c');
  const struct {
    std::string value, kept;
  } cases[] = {
      {a + ";;" + b, a + ";;" + b},                       // 2002 bytes: fits
      {a + ";;" + b + ";;" + c, a + ";;" + b},            // c would end past 2047
      {a + ";;" + std::string(1045, 'b'), a + ";;" + std::string(1045, 'b')},  // exactly 2047
      {a + ";;" + std::string(1046, 'b'), a},
      {std::string(3000, 'x'), ""},
  };
  for (const auto& t : cases) EXPECT_EQ(FitSettingList(t.value), t.kept) << t.value.size();
}

TEST_F(SettingsFileTest, LongDirectoryListReadsBackAsWholeDirectories) {
  std::vector<std::string> dirs;
  for (int i = 0; i < 60; ++i) dirs.push_back("/srv/share/" + std::to_string(i) + "/" + std::string(40, 'd') + "/");
  SettingsValues v{"k", JoinSettingValue(dirs), ""};
  EXPECT_FALSE(SettingsFit(v));
  ASSERT_TRUE(WriteSettingsFile(path_, v));
  const std::vector<std::string> back = SplitSettingValue(ReadSettingsFile(path_).dir, true);
  ASSERT_FALSE(back.empty());
  EXPECT_LT(back.size(), dirs.size());
  for (size_t i = 0; i < back.size(); ++i) EXPECT_EQ(back[i], dirs[i]);
}

// Encoding is decided value by value; bytes of neither encoding stay as they are.
TEST_F(SettingsFileTest, OneStrayByteDoesNotTurnOtherValuesIntoMojibake) {
  WriteAll(path_, "[COMMON]\nKEY=東京;;大阪\nDIR=/srv/caf\xE9/\nTYP=\x8C\xA9\x90\xCF\n");
  SettingsValues v = ReadSettingsFile(path_);
  EXPECT_EQ(v.key, "東京;;大阪");
  EXPECT_EQ(v.dir, "/srv/caf\xE9/");
  EXPECT_EQ(v.typ, "見積");
}

TEST_F(SettingsFileTest, ReadOnlyFileIsReportedAndLeftAlone) {
#ifdef _WIN32
  GTEST_SKIP() << "checks POSIX file modes";
#else
  WriteAll(path_, "[COMMON]\nKEY=old\n");
  chmod(path_.c_str(), 0444);
  bool readOnly = false;
  EXPECT_FALSE(WriteSettingsFile(path_, {"new", "", ""}, {}, &readOnly));
  EXPECT_TRUE(readOnly);
  EXPECT_EQ(ReadAll(path_), "[COMMON]\nKEY=old\n");
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  // A writable file keeps its mode through the save.
  chmod(path_.c_str(), 0600);
  ASSERT_TRUE(WriteSettingsFile(path_, {"new", "", ""}, {}, &readOnly));
  EXPECT_FALSE(readOnly);
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}

TEST_F(SettingsFileTest, HugeFileIsReadOnlyAsFarAsTheFormatCanUse) {
  const std::string junk(kMaxSettingsFileBytes + 4096, '#');
  WriteAll(path_, "[COMMON]\nKEY=first\n" + junk + "\nDIR=/late/\n");
  SettingsValues v = ReadSettingsFile(path_);
  EXPECT_EQ(v.key, "first");
  EXPECT_EQ(v.dir, "");
}

TEST_F(SettingsFileTest, PipeInPlaceOfTheFileReadsEmptyWithoutWaiting) {
#ifdef _WIN32
  GTEST_SKIP() << "makes a named pipe in the file system, which Windows has not";
#else
  ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
  EXPECT_EQ(ReadSettingsFile(path_).key, "");
#endif
}

}  // namespace
}  // namespace kuribo
