#include "app/window/form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "app/csv_export.h"
#include "app/dispatch.h"
#include "app/keywords.h"
#include "app/settings.h"
#include "app/window/desktop.h"
#include "app/window/elided_label.h"
#include "app/window/hit_delegate.h"
#include "app/window/result_model.h"
#include "encoding/sjis.h"
#include "platform/program_dir.h"

namespace kuribo {
namespace {

// The window's own keys in the settings file's section.
constexpr const char* kWindowKey = "WINDOW";    // x,y,width,height
constexpr const char* kColumnsKey = "COLUMNS";  // ListView3's widths, comma-separated

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

QFont FormFont(int pixels) {
  QFont f;
  f.setFamilies({U("MS PGothic"), U("IPAPGothic"), U("Noto Sans CJK JP")});
  f.setPixelSize(pixels);
  return f;
}

std::string ToBytes(const QString& s) { return s.toStdString(); }

QPushButton* MakeButton(const char* name, const char* caption, QWidget* parent) {
  auto* b = new QPushButton(U(caption), parent);
  b->setObjectName(U(name));
  b->setFixedSize(75, 25);
  b->setAutoDefault(false);
  return b;
}

QTreeWidget* MakeList(const char* name, const char* header, int width, QWidget* parent) {
  auto* list = new QTreeWidget(parent);
  list->setObjectName(U(name));
  list->setColumnCount(1);
  list->setHeaderLabels({U(header)});
  list->setRootIsDecorated(false);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setUniformRowHeights(true);
  list->header()->setStretchLastSection(false);
  list->header()->setSectionsClickable(true);
  list->header()->setSectionsMovable(false);
  list->setColumnWidth(0, width);
  return list;
}

}  // namespace

TForm1::TForm1(FormOptions options, QWidget* parent)
    : QMainWindow(parent),
      programDir_(options.programDir),
      dataDir_(options.dataDir),
      workers_(options.workers) {
  // Installed (data in PREFIX/share/kuribo, not beside the executable): the
  // settings and exports belong to the user, never to the installed folder.
  bool portable = true;
  if (programDir_.isEmpty()) {
    const std::string exeDir = ExecutableDirectory();
    const std::string dir = ProgramDirectoryFor(exeDir);
    portable = dir == exeDir;
    programDir_ = QString::fromStdString(dir);
  }
  if (!programDir_.endsWith(QLatin1Char('/'))) programDir_ += QLatin1Char('/');
  if (dataDir_.isEmpty()) dataDir_ = ChooseDataDirectory(programDir_, portable);
  if (!dataDir_.endsWith(QLatin1Char('/'))) dataDir_ += QLatin1Char('/');

  showMessage = [this](const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, windowTitle(), text, QMessageBox::Ok, this);
    box.exec();
  };
  confirm = [this](const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Ok | QMessageBox::Cancel,
                    this);
    return box.exec() == QMessageBox::Ok;
  };
  showError = [this](const QString& text) {
    QMessageBox box(QMessageBox::Critical, windowTitle(), text, QMessageBox::Ok, this);
    box.exec();
  };
  chooseDirectory = [this] {
    return QFileDialog::getExistingDirectory(this, U("フォルダを選択してください"), QDir::rootPath(),
                                             QFileDialog::ShowDirsOnly);
  };
  openFile = [](const QString& path) { return OpenWithAssociatedProgram(path); };
  openFolder = [](const QString& dir) { return QDesktopServices::openUrl(QUrl::fromLocalFile(dir)); };

  BuildControls();
  FormCreate();
}

TForm1::~TForm1() { StopAndJoin(); }

