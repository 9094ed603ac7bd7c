// The real window, driven on the offscreen platform.
#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "app/settings.h"
#include "app/window/form1.h"
#include "app/window/result_model.h"
#include "encoding/sjis.h"

namespace kuribo {
namespace {

namespace fs = std::filesystem;

QString U(const char* s) { return QString::fromUtf8(s); }

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& p, size_t size, char fill = 'x') {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << std::string(size, fill);
}

QStringList Captions(QTreeWidget* list) {
  QStringList out;
  for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(0);
  return out;
}

void PressEnter(QWidget* w) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
}

void LeaveFocus(QWidget* w) {
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(w, &out);
}

// Waits for the run in progress to end. The cap only guards against a hang.
void WaitForRun(TForm1& form) {
  if (!form.Running()) return;
  QEventLoop loop;
  QObject::connect(&form, &TForm1::SearchFinished, &loop, &QEventLoop::quit);
  QTimer::singleShot(300000, &loop, &QEventLoop::quit);
  loop.exec();
}

void ProcessUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 300000 && !done(); ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  }
}

ResultRow MakeRow(const std::string& name, int hits, uint64_t size) {
  ResultRow r;
  r.path = "/d/" + name;
  r.name = name;
  size_t dot = name.rfind('.');
  r.type = dot == std::string::npos ? "" : name.substr(dot);
  r.hits = hits;
  r.sjisPath = "/d/" + name;
  r.date = "2008/03/01  09:05:07";
  r.size = size;
  return r;
}

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The test folder's own path must not hold the keyword "memo".
    root_ = fs::temp_directory_path() /
            ("kw_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    program_ = root_ / "bin";
    data_ = root_ / "data";
    docs_ = root_ / "docs";
    fs::create_directories(program_);
    fs::create_directories(data_);
    fs::create_directories(docs_);
  }
  void TearDown() override { fs::remove_all(root_); }

  std::unique_ptr<TForm1> MakeForm(bool show = true) {
    FormOptions o;
    o.programDir = QString::fromStdString(program_.string() + "/");
    o.dataDir = QString::fromStdString(data_.string() + "/");
    o.workers = 2;
    auto form = std::make_unique<TForm1>(o);
    form->showMessage = [this](const QString& t) { messages_ << t; };
    form->showError = [this](const QString& t) { errors_ << t; };
    form->confirm = [this](const QString& text, const QString& caption) {
      confirms_ << text + "|" + caption;
      return confirmAnswer_;
    };
    form->chooseDirectory = [this] { return chosen_; };
    form->openFile = [this](const QString& p) {
      opened_ << p;
      return openResult_;
    };
    if (show) form->show();
    return form;
  }

  void WriteSettings(const std::string& body) {
    std::ofstream out(data_ / "kuribo.ini", std::ios::binary | std::ios::trunc);
    out << body;
  }

  // The documents of the search tests: four files whose path holds "memo".
  void MakeDocs() {
    WriteFile(docs_ / "memo_a.txt", 10);
    WriteFile(docs_ / "memo_memo_memo.txt", 0);
    WriteFile(docs_ / "sub" / "memo.TXT", 300);
    WriteFile(docs_ / "plain.txt", 20);
    WriteFile(docs_ / "memo.pdf", 7);  // .pdf is not ticked
    WriteFile(docs_ / "memo.jpg", 5);  // reached through the other-extensions box
    const struct timeval times[2] = {{1204362307, 0}, {1204362307, 0}};
    utimes((docs_ / "memo_a.txt").c_str(), times);
  }

  void SetUpSearch(TForm1& form) {
    form.Edit1->setText(U("memo"));
    form.Button1Click();
    form.ListView2->addTopLevelItem(
        new QTreeWidgetItem(QStringList{QString::fromStdString(docs_.string() + "/")}));
    form.CheckBox7->setChecked(true);
    form.Edit2->setText(U(".bmp ; .jpg"));
  }

  int RowOf(TForm1& form, const std::string& name) {
    for (int i = 0; i < form.results->Count(); ++i) {
      if (form.results->Row(i).name == name) return i;
    }
    return -1;
  }

  QString Cell(TForm1& form, int row, int column) {
    return form.results->data(form.results->index(row, column), Qt::DisplayRole).toString();
  }

  fs::path root_, program_, data_, docs_;
  QStringList messages_, errors_, confirms_, opened_;
  bool confirmAnswer_ = true;
  bool openResult_ = true;
  QString chosen_;
};

// --- start-up ----------------------------------------------------------------------

