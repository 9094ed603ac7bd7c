// What a desktop user expects of the window beyond its controls: a layout that
// holds through a search, marked hits, the result list's menu, dropped
// folders, and a window that comes back where it was left.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QEventLoop>
#include <QFontDatabase>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "app/settings.h"
#include "app/window/elided_label.h"
#include "app/window/form1.h"
#include "app/window/hit_delegate.h"
#include "app/window/result_model.h"
#include "encoding/sjis.h"
#include "platform/program_dir.h"

namespace kuribo {
namespace {

namespace fs = std::filesystem;

QString U(const char* s) { return QString::fromUtf8(s); }

class DesktopUseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("du_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "bin");
    fs::create_directories(root_ / "data");
    fs::create_directories(root_ / "docs");
  }
  void TearDown() override { fs::remove_all(root_); }

  std::unique_ptr<TForm1> MakeForm() {
    FormOptions o;
    o.programDir = QString::fromStdString((root_ / "bin").string() + "/");
    o.dataDir = QString::fromStdString((root_ / "data").string() + "/");
    o.workers = 2;
    auto form = std::make_unique<TForm1>(o);
    form->showError = [](const QString& t) { ADD_FAILURE() << t.toStdString(); };
    form->openFolder = [this](const QString& d) {
      folders_ << d;
      return true;
    };
    form->show();
    QCoreApplication::processEvents();
    return form;
  }

