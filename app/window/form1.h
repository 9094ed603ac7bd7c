// The main window: keywords, directories and file types on top, the button
// bar, the result list and the status bar. The search itself runs on a worker
// thread; its rows and progress come back to this thread in batches.
#pragma once

#include <QMainWindow>
#include <QUrl>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/search.h"
#include "extract/context.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTableView;
class QTreeWidget;
class QTreeWidgetItem;
class QMenu;

namespace kuribo {

class ResultModel;
class ElidedLabel;
class HitDelegate;

struct FormOptions {
  // Ends in "/"; empty: the directory of the running executable.
  QString programDir;
  // Where the settings file and the exports go; empty: chosen from programDir.
  QString dataDir;
  // Extraction contexts (workers); 0: one per hardware thread.
  unsigned workers = 0;
};

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  explicit TForm1(FormOptions options = {}, QWidget* parent = nullptr);
  ~TForm1() override;

  // What the window asks of the user and the desktop; tests put their own in.
  std::function<void(const QString& text)> showMessage;
  std::function<bool(const QString& text, const QString& caption)> confirm;
  std::function<void(const QString& text)> showError;
  std::function<QString()> chooseDirectory;
  std::function<bool(const QString& path)> openFile;
  std::function<bool(const QString& dir)> openFolder;
  // Runs on the search thread at each file event, before the window hears of
  // it (tests hold a run here).
  std::function<void(size_t index)> workerFileHook;

  // Keywords.
  QLabel* Label1;
  QLabel* KeywordNote;  // why a keyword was refused
  QLineEdit* Edit1;
  QPushButton* Button1;
  QPushButton* Button2;
  QTreeWidget* ListView1;
  // Directories.
  QLabel* Label2;
  QPushButton* Button3;
  QPushButton* Button4;
  QTreeWidget* ListView2;
  // File types.
  QLabel* Label3;
  QGroupBox* GroupBox1;
  QCheckBox* CheckBox1;
  QCheckBox* CheckBox2;
  QCheckBox* CheckBox3;
  QCheckBox* CheckBox4;
  QCheckBox* CheckBox5;
  QCheckBox* CheckBox6;
  QCheckBox* CheckBox7;
  QCheckBox* CheckBox8;
  QCheckBox* CheckBox9;
  QCheckBox* CheckBox10;
  QCheckBox* CheckBox11;
  QCheckBox* CheckBox12;
  QCheckBox* CheckBox13;
  QLabel* Label4;
  QLineEdit* Edit2;
  std::array<QCheckBox*, kTypeBoxes> typeBoxes{};
  // Button bar.
  QPushButton* Button5;   // 検索開始
  QPushButton* Button10;  // 中止
  QPushButton* Button6;   // 削除
  QPushButton* Button7;   // 全選択
  QPushButton* Button8;   // 全解除
  QPushButton* Button9;   // CSV出力
  // Results and status.
  QTableView* ListView3;
  ResultModel* results;
  QStatusBar* StatusBar1;
  ElidedLabel* statusText;
  HitDelegate* hitDelegate;
  QProgressBar* ProgressBar1;
  QSplitter* Splitter;

  QString ProgramDir() const { return programDir_; }
  QString DataDir() const { return dataDir_; }
  QString SettingsPath() const;
  QString StatusText() const;
  bool Running() const { return worker_.joinable(); }
  bool StopRequested() const { return stop_.load(); }
  // The file the last export wrote (empty when none).
  QString LastExport() const { return lastExport_; }
  size_t ContextCount() const { return contexts_.size(); }

 public slots:
  void FormCreate();
  void FormShow();
  void FormCloseQuery();
  void FormClose();

  void LoadSettings();
  bool SaveSettings();

  bool Edit1KeyPress(int key);
  void Button1Click();
  void Button2Click();
  void ListView1SelectItem();
  void ListView1ColumnClick();
  void Button3Click();
  void Button4Click();
  void ListView2SelectItem();
  void ListView2ColumnClick();
  void Edit2Exit();

  void Button5Click();
  void Button10Click();

  void ListView3ColumnClick(int column);
  void ListView3DblClick();
  void ListView3Click();
  void Button6Click();
  void Button7Click();
  void Button8Click();
  void Button9Click();

  void OpenResult();
  bool ExportCsv();

  // The result list's context menu and what it offers for the selected rows.
  QMenu* MakeResultMenu(QWidget* parent);
  void OpenResultFolder();
  void CopyResultPaths();
  // Directories dropped onto ListView2 are added as Button3 adds them; other
  // things dropped are ignored. Returns how many were added.
  int AddDroppedDirectories(const QList<QUrl>& urls);

 signals:
  // A run ended (finished or stopped) and its rows are all in the list.
  void SearchFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void SetStatus(const QString& text);
  void ShowTickCount();
  void SetKeywordNote(const QString& text);
  void AddKeywordItem(const QString& caption);
  void AddDirectoryItem(const QString& caption);
  std::vector<std::string> SjisKeywords() const;
  void SortCaptions(QTreeWidget* list, bool asShiftJis);
  std::vector<int> SelectedResultRows() const;
  void RestoreGeometry();

  // The worker's side: events are gathered here and handed over by Flush.
  void PostFlush();
  void Flush();
  void Finish(unsigned generation, SearchSummary summary);
  void StopAndJoin();

  QString programDir_;
  QString dataDir_;
  unsigned workers_ = 0;
  bool shown_ = false;
  QString lastExport_;
  bool settingsTooLong_ = false;  // the last save holds lists that will not read back whole

  std::vector<std::unique_ptr<ExtractionContext>> contexts_;
  std::thread worker_;
  std::atomic<bool> stop_{false};
  unsigned generation_ = 0;

  std::mutex pendingMutex_;
  std::vector<ResultRow> pendingRows_;
  QString pendingStatus_;
  size_t pendingIndex_ = 0;
  size_t pendingTotal_ = 0;
  bool pendingWalkDone_ = false;
  bool pendingProgress_ = false;
  bool flushQueued_ = false;
};

}  // namespace kuribo