TEST_F(FormTest, StartsEmptyWithoutSettingsFile) {
  auto form = MakeForm();
  EXPECT_EQ(form->windowTitle(), U("栗坊"));
  EXPECT_EQ(form->size(), QSize(870, 640));
  QCoreApplication::processEvents();
  EXPECT_EQ(form->Splitter->height(), 233);
  EXPECT_EQ(form->Splitter->geometry().top(), 0);
  EXPECT_EQ(form->ListView3->geometry().top(), 233 + 41);
  EXPECT_EQ(form->Splitter->handleWidth(), 3);
  EXPECT_EQ(form->Splitter->sizes().value(1), 210);
  EXPECT_EQ(form->Splitter->sizes().value(2), 450);
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 0);
  EXPECT_EQ(form->ListView2->topLevelItemCount(), 0);
  for (QCheckBox* box : form->typeBoxes) EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(form->Edit2->text(), U(""));
  EXPECT_FALSE(form->Button2->isEnabled());
  EXPECT_FALSE(form->Button4->isEnabled());
  EXPECT_FALSE(form->Button6->isEnabled());
  EXPECT_TRUE(form->Button9->isEnabled());
  EXPECT_FALSE(form->Button10->isEnabled());
  EXPECT_EQ(form->ContextCount(), 2u);
  EXPECT_EQ(form->CheckBox11->text(), U(".docx/.docm (Microsoft Word)  "));
  EXPECT_EQ(form->Edit2->toolTip(),
            U("ファイル名のみの検索\u3000\u3000複数の場合「;」で区分 (例 「.bmp ; .jpg」)"));
  EXPECT_EQ(form->results->headerData(5, Qt::Horizontal, Qt::DisplayRole).toString(), U("検索結果"));
  EXPECT_EQ(form->ListView3->columnWidth(5), 335);
  EXPECT_EQ(form->ListView3->font().pixelSize(), 13);
  EXPECT_EQ(form->font().pixelSize(), 15);
  // Loaded nothing, wrote nothing.
  EXPECT_FALSE(fs::exists(data_ / "kuribo.ini"));
}

TEST_F(FormTest, FontFallsBackThroughTheFamilyList) {
  const QStringList wanted = {U("MS PGothic"), U("IPAPGothic"), U("Noto Sans CJK JP")};
  const QStringList installed = QFontDatabase::families();
  bool any = false;
  for (const QString& f : wanted) any = any || installed.contains(f);
  if (!any) GTEST_SKIP() << "none of the Japanese fonts is installed";
  auto form = MakeForm();
  EXPECT_TRUE(wanted.contains(QFontInfo(form->font()).family())) << QFontInfo(form->font()).family().toStdString();
  EXPECT_TRUE(wanted.contains(QFontInfo(form->ListView3->font()).family()));
}

TEST_F(FormTest, UpperCaseTypeGoesToTheOtherBox) {
  WriteSettings("[COMMON]\nTYP=.DOC\n");
  auto form = MakeForm();
  for (QCheckBox* box : form->typeBoxes) EXPECT_FALSE(box->isChecked());
  EXPECT_EQ(form->Edit2->text(), U(".DOC"));
}

TEST_F(FormTest, KnownTypeTicksItsBoxAndTheRestJoinTheOtherBox) {
  WriteSettings("[COMMON]\nKEY=a;;;;b\nTYP=.pdf;;.bmp;;.jpg\n");
  auto form = MakeForm();
  EXPECT_TRUE(form->CheckBox4->isChecked());
  int ticked = 0;
  for (QCheckBox* box : form->typeBoxes) ticked += box->isChecked();
  EXPECT_EQ(ticked, 1);
  EXPECT_EQ(form->Edit2->text(), U(".bmp ; .jpg"));
  EXPECT_EQ(Captions(form->ListView1), (QStringList{"a", "", "b"}));
}