void TForm1::BuildControls() {
  setObjectName(U("Form1"));
  setWindowTitle(U("栗坊"));
  setFont(FormFont(15));

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  // A splitter resets its own maximum size from its children, so the fixed
  // height belongs to a panel around it.
  auto* top = new QWidget(central);
  top->setObjectName(U("Panel0"));
  top->setFixedHeight(233);
  auto* topLayout = new QVBoxLayout(top);
  topLayout->setContentsMargins(0, 0, 0, 0);
  Splitter = new QSplitter(Qt::Horizontal, top);
  Splitter->setObjectName(U("Splitter"));
  Splitter->setHandleWidth(3);
  Splitter->setChildrenCollapsible(false);
  topLayout->addWidget(Splitter);

  // Keywords.
  auto* keywordPanel = new QWidget(Splitter);
  keywordPanel->setObjectName(U("Panel1"));
  auto* kl = new QVBoxLayout(keywordPanel);
  kl->setContentsMargins(4, 4, 4, 4);
  kl->setSpacing(3);
  Label1 = new QLabel(U("キーワード"), keywordPanel);
  kl->addWidget(Label1);
  // The panel is narrow: the edit box gets a row of its own, the buttons the next.
  Edit1 = new QLineEdit(keywordPanel);
  Edit1->setObjectName(U("Edit1"));
  kl->addWidget(Edit1);
  // Why a keyword was refused, under the box it was typed in; wrapped, so that
  // a long note never widens the panel.
  KeywordNote = new QLabel(keywordPanel);
  KeywordNote->setObjectName(U("KeywordNote"));
  KeywordNote->setStyleSheet(U("color: #c00000;"));
  KeywordNote->setFont(FormFont(12));
  KeywordNote->setWordWrap(true);
  KeywordNote->setTextFormat(Qt::PlainText);
  KeywordNote->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Minimum);
  KeywordNote->hide();
  kl->addWidget(KeywordNote);
  auto* keyButtons = new QHBoxLayout;
  Button1 = MakeButton("Button1", "追加", keywordPanel);
  Button2 = MakeButton("Button2", "削除", keywordPanel);
  Button2->setEnabled(false);
  keyButtons->addWidget(Button1);
  keyButtons->addWidget(Button2);
  keyButtons->addStretch(1);
  kl->addLayout(keyButtons);
  ListView1 = MakeList("ListView1", "キーワード", 180, keywordPanel);
  kl->addWidget(ListView1, 1);

  // Directories.
  auto* dirPanel = new QWidget(Splitter);
  dirPanel->setObjectName(U("Panel2"));
  auto* dl = new QVBoxLayout(dirPanel);
  dl->setContentsMargins(4, 4, 4, 4);
  dl->setSpacing(3);
  Label2 = new QLabel(U("対象ディレクトリー"), dirPanel);
  dl->addWidget(Label2);
  auto* dirButtons = new QHBoxLayout;
  Button3 = MakeButton("Button3", "追加", dirPanel);
  Button4 = MakeButton("Button4", "削除", dirPanel);
  Button4->setEnabled(false);
  dirButtons->addWidget(Button3);
  dirButtons->addWidget(Button4);
  dirButtons->addStretch(1);
  dl->addLayout(dirButtons);
  ListView2 = MakeList("ListView2", "ディレクトリー", 200, dirPanel);
  // Folders dropped from a file manager; the list's own drag and drop stays off.
  ListView2->setAcceptDrops(true);
  ListView2->viewport()->setAcceptDrops(true);
  ListView2->viewport()->installEventFilter(this);
  dl->addWidget(ListView2, 1);

  // File types.
  auto* typePanel = new QWidget(Splitter);
  typePanel->setObjectName(U("Panel3"));
  auto* tl = new QVBoxLayout(typePanel);
  tl->setContentsMargins(2, 4, 2, 4);
  tl->setSpacing(3);
  Label3 = new QLabel(U("対象ファイルタイプ"), typePanel);
  tl->addWidget(Label3);
  GroupBox1 = new QGroupBox(typePanel);
  GroupBox1->setObjectName(U("GroupBox1"));
  auto* grid = new QGridLayout(GroupBox1);
  // Thirteen captions in two columns only just fit the panel's 450 pixels.
  grid->setContentsMargins(4, 4, 2, 4);
  grid->setHorizontalSpacing(2);
  grid->setVerticalSpacing(1);
  QCheckBox** boxes[kTypeBoxes] = {&CheckBox1, &CheckBox2,  &CheckBox3,  &CheckBox4, &CheckBox5,
                                   &CheckBox6, &CheckBox7,  &CheckBox8,  &CheckBox9, &CheckBox10,
                                   &CheckBox11, &CheckBox12, &CheckBox13};
  for (int i = 0; i < kTypeBoxes; ++i) {
    auto* box = new QCheckBox(U(kTypeBoxTable[(size_t)i].caption), GroupBox1);
    box->setObjectName(QStringLiteral("CheckBox%1").arg(i + 1));
    *boxes[i] = box;
    typeBoxes[(size_t)i] = box;
    grid->addWidget(box, i % 7, i / 7);
  }
  auto* otherRow = new QHBoxLayout;
  Label4 = new QLabel(U("その他："), GroupBox1);
  Edit2 = new QLineEdit(GroupBox1);
  Edit2->setObjectName(U("Edit2"));
  Edit2->setToolTip(U("ファイル名のみの検索\u3000\u3000複数の場合「;」で区分 (例 「.bmp ; .jpg」)"));
  otherRow->addWidget(Label4);
  otherRow->addWidget(Edit2, 1);
  grid->addLayout(otherRow, 6, 1);
  tl->addWidget(GroupBox1, 1);

  Splitter->setStretchFactor(0, 1);
  Splitter->setStretchFactor(1, 0);
  Splitter->setStretchFactor(2, 0);
  column->addWidget(top);

  // Button bar.
  auto* bar = new QWidget(central);
  bar->setObjectName(U("Panel4"));
  bar->setFixedHeight(41);
  auto* bl = new QHBoxLayout(bar);
  bl->setContentsMargins(6, 8, 6, 8);
  bl->setSpacing(6);
  Button5 = MakeButton("Button5", "検索開始", bar);
  Button10 = MakeButton("Button10", "中止", bar);
  Button10->setEnabled(false);
  Button6 = MakeButton("Button6", "削除", bar);
  Button6->setEnabled(false);
  Button7 = MakeButton("Button7", "全選択", bar);
  Button8 = MakeButton("Button8", "全解除", bar);
  Button9 = MakeButton("Button9", "CSV出力", bar);
  bl->addWidget(Button5);
  bl->addWidget(Button10);
  bl->addSpacing(24);
  bl->addWidget(Button6);
  bl->addWidget(Button7);
  bl->addWidget(Button8);
  bl->addSpacing(24);
  bl->addWidget(Button9);
  bl->addStretch(1);
  column->addWidget(bar);

  // Results.
  results = new ResultModel(this);
  ListView3 = new QTableView(central);
  ListView3->setObjectName(U("ListView3"));
  ListView3->setModel(results);
  ListView3->setFont(FormFont(13));
  ListView3->setShowGrid(true);
  ListView3->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView3->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListView3->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView3->setWordWrap(false);
  ListView3->setSortingEnabled(false);
  ListView3->verticalHeader()->hide();
  ListView3->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  ListView3->verticalHeader()->setDefaultSectionSize(18);
  ListView3->horizontalHeader()->setSectionsClickable(true);
  ListView3->horizontalHeader()->setHighlightSections(false);
  ListView3->horizontalHeader()->setStretchLastSection(false);
  const int widths[ResultModel::kColumns] = {56, 150, 50, 50, 200, 335, 150, 80};
  for (int c = 0; c < ResultModel::kColumns; ++c) ListView3->setColumnWidth(c, widths[c]);
  hitDelegate = new HitDelegate(ListView3);
  ListView3->setItemDelegateForColumn(ResultModel::kSnippet, hitDelegate);
  ListView3->setContextMenuPolicy(Qt::CustomContextMenu);
  column->addWidget(ListView3, 1);
  setCentralWidget(central);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(U("StatusBar1"));
  // The status names the file being read: elided, so that a long path never
  // widens the window.
  statusText = new ElidedLabel(StatusBar1);
  statusText->setObjectName(U("StatusText"));
  StatusBar1->addWidget(statusText, 1);
  ProgressBar1 = new QProgressBar(StatusBar1);
  ProgressBar1->setObjectName(U("ProgressBar1"));
  ProgressBar1->setFixedWidth(180);
  ProgressBar1->setMaximumHeight(16);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setRange(0, 1);
  ProgressBar1->setValue(0);
  StatusBar1->addPermanentWidget(ProgressBar1);
  setStatusBar(StatusBar1);

  Edit1->installEventFilter(this);
  connect(Edit1, &QLineEdit::textEdited, this, [this] { SetKeywordNote(QString()); });
  Edit2->installEventFilter(this);
  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
  connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
  connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
  connect(Button7, &QPushButton::clicked, this, &TForm1::Button7Click);
  connect(Button8, &QPushButton::clicked, this, &TForm1::Button8Click);
  connect(Button9, &QPushButton::clicked, this, &TForm1::Button9Click);
  connect(Button10, &QPushButton::clicked, this, &TForm1::Button10Click);
  connect(ListView1, &QTreeWidget::itemSelectionChanged, this, &TForm1::ListView1SelectItem);
  connect(ListView2, &QTreeWidget::itemSelectionChanged, this, &TForm1::ListView2SelectItem);
  connect(ListView1->header(), &QHeaderView::sectionClicked, this, &TForm1::ListView1ColumnClick);
  connect(ListView2->header(), &QHeaderView::sectionClicked, this, &TForm1::ListView2ColumnClick);
  connect(ListView3->horizontalHeader(), &QHeaderView::sectionClicked, this,
          &TForm1::ListView3ColumnClick);
  connect(ListView3, &QTableView::doubleClicked, this, &TForm1::ListView3DblClick);
  connect(ListView3, &QTableView::clicked, this, &TForm1::ListView3Click);
  connect(results, &ResultModel::TicksChanged, this, &TForm1::ListView3Click);
  connect(ListView3, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const QModelIndex ix = ListView3->indexAt(at);
    if (ix.isValid() && !ListView3->selectionModel()->isRowSelected(ix.row(), QModelIndex())) {
      ListView3->selectionModel()->select(
          ix, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    QMenu* menu = MakeResultMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(ListView3->viewport()->mapToGlobal(at));
  });

  // What the controls need is fixed now; no text shown later may enlarge the
  // window (an explicit minimum keeps the layout from raising it).
  if (QLayout* layout = this->layout()) layout->activate();
  setMinimumSize(minimumSizeHint().expandedTo(QSize(1, 1)));
}

