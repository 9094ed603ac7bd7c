#include "app/window/desktop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace kuribo {
namespace {

namespace fs = std::filesystem;

TEST(DesktopExec, FileTakesThePlaceOfItsFieldCode) {
  const QString path = QStringLiteral("/d/見積 \"1\".csv");
  EXPECT_EQ(ExecArguments(QStringLiteral("mousepad %F"), path), (QStringList{"mousepad", path}));
  EXPECT_EQ(ExecArguments(QStringLiteral("editor --new %f --wait"), path),
            (QStringList{"editor", "--new", path, "--wait"}));
  // A URL is percent-encoded, the blank and the quotes included.
  const QStringList url = ExecArguments(QStringLiteral("gedit %U"), path);
  ASSERT_EQ(url.size(), 2);
  EXPECT_TRUE(url[1].startsWith(QStringLiteral("file:///d/")));
  EXPECT_FALSE(url[1].contains(QLatin1Char(' ')));
}

TEST(DesktopExec, OtherFieldCodesGoAndAMissingPlaceMeansLast) {
  EXPECT_EQ(ExecArguments(QStringLiteral("calc --icon %i %c"), QStringLiteral("/a.csv")),
            (QStringList{"calc", "--icon", "/a.csv"}));
  EXPECT_EQ(ExecArguments(QStringLiteral("\"/opt/my editor/run\""), QStringLiteral("/a.txt")),
            (QStringList{"/opt/my editor/run", "/a.txt"}));
  EXPECT_TRUE(ExecArguments(QString(), QStringLiteral("/a.txt")).isEmpty());
}

class DataDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kw_datadir_" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "bin");
    const char* old = std::getenv("XDG_CONFIG_HOME");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
  }
  void TearDown() override {
    if (hadOld_) {
      setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    fs::remove_all(root_);
  }
  fs::path root_;
  bool hadOld_ = false;
  std::string old_;
};

TEST_F(DataDirectoryTest, WritableProgramDirectoryKeepsTheFiles) {
  const QString bin = QString::fromStdString((root_ / "bin").string() + "/");
  EXPECT_EQ(ChooseDataDirectory(bin), bin);
  EXPECT_FALSE(fs::exists(root_ / "config"));
}

TEST_F(DataDirectoryTest, OtherwiseTheUsersConfigurationDirectoryIsMade) {
  // A program directory that is not there cannot take files.
  const QString gone = QString::fromStdString((root_ / "gone").string() + "/");
  EXPECT_EQ(ChooseDataDirectory(gone), QString::fromStdString((root_ / "config" / "kuribo").string() + "/"));
  EXPECT_TRUE(fs::is_directory(root_ / "config" / "kuribo"));
}

TEST_F(DataDirectoryTest, AnInstalledCopyNeverWritesIntoItsSharedFolder) {
  // Even when the user (root) could write there.
  const QString share = QString::fromStdString((root_ / "bin").string() + "/");
  EXPECT_EQ(ChooseDataDirectory(share, false),
            QString::fromStdString((root_ / "config" / "kuribo").string() + "/"));
}

}  // namespace
}  // namespace kuribo