TEST_F(FormTest, KeywordsDirectoriesAndTicksSurviveARestart) {
  chosen_ = QString::fromStdString(docs_.string());
  {
    auto form = MakeForm();
    form->Edit1->setText(U("abc"));
    PressEnter(form->Edit1);
    form->Edit1->setText(U("見積"));
    PressEnter(form->Edit1);
    form->Button3Click();
    form->CheckBox1->setChecked(true);
    form->CheckBox11->setChecked(true);
    form->Edit2->setText(U(".bmp ; .jpg"));
    form->close();
  }
  const std::string saved = ReadAll(data_ / "kuribo.ini");
  // The window's own keys (its place, the column widths) follow the three.
  const std::string three = "[COMMON]\nKEY=abc;;見積\nDIR=" + docs_.string() +
                            "/\nTYP=.doc;;.docx;;.docm;;.bmp;;.jpg\n";
  EXPECT_EQ(saved.substr(0, three.size()), three);
  EXPECT_NE(saved.find("\nWINDOW=", three.size() - 1), std::string::npos);
  auto again = MakeForm();
  EXPECT_EQ(Captions(again->ListView1), (QStringList{U("abc"), U("見積")}));
  EXPECT_EQ(Captions(again->ListView2), QStringList{QString::fromStdString(docs_.string() + "/")});
  EXPECT_TRUE(again->CheckBox1->isChecked());
  EXPECT_TRUE(again->CheckBox11->isChecked());
  EXPECT_FALSE(again->CheckBox2->isChecked());
  EXPECT_EQ(again->Edit2->text(), U(".bmp ; .jpg"));
}

TEST_F(FormTest, OtherBoxWithoutBlanksIsSavedAsTwoEntries) {
  {
    auto form = MakeForm();
    form->Edit2->setText(U(".bmp;.jpg"));
    form->close();
  }
  EXPECT_NE(ReadAll(data_ / "kuribo.ini").find("TYP=.bmp;;.jpg\n"), std::string::npos);
  auto again = MakeForm();
  EXPECT_EQ(again->Edit2->text(), U(".bmp ; .jpg"));
}

TEST_F(FormTest, OneTwoExtensionBoxSavesBothExtensions) {
  {
    auto form = MakeForm();
    form->CheckBox12->setChecked(true);
    form->close();
  }
  EXPECT_NE(ReadAll(data_ / "kuribo.ini").find("TYP=.xlsx;;.xlsm\n"), std::string::npos);
}

TEST_F(FormTest, SaveFailureNamesTheFile) {
  fs::create_directories(data_ / "kuribo.ini");
  auto form = MakeForm();
  form->Edit1->setText(U("memo"));
  form->Button1Click();
  form->close();
  ASSERT_EQ(errors_.size(), 1);
  EXPECT_TRUE(errors_[0].contains(QString::fromStdString((data_ / "kuribo.ini").string())));
}

// --- list editing ------------------------------------------------------------------

TEST_F(FormTest, EnterAddsTrimmedKeywordOnceAndKeepsADuplicateInTheBox) {
  auto form = MakeForm();
  form->Edit1->setText(U(" abc "));
  PressEnter(form->Edit1);
  EXPECT_EQ(Captions(form->ListView1), QStringList{U("abc")});
  EXPECT_EQ(form->Edit1->text(), U(""));
  form->Edit1->setText(U(" abc "));
  PressEnter(form->Edit1);
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 1);
  EXPECT_EQ(form->Edit1->text(), U(" abc "));
  // Case matters to the duplicate test.
  form->Edit1->setText(U("ABC"));
  PressEnter(form->Edit1);
  EXPECT_EQ(Captions(form->ListView1), (QStringList{U("abc"), U("ABC")}));
  form->Edit1->setText(U("   "));
  PressEnter(form->Edit1);
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 2);
  EXPECT_TRUE(messages_.isEmpty());
}

TEST_F(FormTest, SelectingAKeywordCopiesItAndEnablesDelete) {
  auto form = MakeForm();
  for (const char* k : {"abc", "def"}) {
    form->Edit1->setText(U(k));
    form->Button1Click();
  }
  form->ListView1->topLevelItem(1)->setSelected(true);
  EXPECT_EQ(form->Edit1->text(), U("def"));
  EXPECT_TRUE(form->Button2->isEnabled());
  form->Button1Click();  // a duplicate now
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 2);
  form->Button2Click();
  EXPECT_EQ(Captions(form->ListView1), QStringList{U("abc")});
  EXPECT_FALSE(form->Button2->isEnabled());
}

TEST_F(FormTest, KeywordWithoutShiftJisFormOrTooLongIsRefusedWithANote) {
  auto form = MakeForm();
  form->Edit1->setText(U("abc\u00E9"));  // é has no Shift_JIS form
  form->Button1Click();
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 0);
  EXPECT_FALSE(form->KeywordNote->text().isEmpty());
  EXPECT_TRUE(form->KeywordNote->isVisible());
  EXPECT_EQ(form->Edit1->text(), U("abc\u00E9"));
  // However long the note, the panels keep their widths.
  QCoreApplication::processEvents();
  EXPECT_EQ(form->Splitter->sizes().value(1), 210);
  EXPECT_EQ(form->Splitter->sizes().value(2), 450);
  form->grab().save(QString::fromUtf8(KURIBO_BIN_DIR "/../window_keyword_refused.png"));
  form->Edit1->setText(QString(64, QChar(0x898B)));  // 128 bytes in Shift_JIS
  form->Button1Click();
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 0);
  form->Edit1->setText(QString(63, QChar(0x898B)) + U("a"));  // 127 bytes
  form->Button1Click();
  EXPECT_EQ(form->ListView1->topLevelItemCount(), 1);
  EXPECT_TRUE(form->KeywordNote->text().isEmpty());
  EXPECT_FALSE(form->KeywordNote->isVisible());
}