// --- start-up and shut-down -------------------------------------------------

void TForm1::FormCreate() {
  resize(870, 640);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  unsigned n = workers_ ? workers_ : DefaultWorkerCount();
  if (n == 0) n = 1;
  const std::string dir = ToBytes(programDir_);
  const ConverterPresence presence = DetectConverters(dir);
  for (unsigned i = 0; i < n; ++i) contexts_.push_back(MakeExtractionContext(dir, presence));
}

void TForm1::FormShow() {
  RestoreGeometry();
  // The panel widths hold once the window has its size: keywords take the rest.
  if (QLayout* layout = centralWidget()->layout()) layout->activate();
  const int rest = std::max(Splitter->width() - 210 - 450 - 2 * Splitter->handleWidth(), 100);
  Splitter->setSizes({rest, 210, 450});
  LoadSettings();
}

// The window's place and the result columns' widths of the last run, when
// the settings file holds them and the place is still on a screen.
void TForm1::RestoreGeometry() {
  const std::string path = ToBytes(SettingsPath());
  const QStringList g = QString::fromStdString(ReadSettingsKey(path, kWindowKey)).split(QLatin1Char(','));
  if (g.size() == 4) {
    bool ok[4];
    const QRect r(g[0].toInt(&ok[0]), g[1].toInt(&ok[1]), g[2].toInt(&ok[2]), g[3].toInt(&ok[3]));
    const QSize min = minimumSize();
    if (ok[0] && ok[1] && ok[2] && ok[3] && r.width() >= min.width() && r.height() >= min.height() &&
        r.width() <= 16384 && r.height() <= 16384) {
      resize(r.size());
      for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().intersects(QRect(r.topLeft(), QSize(100, 40)))) {
          move(r.topLeft());
          break;
        }
      }
    }
  }
  const QStringList w = QString::fromStdString(ReadSettingsKey(path, kColumnsKey)).split(QLatin1Char(','));
  if (w.size() == ResultModel::kColumns) {
    for (int c = 0; c < ResultModel::kColumns; ++c) {
      bool ok = false;
      const int px = w[c].toInt(&ok);
      if (ok && px >= 8 && px <= 4000) ListView3->setColumnWidth(c, px);
    }
  }
}