  void Search(TForm1& form, const char* keyword) {
    form.Edit1->setText(U(keyword));
    form.Button1Click();
    form.ListView2->addTopLevelItem(
        new QTreeWidgetItem(QStringList{QString::fromStdString((root_ / "docs").string() + "/")}));
    form.CheckBox7->setChecked(true);
    form.Button5Click();
    QEventLoop loop;
    QObject::connect(&form, &TForm1::SearchFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(300000, &loop, &QEventLoop::quit);
    // The window is watched at every turn of the loop while the run goes on.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { seen_ = seen_.united(form.geometry()); });
    watch.start(0);
    if (form.Running()) loop.exec();
    QCoreApplication::processEvents();
  }

  fs::path root_;
  QStringList folders_;
  QRect seen_;
};

TEST_F(DesktopUseTest, WindowKeepsItsGeometryThroughASearchOverLongPaths) {
  // Many files whose paths are far wider than the window.
  const std::string deep(120, 'd');
  for (int i = 0; i < 300; ++i) {
    const fs::path dir = root_ / "docs" / (deep + std::to_string(i % 7)) / (deep + "_folder");
    fs::create_directories(dir);
    std::ofstream(dir / ("note_" + std::string(80, 'n') + std::to_string(i) + ".txt")) << "memo " << i;
  }
  auto form = MakeForm();
  const QRect before = form->geometry();
  const QList<int> splitBefore = form->Splitter->sizes();
  seen_ = before;
  Search(*form, "memo");
  ASSERT_EQ(form->results->Count(), 300);
  EXPECT_EQ(form->geometry(), before);
  EXPECT_EQ(seen_, before) << "the window changed its size during the run";
  EXPECT_EQ(form->Splitter->sizes(), splitBefore);
  EXPECT_EQ(form->size(), QSize(870, 640));
  // A status far longer than the window is shown elided and kept whole.
  const QString longStatus = U("ファイル検索中。。。(1/1) ") + QString(2000, QLatin1Char('x'));
  form->statusText->SetFullText(longStatus);
  QCoreApplication::processEvents();
  EXPECT_EQ(form->StatusText(), longStatus);
  EXPECT_TRUE(form->statusText->text().contains(QChar(0x2026)));
  EXPECT_EQ(form->geometry(), before);
  // Offscreen, a window is not raised to its minimum; asking is what counts.
  EXPECT_LE(form->minimumSizeHint().width(), 870);
  EXPECT_LE(form->minimumWidth(), 870);
}

TEST(HitRanges, MarksEveryMatchOfEveryVariantAsItIsCounted) {
  KeywordList abc{"abc"};
  ExpandKeywords(abc);
  KeywordList one{"A"};
  KeywordList a{Utf8ToSjis("ア")};
  KeywordList kata{Utf8ToSjis("ガイド")};
  ExpandKeywords(kata);
  KeywordList num{"1234"};
  ExpandKeywords(num);
  const struct {
    std::string snippet;  // UTF-8, or raw bytes when `raw`
    bool raw;
    const KeywordList* keys;
    std::vector<std::pair<int, int>> want;
  } cases[] = {
      {"xABC abc Abc aBc ＡＢＣ", false, &abc, {{1, 3}, {5, 3}, {9, 3}, {17, 3}}},
      {"no hit here", false, &abc, {}},
      // A one-byte keyword is never the second half of a character.
      {"ア A", false, &one, {{2, 1}}},
      // A two-byte keyword may straddle two characters: both are marked.
      {"\x89\x83\x41", true, &a, {{0, 2}}},
      {"案内ｶﾞｲﾄﾞとガイド", false, &kata, {{2, 5}, {8, 3}}},
      {"1,234円と１２３４個", false, &num, {{0, 5}, {7, 4}}},
      // Overlapping matches (aa in aaaa is counted three times) mark one run.
      {"baaaab", false, nullptr, {{1, 4}}},
  };
  KeywordList aa{"aa"};
  for (const auto& c : cases) {
    const std::string sjis = c.raw ? c.snippet : Utf8ToSjis(c.snippet);
    EXPECT_EQ(HitRanges(sjis, c.keys ? *c.keys : aa), c.want) << c.snippet;
  }
  // A lead byte cut off at the end of the snippet is not shown and not marked.
  const std::string cut = Utf8ToSjis("abc見") .substr(0, 4);
  EXPECT_EQ(HitRanges(cut, abc), (std::vector<std::pair<int, int>>{{0, 3}}));
}

TEST_F(DesktopUseTest, SnippetCellShowsMarkedHitsAndKeepsItsText) {
  std::ofstream(root_ / "docs" / "quote.txt")
      << "Dear customer, we send the ABC quote today. Please check the abc price list.";
  auto form = MakeForm();
  Search(*form, "abc");
  ASSERT_EQ(form->results->Count(), 1);
  const QModelIndex cell = form->results->index(0, ResultModel::kSnippet);
  // The cell's text is the snippet as it was; only the drawing marks it.
  EXPECT_EQ(cell.data().toString(), U("send the ABC quote today. Please check the abc price list."));
  EXPECT_EQ(cell.data(Qt::ToolTipRole).toString(), cell.data().toString());
  const QModelIndex path = form->results->index(0, ResultModel::kPath);
  EXPECT_EQ(path.data(Qt::ToolTipRole).toString(), QString::fromStdString((root_ / "docs" / "quote.txt").string()));

  // The mark's colour appears inside the snippet cell and nowhere else.
  const QImage shot = form->ListView3->viewport()->grab().toImage();
  const QRect snippetRect = form->ListView3->visualRect(cell);
  int inside = 0, outside = 0;
  for (int y = 0; y < shot.height(); ++y) {
    for (int x = 0; x < shot.width(); ++x) {
      if (shot.pixelColor(x, y) != QColor(0xFF, 0xD8, 0x4D)) continue;
      (snippetRect.contains(x * shot.width() / form->ListView3->viewport()->width(), y) ? inside : outside)++;
    }
  }
  EXPECT_GT(inside, 50);
  EXPECT_EQ(outside, 0);
}

TEST_F(DesktopUseTest, ContextMenuOpensTheFolderAndCopiesThePaths) {
  std::ofstream(root_ / "docs" / "memo1.txt") << "x";
  fs::create_directories(root_ / "docs" / "sub");
  std::ofstream(root_ / "docs" / "sub" / "memo2.txt") << "x";
  auto form = MakeForm();
  Search(*form, "memo");
  ASSERT_EQ(form->results->Count(), 2);
  form->results->Sort(ResultModel::kPath);

  std::unique_ptr<QMenu> empty(form->MakeResultMenu(nullptr));
  ASSERT_EQ(empty->actions().size(), 2);
  EXPECT_EQ(empty->actions()[0]->text(), U("フォルダを開く"));
  EXPECT_EQ(empty->actions()[1]->text(), U("パスをコピー"));
  EXPECT_FALSE(empty->actions()[0]->isEnabled());

  form->ListView3->selectAll();
  std::unique_ptr<QMenu> menu(form->MakeResultMenu(nullptr));
  ASSERT_TRUE(menu->actions()[0]->isEnabled());
  menu->actions()[0]->trigger();
  EXPECT_EQ(folders_, QStringList{QString::fromStdString((root_ / "docs").string())});
  menu->actions()[1]->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            QString::fromStdString((root_ / "docs" / "memo1.txt").string() + "\n" +
                                   (root_ / "docs" / "sub" / "memo2.txt").string()));
}

TEST_F(DesktopUseTest, DroppedFoldersAreAddedAndFilesIgnored) {
  auto form = MakeForm();
  std::ofstream(root_ / "docs" / "file.txt") << "x";
  const QString docs = QString::fromStdString((root_ / "docs").string());
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(docs), QUrl::fromLocalFile(docs + "/file.txt"),
                QUrl(U("https://example.com/")), QUrl::fromLocalFile(U("/"))});
  QWidget* target = form->ListView2->viewport();
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  EXPECT_TRUE(drop.isAccepted());
  ASSERT_EQ(form->ListView2->topLevelItemCount(), 2);
  EXPECT_EQ(form->ListView2->topLevelItem(0)->text(0), docs + "/");
  EXPECT_EQ(form->ListView2->topLevelItem(1)->text(0), U("/"));

  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(docs + "/file.txt")});
  QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &refused);
  EXPECT_FALSE(refused.isAccepted());
}