TEST_F(FormTest, KeywordsSortByShiftJisBytes) {
  auto form = MakeForm();
  // In UTF-8 見 would come before Ａ; in Shift_JIS Ａ (82 60) comes before 見 (8C A9).
  for (const char* k : {"見", "Ａ", "b", "a"}) {
    form->Edit1->setText(U(k));
    form->Button1Click();
  }
  form->ListView1ColumnClick();
  EXPECT_EQ(Captions(form->ListView1), (QStringList{U("a"), U("b"), U("Ａ"), U("見")}));
  form->ListView1ColumnClick();  // same direction again
  EXPECT_EQ(Captions(form->ListView1), (QStringList{U("a"), U("b"), U("Ａ"), U("見")}));
}

TEST_F(FormTest, ChosenDirectoryKeepsItsCaseAndGetsASlash) {
  auto form = MakeForm();
  chosen_ = U("/tmp/Data/Docs");
  form->Button3Click();
  chosen_ = U("/");
  form->Button3Click();
  chosen_ = QString();  // cancelled
  form->Button3Click();
  form->Button3Click();
  chosen_ = U("/tmp/Data/Docs");
  form->Button3Click();  // duplicates are allowed
  EXPECT_EQ(Captions(form->ListView2), (QStringList{U("/tmp/Data/Docs/"), U("/"), U("/tmp/Data/Docs/")}));
  form->ListView2ColumnClick();
  EXPECT_EQ(Captions(form->ListView2), (QStringList{U("/"), U("/tmp/Data/Docs/"), U("/tmp/Data/Docs/")}));
  EXPECT_FALSE(form->Button4->isEnabled());
  form->ListView2->topLevelItem(0)->setSelected(true);
  EXPECT_TRUE(form->Button4->isEnabled());
  form->Button4Click();
  EXPECT_EQ(form->ListView2->topLevelItemCount(), 2);
}

TEST_F(FormTest, LeavingTheOtherBoxNormalisesIt) {
  auto form = MakeForm();
  form->Edit2->setText(U(".bmp;.jpg ;;  .png"));
  LeaveFocus(form->Edit2);
  EXPECT_EQ(form->Edit2->text(), U(".bmp ; .jpg ;  ; .png"));
}

// --- search run --------------------------------------------------------------------

TEST_F(FormTest, NoKeywordOrNoDirectoryShowsAMessageAndSavesNothing) {
  auto form = MakeForm();
  form->Button5Click();
  EXPECT_EQ(messages_, QStringList{U("キーワードが設定されていません")});
  form->Edit1->setText(U("memo"));
  form->Button1Click();
  form->Button5Click();
  EXPECT_EQ(messages_.size(), 2);
  EXPECT_EQ(messages_.value(1), U("対象ディレクトリーが設定されていません"));
  EXPECT_FALSE(form->Running());
  EXPECT_FALSE(fs::exists(data_ / "kuribo.ini"));
}