void TForm1::FormCloseQuery() {
  // Nothing may be freed while an extractor still runs.
  StopAndJoin();
}

void TForm1::FormClose() { SaveSettings(); }

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  FormCloseQuery();
  FormClose();
  event->accept();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ListView2->viewport()) {
    const QEvent::Type t = event->type();
    if (t == QEvent::DragEnter || t == QEvent::DragMove) {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      bool anyDir = false;
      if (drag->mimeData()->hasUrls()) {
        for (const QUrl& url : drag->mimeData()->urls()) {
          anyDir = anyDir || (url.isLocalFile() && QFileInfo(url.toLocalFile()).isDir());
        }
      }
      if (anyDir) {
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
      } else {
        drag->ignore();
      }
      return true;
    }
    if (t == QEvent::Drop) {
      auto* drop = static_cast<QDropEvent*>(event);
      if (drop->mimeData()->hasUrls() && AddDroppedDirectories(drop->mimeData()->urls()) > 0) {
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
      } else {
        drop->ignore();
      }
      return true;
    }
  }
  if (watched == Edit1 && event->type() == QEvent::KeyPress) {
    if (Edit1KeyPress(static_cast<QKeyEvent*>(event)->key())) return true;
  } else if (watched == Edit2 && event->type() == QEvent::FocusOut) {
    Edit2Exit();
  }
  return QMainWindow::eventFilter(watched, event);
}