TEST_F(DesktopUseTest, SizeAndColumnWidthsComeBackBesideTheOtherKeys) {
  {
    std::ofstream(root_ / "data" / "kuribo.ini") << "[COMMON]\nKEY=abc\nDIR=\nTYP=.txt\n";
    auto form = MakeForm();
    form->resize(1000, 700);
    form->ListView3->setColumnWidth(ResultModel::kSnippet, 420);
    form->close();
  }
  const std::string ini = (root_ / "data" / "kuribo.ini").string();
  EXPECT_EQ(ReadSettingsKey(ini, "KEY"), "abc");
  EXPECT_EQ(ReadSettingsKey(ini, "TYP"), ".txt");
  EXPECT_EQ(ReadSettingsKey(ini, "COLUMNS"), "56,150,50,50,200,420,150,80");
  {
    auto form = MakeForm();
    EXPECT_EQ(form->size(), QSize(1000, 700));
    EXPECT_EQ(form->ListView3->columnWidth(ResultModel::kSnippet), 420);
    EXPECT_EQ(form->ListView1->topLevelItemCount(), 1);
    EXPECT_TRUE(form->CheckBox7->isChecked());
    // The keywords panel takes what the wider window gives.
    EXPECT_EQ(form->Splitter->sizes().value(2), 450);
  }
  // Values that make no window are ignored.
  for (const char* bad : {"0,0,10,10", "a,b,c,d", "0,0,99999,700", "1,2,3"}) {
    std::ofstream(root_ / "data" / "kuribo.ini")
        << "[COMMON]\nWINDOW=" << bad << "\nCOLUMNS=1,2\n";
    auto form = MakeForm();
    EXPECT_EQ(form->size(), QSize(870, 640)) << bad;
    EXPECT_EQ(form->ListView3->columnWidth(ResultModel::kSnippet), 335);
  }
}

TEST(ProgramDirectory, BesideTheExecutableElseTheInstalledShareFolder) {
  const fs::path root = fs::temp_directory_path() / ("pd_" + std::to_string(getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "usr/bin");
  fs::create_directories(root / "opt/kuribo");
  const std::string bin = (root / "usr/bin").string() + "/";
  EXPECT_EQ(ProgramDirectoryFor(bin), bin);  // no share folder: beside the executable
  fs::create_directories(root / "usr/share/kuribo");
  EXPECT_EQ(ProgramDirectoryFor(bin), (root / "usr/share/kuribo").string() + "/");
  std::ofstream(root / "usr/bin/cmap.dat") << "x";  // a portable copy wins
  EXPECT_EQ(ProgramDirectoryFor(bin), bin);
  const std::string opt = (root / "opt/kuribo").string() + "/";
  EXPECT_EQ(ProgramDirectoryFor(opt), opt);
  fs::remove_all(root);
}

TEST_F(DesktopUseTest, ScreenshotAfterASearchWithMarkedHits) {
  if (!QFontDatabase::families().contains(U("IPAPGothic"))) {
    GTEST_SKIP() << "IPAPGothic (fonts-ipafont-gothic) is not installed";
  }
  const std::string sentence = "お客様へ本日見積書を送付いたしました。見積の内容をご確認ください。";
  std::ofstream(root_ / "docs" / "見積依頼.txt") << Utf8ToSjis(sentence);
  std::ofstream(root_ / "docs" / "報告.txt") << "本日の見積は ﾐﾂﾓﾘ 欄にあります。見積書番号 1,234。";
  auto form = MakeForm();
  Search(*form, "見積");
  ASSERT_EQ(form->results->Count(), 2);
  const QString out = QString::fromUtf8(KURIBO_BIN_DIR "/../window_hits.png");
  ASSERT_TRUE(form->grab().save(out));
  EXPECT_FALSE(QImage(out).isNull());
}

TEST_F(DesktopUseTest, ScreenshotOfTheRealDocumentsWithEveryTypeTicked) {
  const fs::path corpus = KURIBO_CORPUS_DIR;
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus folder at " << corpus;
  auto form = MakeForm();
  const QRect before = form->geometry();
  for (QCheckBox* box : form->typeBoxes) box->setChecked(true);
  form->Edit1->setText(U("テキスト"));
  form->Button1Click();
  form->Edit1->setText(U("漢字"));
  form->Button1Click();
  form->ListView2->addTopLevelItem(
      new QTreeWidgetItem(QStringList{QString::fromStdString(fs::canonical(corpus).string() + "/")}));
  form->Button5Click();
  QEventLoop loop;
  QObject::connect(form.get(), &TForm1::SearchFinished, &loop, &QEventLoop::quit);
  QTimer::singleShot(300000, &loop, &QEventLoop::quit);
  if (form->Running()) loop.exec();
  QCoreApplication::processEvents();
  EXPECT_GT(form->results->Count(), 3);
  EXPECT_EQ(form->geometry(), before);
  form->results->Sort(ResultModel::kHits);
  ASSERT_TRUE(form->grab().save(QString::fromUtf8(KURIBO_BIN_DIR "/../window_corpus.png")));
}

}  // namespace
}  // namespace kuribo