TEST_F(FormTest, SearchListsTheFilesWhosePathHoldsTheKeyword) {
  MakeDocs();
  auto form = MakeForm();
  SetUpSearch(*form);
  form->Button5Click();
  EXPECT_TRUE(form->Running());
  EXPECT_FALSE(form->Button6->isEnabled());
  EXPECT_FALSE(form->Button9->isEnabled());
  EXPECT_TRUE(form->Button10->isEnabled());
  WaitForRun(*form);
  ASSERT_FALSE(form->Running());
  EXPECT_EQ(form->StatusText(), U("4個のファイルを発見"));
  EXPECT_TRUE(form->Button6->isEnabled());
  EXPECT_TRUE(form->Button9->isEnabled());
  EXPECT_FALSE(form->Button10->isEnabled());
  ASSERT_EQ(form->results->Count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Cell(*form, i, ResultModel::kNo), QString::number(i + 1));

  const int a = RowOf(*form, "memo_a.txt");
  ASSERT_GE(a, 0);
  EXPECT_EQ(Cell(*form, a, ResultModel::kType), U(".txt"));
  EXPECT_EQ(Cell(*form, a, ResultModel::kHits), U("1"));
  EXPECT_EQ(Cell(*form, a, ResultModel::kPath), QString::fromStdString((docs_ / "memo_a.txt").string()));
  EXPECT_EQ(Cell(*form, a, ResultModel::kDate), U("2008/03/01  09:05:07"));
  EXPECT_EQ(Cell(*form, a, ResultModel::kSize), U("10"));
  const int upper = RowOf(*form, "memo.TXT");
  ASSERT_GE(upper, 0);
  EXPECT_EQ(Cell(*form, upper, ResultModel::kType), U(".TXT"));
  EXPECT_GE(RowOf(*form, "memo.jpg"), 0);
  EXPECT_EQ(RowOf(*form, "memo.pdf"), -1);
  EXPECT_EQ(RowOf(*form, "plain.txt"), -1);
  EXPECT_EQ(Cell(*form, RowOf(*form, "memo_memo_memo.txt"), ResultModel::kHits), U("3"));
  // The run saved the settings first.
  EXPECT_NE(ReadAll(data_ / "kuribo.ini").find("KEY=memo\n"), std::string::npos);

  // A second run replaces the rows.
  form->Button5Click();
  WaitForRun(*form);
  EXPECT_EQ(form->results->Count(), 4);

  const QPixmap shot = form->grab();
  EXPECT_FALSE(shot.isNull());
  shot.save(QString::fromUtf8(KURIBO_BIN_DIR "/../window_after_search.png"));
}

TEST_F(FormTest, KeywordsInTheTextShowTheirSnippet) {
  // The same sentence in Shift_JIS and UTF-8: both are found by their contents.
  const std::string sentence = "お客様へ本日見積書を送付いたしました。ご確認ください。";
  std::ofstream(docs_ / "sjis.txt", std::ios::binary) << kuribo::Utf8ToSjis(sentence);
  std::ofstream(docs_ / "utf8.txt", std::ios::binary) << sentence;
  std::ofstream(docs_ / "other.txt", std::ios::binary) << "nothing here";
  auto form = MakeForm();
  form->Edit1->setText(U("見積"));
  form->Button1Click();
  form->ListView2->addTopLevelItem(
      new QTreeWidgetItem(QStringList{QString::fromStdString(docs_.string() + "/")}));
  form->CheckBox7->setChecked(true);
  form->Button5Click();
  WaitForRun(*form);
  ASSERT_EQ(form->results->Count(), 2);
  for (const char* name : {"sjis.txt", "utf8.txt"}) {
    const int row = RowOf(*form, name);
    ASSERT_GE(row, 0) << name;
    EXPECT_EQ(Cell(*form, row, ResultModel::kHits), U("1"));
    // The snippet starts ten bytes before the hit's second-to-last byte: after "お客".
    EXPECT_EQ(Cell(*form, row, ResultModel::kSnippet), QString::fromStdString(sentence.substr(6)));
  }
  EXPECT_EQ(form->StatusText(), U("2個のファイルを発見"));
  form->grab().save(QString::fromUtf8(KURIBO_BIN_DIR "/../window_snippets.png"));
}

TEST_F(FormTest, MissingDirectoryFindsNothing) {
  auto form = MakeForm();
  form->Edit1->setText(U("memo"));
  form->Button1Click();
  form->results->Append({MakeRow("old.txt", 1, 1)});
  form->ListView2->addTopLevelItem(new QTreeWidgetItem(QStringList{U("/nonexistent/kw/")}));
  form->Button5Click();
  WaitForRun(*form);
  EXPECT_EQ(form->results->Count(), 0);
  EXPECT_EQ(form->StatusText(), U("0個のファイルを発見"));
  EXPECT_TRUE(form->Button6->isEnabled());
  EXPECT_TRUE(form->Button9->isEnabled());
}

TEST_F(FormTest, NestedDirectoriesListAFileOnce) {
  MakeDocs();
  auto form = MakeForm();
  SetUpSearch(*form);
  form->ListView2->addTopLevelItem(
      new QTreeWidgetItem(QStringList{QString::fromStdString((docs_ / "sub").string() + "/")}));
  form->Button5Click();
  WaitForRun(*form);
  // The folder inside the one already chosen adds nothing: each file once.
  EXPECT_EQ(form->results->Count(), 4);
}