QString TForm1::SettingsPath() const { return dataDir_ + QString::fromUtf8(kSettingsFileName); }

QString TForm1::StatusText() const { return statusText->FullText(); }

void TForm1::SetStatus(const QString& text) { statusText->SetFullText(text); }

// --- settings ----------------------------------------------------------------

void TForm1::LoadSettings() {
  const SettingsValues values = ReadSettingsFile(ToBytes(SettingsPath()));
  for (const std::string& entry : SplitSettingValue(TrimBlanks(values.key), true)) {
    AddKeywordItem(QString::fromStdString(entry));
  }
  for (const std::string& entry : SplitSettingValue(values.dir, true)) {
    AddDirectoryItem(QString::fromStdString(entry));
  }
  const TypeSelection types = ParseTypeValue(values.typ);
  for (int i = 0; i < kTypeBoxes; ++i) {
    if (types.checked[(size_t)i]) typeBoxes[(size_t)i]->setChecked(true);
  }
  if (!types.other.empty()) {
    const QString other = QString::fromStdString(types.other);
    Edit2->setText(Edit2->text().isEmpty() ? other : Edit2->text() + U(" ; ") + other);
  }
}

bool TForm1::SaveSettings() {
  std::vector<std::string> keys, dirs;
  for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
    keys.push_back(ToBytes(ListView1->topLevelItem(i)->text(0)));
  }
  for (int i = 0; i < ListView2->topLevelItemCount(); ++i) {
    dirs.push_back(ToBytes(ListView2->topLevelItem(i)->text(0)));
  }
  std::array<bool, kTypeBoxes> checked{};
  for (int i = 0; i < kTypeBoxes; ++i) checked[(size_t)i] = typeBoxes[(size_t)i]->isChecked();
  SettingsValues values;
  values.key = JoinSettingValue(keys);
  values.dir = JoinSettingValue(dirs);
  values.typ = BuildTypeValue(checked, ToBytes(Edit2->text()));
  std::vector<std::pair<std::string, std::string>> extra;
  const QRect g = isMaximized() || isFullScreen() ? normalGeometry() : geometry();
  extra.emplace_back(kWindowKey, QStringLiteral("%1,%2,%3,%4")
                                            .arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height())
                                            .toStdString());
  QStringList widths;
  for (int c = 0; c < ResultModel::kColumns; ++c) widths << QString::number(ListView3->columnWidth(c));
  extra.emplace_back(kColumnsKey, widths.join(QLatin1Char(',')).toStdString());
  settingsTooLong_ = !SettingsFit(values);
  bool readOnly = false;
  if (!WriteSettingsFile(ToBytes(SettingsPath()), values, extra, &readOnly)) {
    showError((readOnly ? U("設定ファイルは読み取り専用のため保存しませんでした: ")
                        : U("設定ファイルに書き込めませんでした: ")) +
              SettingsPath());
    return false;
  }
  return true;
}

// --- keyword, directory and file-type editing ----------------------------------

void TForm1::AddKeywordItem(const QString& caption) {
  auto* item = new QTreeWidgetItem(ListView1);
  item->setText(0, caption);
}

void TForm1::AddDirectoryItem(const QString& caption) {
  auto* item = new QTreeWidgetItem(ListView2);
  item->setText(0, caption);
}

void TForm1::SetKeywordNote(const QString& text) {
  KeywordNote->setText(text);
  KeywordNote->setVisible(!text.isEmpty());
}

bool TForm1::Edit1KeyPress(int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  Button1Click();
  return true;
}

void TForm1::Button1Click() {
  const QString t = Edit1->text().trimmed();
  if (t.isEmpty()) return;
  std::string sjis, error;
  if (!KeywordToSjis(ToBytes(t), &sjis, &error)) {
    SetKeywordNote(QString::fromStdString(error));
    return;
  }
  SetKeywordNote(QString());
  for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
    if (Utf8ToSjis(ToBytes(ListView1->topLevelItem(i)->text(0))) == sjis) return;
  }
  AddKeywordItem(t);
  Edit1->clear();
}

void TForm1::ListView1SelectItem() {
  const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
  Button2->setEnabled(!selected.isEmpty());
  if (!selected.isEmpty()) Edit1->setText(selected.first()->text(0));
}

void TForm1::Button2Click() {
  const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
  if (selected.isEmpty()) return;
  delete selected.first();
  ListView1SelectItem();
}

void TForm1::SortCaptions(QTreeWidget* list, bool asShiftJis) {
  std::vector<std::pair<std::string, QString>> items;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    const QString caption = list->topLevelItem(i)->text(0);
    items.emplace_back(asShiftJis ? Utf8ToSjis(ToBytes(caption)) : ToBytes(caption), caption);
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  list->clearSelection();
  for (int i = 0; i < (int)items.size(); ++i) list->topLevelItem(i)->setText(0, items[(size_t)i].second);
}

void TForm1::ListView1ColumnClick() { SortCaptions(ListView1, true); }

void TForm1::Button3Click() {
  QString path = chooseDirectory();
  // An empty answer is a cancel; "/" is a directory like any other here.
  if (path.isEmpty()) return;
  if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
  AddDirectoryItem(path);
}

int TForm1::AddDroppedDirectories(const QList<QUrl>& urls) {
  int added = 0;
  for (const QUrl& url : urls) {
    if (!url.isLocalFile()) continue;
    QString path = url.toLocalFile();
    if (path.isEmpty() || !QFileInfo(path).isDir()) continue;
    if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    AddDirectoryItem(path);
    ++added;
  }
  return added;
}

void TForm1::ListView2SelectItem() { Button4->setEnabled(!ListView2->selectedItems().isEmpty()); }

void TForm1::Button4Click() {
  const QList<QTreeWidgetItem*> selected = ListView2->selectedItems();
  if (selected.isEmpty()) return;
  delete selected.first();
  ListView2SelectItem();
}

void TForm1::ListView2ColumnClick() { SortCaptions(ListView2, false); }

void TForm1::Edit2Exit() {
  Edit2->setText(QString::fromStdString(NormalizeOtherExtensions(ToBytes(Edit2->text()))));
}

// --- search run ----------------------------------------------------------------

std::vector<std::string> TForm1::SjisKeywords() const {
  std::vector<std::string> keys;
  for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
    keys.push_back(Utf8ToSjis(ToBytes(ListView1->topLevelItem(i)->text(0))));
  }
  return keys;
}