// The user's request is not lost because a copy of it could not be kept.
TEST_F(FormTest, SaveFailureIsShownAndTheSearchRunsAnyway) {
  MakeDocs();
  fs::create_directories(data_ / "kuribo.ini");
  auto form = MakeForm();
  SetUpSearch(*form);
  form->results->Append({MakeRow("old.txt", 1, 1)});
  form->Button5Click();
  WaitForRun(*form);
  EXPECT_EQ(form->results->Count(), 4);
  ASSERT_EQ(errors_.size(), 1);
  EXPECT_TRUE(errors_[0].contains(U("kuribo.ini")));
}

TEST_F(FormTest, StopEndsARunAndKeepsItsRows) {
  for (int i = 0; i < 40; ++i) WriteFile(docs_ / ("memo" + std::to_string(i) + ".txt"), 1);
  auto form = MakeForm();
  SetUpSearch(*form);
  std::atomic<bool> held{false};
  TForm1* f = form.get();
  form->workerFileHook = [&held, f](size_t index) {
    if (index != 3) return;
    held = true;
    while (!f->StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  form->Button5Click();
  ProcessUntil([&] { return held.load() && form->results->Count() == 3; });
  ASSERT_TRUE(held.load());
  // The rows found so far are listed while the run goes on.
  EXPECT_EQ(form->results->Count(), 3);
  EXPECT_TRUE(form->StatusText().startsWith(U("ファイル検索中。。。(3/"))) << form->StatusText().toStdString();
  EXPECT_TRUE(form->Running());
  // A second start while the run is held does nothing.
  form->Button5Click();
  EXPECT_TRUE(messages_.isEmpty());
  EXPECT_TRUE(form->Running());
  form->Button10Click();
  WaitForRun(*form);
  ASSERT_FALSE(form->Running());
  const int rows = form->results->Count();
  EXPECT_GT(rows, 0);
  EXPECT_LT(rows, 40);
  EXPECT_EQ(form->StatusText(), QString::number(rows) + U("個のファイルを発見（検索を中止しました）"));
  EXPECT_TRUE(form->Button6->isEnabled());
  EXPECT_FALSE(form->Button10->isEnabled());
}

TEST_F(FormTest, ClosingDuringARunStopsItFirst) {
  for (int i = 0; i < 10; ++i) WriteFile(docs_ / ("memo" + std::to_string(i) + ".txt"), 1);
  auto form = MakeForm();
  SetUpSearch(*form);
  std::atomic<bool> held{false};
  TForm1* f = form.get();
  form->workerFileHook = [&held, f](size_t index) {
    if (index != 1) return;
    held = true;
    while (!f->StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  form->Button5Click();
  ProcessUntil([&] { return held.load(); });
  form->close();
  EXPECT_FALSE(form->Running());
  EXPECT_NE(ReadAll(data_ / "kuribo.ini").find("KEY=memo\n"), std::string::npos);
  // Events of the ended run that were still queued change nothing.
  QCoreApplication::processEvents();
  form.reset();
  QCoreApplication::processEvents();
}

// --- result list -------------------------------------------------------------------

TEST_F(FormTest, SortByHitsAndBySizeRenumbers) {
  MakeDocs();
  auto form = MakeForm();
  SetUpSearch(*form);
  form->Button5Click();
  WaitForRun(*form);
  ASSERT_EQ(form->results->Count(), 4);

  form->ListView3ColumnClick(ResultModel::kHits);
  EXPECT_EQ(form->results->Row(0).name, "memo_memo_memo.txt");
  form->ListView3ColumnClick(ResultModel::kHits);  // the same direction again
  EXPECT_EQ(form->results->Row(0).name, "memo_memo_memo.txt");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Cell(*form, i, ResultModel::kNo), QString::number(i + 1));

  form->ListView3ColumnClick(ResultModel::kSize);
  EXPECT_EQ(form->results->Row(0).name, "memo.TXT");
  EXPECT_EQ(form->results->Row(1).name, "memo_a.txt");
  EXPECT_EQ(form->results->Row(2).name, "memo.jpg");
  EXPECT_EQ(form->results->Row(3).name, "memo_memo_memo.txt");  // size 0 last
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Cell(*form, i, ResultModel::kNo), QString::number(i + 1));

  form->ListView3ColumnClick(ResultModel::kName);
  EXPECT_EQ(form->results->Row(0).name, "memo.TXT");  // "T" (0x54) before "j" (0x6A)
  EXPECT_EQ(form->results->Row(1).name, "memo.jpg");
}

TEST_F(FormTest, SortKeepsTheSelectionOnItsRow) {
  auto form = MakeForm();
  form->results->Append({MakeRow("a.txt", 1, 5), MakeRow("b.txt", 9, 1)});
  form->ListView3->selectRow(0);
  form->ListView3ColumnClick(ResultModel::kHits);
  const QModelIndexList sel = form->ListView3->selectionModel()->selectedRows();
  ASSERT_EQ(sel.size(), 1);
  EXPECT_EQ(form->results->Row(sel[0].row()).name, "a.txt");
}

TEST_F(FormTest, ByteWiseSortOrdersShiftJisNotUtf8) {
  auto form = MakeForm();
  // ｱ (B1) sorts after 見 (8C A9) in Shift_JIS although its UTF-8 form sorts after too;
  // Ａ (82 60) sorts before 見 in Shift_JIS but after it in UTF-8.
  ResultRow x = MakeRow("x", 1, 1), y = MakeRow("y", 1, 1);
  x.snippet = Utf8ToSjis("見");
  y.snippet = Utf8ToSjis("Ａ");
  form->results->Append({x, y});
  form->ListView3ColumnClick(ResultModel::kSnippet);
  EXPECT_EQ(form->results->Row(0).name, "y");
}

TEST_F(FormTest, LargeListSortsAndTicksWhole) {
  auto form = MakeForm();
  std::vector<ResultRow> rows;
  for (int i = 0; i < 100000; ++i) rows.push_back(MakeRow("f" + std::to_string(i) + ".txt", i % 97, (uint64_t)i));
  form->results->Append(std::move(rows));
  form->ListView3ColumnClick(ResultModel::kSize);
  EXPECT_EQ(form->results->Row(0).size, 99999u);
  EXPECT_EQ(form->results->Row(99999).size, 0u);
  EXPECT_EQ(Cell(*form, 99999, ResultModel::kNo), U("100000"));
  form->Button7Click();
  EXPECT_EQ(form->StatusText(), U("100000/100000 選択"));
}

TEST_F(FormTest, TickCountFollowsTicksAndSelectAll) {
  auto form = MakeForm();
  form->Button7Click();
  EXPECT_EQ(form->StatusText(), U("0/0 選択"));
  std::vector<ResultRow> rows;
  for (int i = 0; i < 5; ++i) rows.push_back(MakeRow("f" + std::to_string(i), 1, 1));
  form->results->Append(std::move(rows));
  // Ticks set the way the view sets them.
  form->results->setData(form->results->index(1, 0), Qt::Checked, Qt::CheckStateRole);
  form->results->setData(form->results->index(3, 0), Qt::Checked, Qt::CheckStateRole);
  EXPECT_EQ(form->StatusText(), U("2/5 選択"));
  form->results->setData(form->results->index(3, 0), Qt::Unchecked, Qt::CheckStateRole);
  EXPECT_EQ(form->StatusText(), U("1/5 選択"));
  form->Button7Click();
  EXPECT_EQ(form->StatusText(), U("5/5 選択"));
  form->Button8Click();
  EXPECT_EQ(form->StatusText(), U("0/5 選択"));
}

TEST_F(FormTest, DeleteRemovesTickedFilesAndKeepsTheOneThatIsGone) {
  MakeDocs();
  auto form = MakeForm();
  SetUpSearch(*form);
  form->Button5Click();
  WaitForRun(*form);
  ASSERT_EQ(form->results->Count(), 4);
  for (const char* name : {"memo_a.txt", "memo_memo_memo.txt", "memo.TXT"}) {
    form->results->SetChecked(RowOf(*form, name), true);
  }
  // This one vanishes before the deletion.
  fs::remove(docs_ / "sub" / "memo.TXT");

  confirmAnswer_ = false;
  form->Button6Click();
  EXPECT_EQ(form->results->Count(), 4);
  EXPECT_TRUE(fs::exists(docs_ / "memo_a.txt"));

  confirmAnswer_ = true;
  form->Button6Click();
  EXPECT_EQ(confirms_.value(0), U("チェックしたファイルをすべて削除しますか?|削除"));
  EXPECT_FALSE(fs::exists(docs_ / "memo_a.txt"));
  EXPECT_FALSE(fs::exists(docs_ / "memo_memo_memo.txt"));
  EXPECT_TRUE(fs::exists(docs_ / "memo.jpg"));
  ASSERT_EQ(form->results->Count(), 2);
  const int gone = RowOf(*form, "memo.TXT");
  const int kept = RowOf(*form, "memo.jpg");
  ASSERT_GE(gone, 0);
  ASSERT_GE(kept, 0);
  EXPECT_TRUE(form->results->Checked(gone));
  EXPECT_FALSE(form->results->Checked(kept));
  EXPECT_EQ(Cell(*form, 0, ResultModel::kNo), U("1"));
  EXPECT_EQ(Cell(*form, 1, ResultModel::kNo), U("2"));
}

TEST_F(FormTest, DoubleClickOpensTheFirstSelectedRow) {
  auto form = MakeForm();
  form->results->Append({MakeRow("a.txt", 1, 1), MakeRow("b.txt", 1, 1)});
  form->ListView3DblClick();
  EXPECT_TRUE(opened_.isEmpty());
  form->ListView3->selectionModel()->select(form->results->index(1, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
  form->ListView3DblClick();
  EXPECT_EQ(opened_, QStringList{U("/d/b.txt")});
}

// --- CSV export ----------------------------------------------------------------------

TEST_F(FormTest, ExportWritesShiftJisLinesAndOpensTheFile) {
  auto form = MakeForm();
  for (const char* k : {"abc", "見,積"}) {
    form->Edit1->setText(U(k));
    form->Button1Click();
  }
  ResultRow row = MakeRow("a.txt", 2, 48640);
  row.snippet = Utf8ToSjis("he said \"hi\", 見積");
  form->results->Append({row});
  ASSERT_TRUE(form->ExportCsv());
  const QString path = form->LastExport();
  ASSERT_FALSE(path.isEmpty());
  EXPECT_TRUE(path.startsWith(QString::fromStdString(data_.string() + "/kuri_export")));
  EXPECT_TRUE(path.endsWith(U(".csv")));
  const std::string expected =
      "#,\"abc\",\"" + Utf8ToSjis("見,積") + "\",\r\n" +
      Utf8ToSjis("NO,ファイル名,タイプ,ヒット数,ファイルパス,検索結果,日付,ファイルサイズ") + "\r\n" +
      "1,\"a.txt\",\".txt\",\"2\",\"/d/a.txt\",\" he said  hi   " + Utf8ToSjis("見積") +
      " \",\"2008/03/01  09:05:07\",\"48640\",\r\n";
  EXPECT_EQ(ReadAll(path.toStdString()), expected);
  EXPECT_EQ(opened_, QStringList{path});
  EXPECT_EQ(form->StatusText(), U(""));
}

TEST_F(FormTest, ExportAfterASearchMatchesTheCommandLine) {
  const std::string cli = KURIBO_BIN_DIR "/kuribo-search";
  if (!fs::exists(cli)) GTEST_SKIP() << "kuribo-search is not built";
  MakeDocs();
  auto form = MakeForm();
  SetUpSearch(*form);
  form->Button5Click();
  WaitForRun(*form);
  ASSERT_EQ(form->results->Count(), 4);
  ASSERT_TRUE(form->ExportCsv());
  const fs::path cliCsv = root_ / "cli.csv";
  const std::string command = cli + " -k memo -t .txt -o '.bmp ; .jpg' --csv '" + cliCsv.string() +
                              "' '" + docs_.string() + "/' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(ReadAll(form->LastExport().toStdString()), ReadAll(cliCsv));
}

TEST_F(FormTest, ExportWithoutRowsHasTwoLinesAndReportsAFailedStart) {
  auto form = MakeForm();
  openResult_ = false;
  form->Button9Click();
  const std::string csv = ReadAll(form->LastExport().toStdString());
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2);
  EXPECT_EQ(form->StatusText(), U("Excel起動失敗"));
}

TEST_F(FormTest, TwoExportsInARowMakeTwoFiles) {
  auto form = MakeForm();
  ASSERT_TRUE(form->ExportCsv());
  const QString first = form->LastExport();
  ASSERT_TRUE(form->ExportCsv());
  const QString second = form->LastExport();
  EXPECT_NE(first, second);
  EXPECT_TRUE(fs::exists(first.toStdString()));
  EXPECT_TRUE(fs::exists(second.toStdString()));
}

TEST_F(FormTest, ExportThatCannotBeWrittenNamesTheFileAndOpensNothing) {
  auto form = MakeForm();
  fs::remove_all(data_);
  EXPECT_FALSE(form->ExportCsv());
  ASSERT_EQ(errors_.size(), 1);
  EXPECT_TRUE(errors_[0].contains(QString::fromStdString(data_.string() + "/kuri_export")));
  EXPECT_TRUE(opened_.isEmpty());
  EXPECT_NE(form->StatusText(), U("Excel起動失敗"));
}

}  // namespace
}  // namespace kuribo