void TForm1::Button5Click() {
  // One run at a time: a second press while one runs does nothing.
  if (Running()) return;
  if (ListView1->topLevelItemCount() == 0) {
    showMessage(U("キーワードが設定されていません"));
    return;
  }
  if (ListView2->topLevelItemCount() == 0) {
    showMessage(U("対象ディレクトリーが設定されていません"));
    return;
  }
  results->Clear();
  SetStatus(QString());
  // A settings file that cannot be written is reported; the search still runs.
  SaveSettings();

  // The run works on a copy: edits made while it runs do not reach it.
  SearchRequest request;
  request.keywords = SjisKeywords();
  // The snippets of this run are marked with the words it counts.
  KeywordList expanded = request.keywords;
  ExpandKeywords(expanded);
  hitDelegate->SetKeywords(std::move(expanded));
  for (int i = 0; i < ListView2->topLevelItemCount(); ++i) {
    std::string dir = ToBytes(ListView2->topLevelItem(i)->text(0));
    if (!dir.empty() && dir.back() != '/') dir += '/';
    request.directories.push_back(std::move(dir));
  }
  for (int i = 0; i < kTypeBoxes; ++i) {
    request.types.checked[(size_t)i] = typeBoxes[(size_t)i]->isChecked();
  }
  request.types.other = ToBytes(Edit2->text());

  Button6->setEnabled(false);
  Button9->setEnabled(false);
  Button10->setEnabled(true);
  ProgressBar1->setRange(0, 0);
  ProgressBar1->show();
  {
    std::lock_guard<std::mutex> lock(pendingMutex_);
    pendingRows_.clear();
    pendingStatus_.clear();
    pendingProgress_ = false;
  }
  stop_.store(false);
  const unsigned generation = ++generation_;
  worker_ = std::thread([this, request = std::move(request), generation] {
    SearchEvents events;
    events.directory = [this](const std::string& dir) {
      std::lock_guard<std::mutex> lock(pendingMutex_);
      pendingStatus_ = U("対象ファイル検索中。。。 ") + QString::fromStdString(dir);
      PostFlush();
    };
    events.file = [this](size_t index, size_t total, bool walkDone, const std::string& path) {
      if (workerFileHook) workerFileHook(index);
      std::lock_guard<std::mutex> lock(pendingMutex_);
      pendingStatus_ = U("ファイル検索中。。。(%1/%2) ").arg(index + 1).arg(total) +
                       QString::fromStdString(path);
      pendingIndex_ = index;
      pendingTotal_ = total;
      pendingWalkDone_ = walkDone;
      pendingProgress_ = true;
      PostFlush();
    };
    events.row = [this](ResultRow&& row) {
      std::lock_guard<std::mutex> lock(pendingMutex_);
      pendingRows_.push_back(std::move(row));
      PostFlush();
    };
    const SearchSummary summary = RunSearch(request, contexts_, events, stop_);
    QMetaObject::invokeMethod(
        this, [this, generation, summary] { Finish(generation, summary); }, Qt::QueuedConnection);
  });
}

// Called with pendingMutex_ held, on the worker thread.
void TForm1::PostFlush() {
  if (flushQueued_) return;
  flushQueued_ = true;
  QMetaObject::invokeMethod(this, [this] { Flush(); }, Qt::QueuedConnection);
}

void TForm1::Flush() {
  std::vector<ResultRow> rows;
  QString status;
  bool progress;
  size_t index, total;
  bool walkDone;
  {
    std::lock_guard<std::mutex> lock(pendingMutex_);
    rows.swap(pendingRows_);
    status.swap(pendingStatus_);
    progress = pendingProgress_;
    pendingProgress_ = false;
    index = pendingIndex_;
    total = pendingTotal_;
    walkDone = pendingWalkDone_;
    flushQueued_ = false;
  }
  results->Append(std::move(rows));
  if (!status.isEmpty()) SetStatus(status);
  if (progress) {
    if (walkDone && total > 0) {
      // The bar counts in thousandths so that any number of files fits an int.
      ProgressBar1->setRange(0, 1000);
      ProgressBar1->setValue((int)((index + 1) * 1000 / total));
    } else {
      ProgressBar1->setRange(0, 0);
    }
  }
}

void TForm1::Finish(unsigned generation, SearchSummary summary) {
  if (generation != generation_ || !worker_.joinable()) return;
  worker_.join();
  Flush();
  QString text = QString::number(results->Count()) + U("個のファイルを発見");
  if (summary.stopped) text += U("（検索を中止しました）");
  // Folders the walk could not read are named, so a short list is not taken as complete.
  if (!summary.unreadable.empty())
    text += U("（読み込めないフォルダー %1 個: %2）")
                .arg(summary.unreadable.size())
                .arg(QString::fromStdString(summary.unreadable.front().path));
  if (settingsTooLong_) text += U("　設定の一覧が長すぎるため、次回の起動時には一部しか読み込まれません");
  SetStatus(text);
  ProgressBar1->setRange(0, 1000);
  if (!summary.stopped) ProgressBar1->setValue(1000);
  Button6->setEnabled(true);
  Button9->setEnabled(true);
  Button10->setEnabled(false);
  emit SearchFinished();
}

void TForm1::Button10Click() {
  if (!Running()) return;
  stop_.store(true);
  Button10->setEnabled(false);
}

void TForm1::StopAndJoin() {
  if (!worker_.joinable()) return;
  stop_.store(true);
  worker_.join();
  // The queued Finish of this run now finds no thread and does nothing.
  ++generation_;
  Flush();
  Button6->setEnabled(true);
  Button9->setEnabled(true);
  Button10->setEnabled(false);
}

// --- result list ---------------------------------------------------------------

void TForm1::ListView3ColumnClick(int column) { results->Sort(column); }

void TForm1::ListView3DblClick() { OpenResult(); }

void TForm1::OpenResult() {
  const QModelIndexList selected = ListView3->selectionModel()->selectedRows();
  if (selected.isEmpty()) return;
  int first = selected.first().row();
  for (const QModelIndex& ix : selected) first = std::min(first, ix.row());
  // No feedback when nothing could be started.
  openFile(QString::fromStdString(results->Row(first).path));
}

std::vector<int> TForm1::SelectedResultRows() const {
  std::vector<int> rows;
  for (const QModelIndex& ix : ListView3->selectionModel()->selectedRows()) rows.push_back(ix.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

QMenu* TForm1::MakeResultMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  const bool any = !SelectedResultRows().empty();
  QAction* open = menu->addAction(U("フォルダを開く"), this, &TForm1::OpenResultFolder);
  open->setObjectName(U("OpenFolder"));
  open->setEnabled(any);
  QAction* copy = menu->addAction(U("パスをコピー"), this, &TForm1::CopyResultPaths);
  copy->setObjectName(U("CopyPath"));
  copy->setEnabled(any);
  return menu;
}

void TForm1::OpenResultFolder() {
  const std::vector<int> rows = SelectedResultRows();
  if (rows.empty()) return;
  const QString path = QFile::decodeName(QByteArray::fromStdString(results->Row(rows.front()).path));
  openFolder(QFileInfo(path).absolutePath());
}

void TForm1::CopyResultPaths() {
  QStringList paths;
  for (int row : SelectedResultRows()) {
    paths << QFile::decodeName(QByteArray::fromStdString(results->Row(row).path));
  }
  if (!paths.isEmpty()) QGuiApplication::clipboard()->setText(paths.join(QLatin1Char('\n')));
}

void TForm1::ShowTickCount() {
  SetStatus(QStringLiteral("%1/%2").arg(results->CheckedCount()).arg(results->Count()) + U(" 選択"));
}

void TForm1::ListView3Click() { ShowTickCount(); }

void TForm1::Button7Click() {
  results->SetAllChecked(true);
  ShowTickCount();
}

void TForm1::Button8Click() {
  results->SetAllChecked(false);
  ShowTickCount();
}

void TForm1::Button6Click() {
  if (Running()) return;
  if (!confirm(U("チェックしたファイルをすべて削除しますか?"), U("削除"))) return;
  namespace fs = std::filesystem;
  std::vector<bool> drop((size_t)results->Count(), false);
  for (int i = 0; i < results->Count(); ++i) {
    if (!results->Checked(i)) continue;
    const fs::path path(results->Row(i).path);
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    if (ec || !fs::exists(st) || fs::is_directory(st)) continue;
    if (fs::remove(path, ec) && !ec) drop[(size_t)i] = true;
  }
  results->Remove(drop);
}

// --- CSV export ----------------------------------------------------------------

void TForm1::Button9Click() { ExportCsv(); }

bool TForm1::ExportCsv() {
  SetStatus(U("CSVファイル作成中。。。"));
  statusText->repaint();
  const std::string csv = BuildCsv(SjisKeywords(), results->Rows());

  // Every export makes a new file, even two within one millisecond.
  const std::string dir = ToBytes(dataDir_);
  std::string path = dir + ExportFileName();
  std::error_code ec;
  for (int tries = 0; tries < 2000 && std::filesystem::exists(path, ec); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    path = dir + ExportFileName();
  }
  const QString shown = QString::fromStdString(path);
  if (!WriteFileReplacing(path, csv)) {
    SetStatus(U("CSVファイル作成失敗"));
    showError(U("CSVファイルを作成できませんでした: ") + shown);
    return false;
  }
  lastExport_ = shown;
  SetStatus(U("Excel起動中。。。"));
  statusText->repaint();
  SetStatus(openFile(shown) ? QString() : U("Excel起動失敗"));
  return true;
}

}  // namespace kuribo
