#include "ui/MainWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QStatusBar>

#include "export/CategoryNames.h"
#include "ui/Artwork.h"

namespace vantrel {
namespace {

struct ToolbarCommand {
  const char* objectName;
  const char* label;
  const char* statusPrompt;  // "" = none
  ToolbarImage image;
  void (MainWindow::*slot)();
};

// The toolbar, left to right; a null objectName is a separator.
const ToolbarCommand kToolbarCommands[] = {
    {"selectBackup", "选择备份", "选择备份", ToolbarImage::SelectBackup, &MainWindow::SelectBackup},
    {nullptr, nullptr, nullptr, ToolbarImage::About, nullptr},
    {"saveAllCsv", "保存所有CSV", "保存", ToolbarImage::SaveAllCsv, &MainWindow::SaveAllCsv},
    {"saveCurrentCsv", "保存当前CSV", "保存选中内容", ToolbarImage::SaveCurrentCsv,
     &MainWindow::SaveCurrentCsv},
    {nullptr, nullptr, nullptr, ToolbarImage::About, nullptr},
    {"saveAllTxt", "保存所有TXT", "", ToolbarImage::SaveAllTxt, &MainWindow::SaveAllTxt},
    {"saveCurrentTxt", "保存当前TXT", "", ToolbarImage::SaveCurrentTxt,
     &MainWindow::SaveCurrentTxt},
    {nullptr, nullptr, nullptr, ToolbarImage::About, nullptr},
    {"showAbout", "关于", "", ToolbarImage::About, &MainWindow::ShowAbout},
};

}  // namespace

MainWindow::MainWindow(UserPrompts& prompts, QWidget* parent)
    : QMainWindow(parent), prompts_(prompts) {
  setWindowTitle(kProductDisplayName);
  setWindowIcon(ApplicationIcon());
  setContextMenuPolicy(Qt::NoContextMenu);
  CreateActions();
  CreateBars();
  CreatePanes();
  qApp->installEventFilter(this);  // Scroll Lock reaches whichever widget has the focus
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  // The collections go before the child widgets: leave the list pointing at nothing.
  recordList_->records().RemoveAllRows();
}

void MainWindow::CreateActions() {
  for (const ToolbarCommand& command : kToolbarCommands) {
    if (!command.objectName) continue;
    auto* action = new QAction(QIcon(DrawToolbarImage(command.image)), command.label, this);
    action->setObjectName(command.objectName);
    action->setStatusTip(command.statusPrompt);
    connect(action, &QAction::triggered, this, command.slot);
  }
  auto* toggle = new QAction("工具栏", this);
  toggle->setObjectName("toggleToolbar");
  toggle->setCheckable(true);
  toggle->setChecked(true);
  toggle->setStatusTip("显示或隐藏工具栏");
  connect(toggle, &QAction::triggered, this, &MainWindow::ToggleToolbar);
}

QAction& MainWindow::action(const char* objectName) {
  return *findChild<QAction*>(objectName, Qt::FindDirectChildrenOnly);
}

void MainWindow::CreateBars() {
  menuBar()->addAction(&action("toggleToolbar"));

  toolbar_ = addToolBar("工具栏");
  toolbar_->setObjectName("toolbar");
  toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  toolbar_->setIconSize(QSize(kToolbarImageWidth, kToolbarImageHeight));
  toolbar_->setAllowedAreas(Qt::AllToolBarAreas);
  toolbar_->setMovable(true);
  for (const ToolbarCommand& command : kToolbarCommands) {
    if (command.objectName) {
      toolbar_->addAction(&action(command.objectName));
    } else {
      toolbar_->addSeparator();
    }
  }
  connect(toolbar_, &QToolBar::visibilityChanged, &action("toggleToolbar"), &QAction::setChecked);

  // Status bar: the prompt pane (a status tip replaces "就绪" while shown),
  // then the category, count and Scroll Lock panes.
  promptPane_ = new QLabel("就绪", this);
  categoryPane_ = new QLabel(this);
  countPane_ = new QLabel(this);
  scrollLockPane_ = new QLabel(this);
  categoryPane_->setFixedWidth(kCategoryPaneWidth);
  countPane_->setFixedWidth(kCountPaneWidth);
  scrollLockPane_->setFixedWidth(scrollLockPane_->fontMetrics().horizontalAdvance("SCRL") + 12);
  scrollLockPane_->setAlignment(Qt::AlignCenter);
  statusBar()->addWidget(promptPane_, 1);
  statusBar()->addPermanentWidget(categoryPane_);
  statusBar()->addPermanentWidget(countPane_);
  statusBar()->addPermanentWidget(scrollLockPane_);
}

void MainWindow::CreatePanes() {
  splitter_ = new QSplitter(Qt::Horizontal, this);
  splitter_->setObjectName("splitter");
  splitter_->setChildrenCollapsible(false);
  rightView_ = new QSplitter(Qt::Vertical);
  rightView_->setObjectName("rightView");
  rightView_->setChildrenCollapsible(false);
  recordList_ = new RecordListView(rightView_);
  detailPane_ = new DetailPane(*recordList_, collections_.contacts, rightView_);
  treePane_ = new CategoryPane(collections_, *recordList_, splitter_);
  splitter_->addWidget(treePane_);
  splitter_->addWidget(rightView_);
  rightView_->addWidget(recordList_);
  rightView_->addWidget(detailPane_);
  // A resize of the window goes to the right side and the detail; only the
  // splitter bars change the tree's width and the list's height.
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  rightView_->setStretchFactor(0, 0);
  rightView_->setStretchFactor(1, 1);
  setCentralWidget(splitter_);

  connect(treePane_, &CategoryPane::statusTextsChanged, this, &MainWindow::ShowStatusTexts);
  connect(recordList_, &RecordListView::rowPressed, detailPane_, &DetailPane::ShowRow);
}

void MainWindow::LayOutPanes() {
  if (QLayout* frameLayout = layout()) frameLayout->activate();
  const int width = splitter_->width();
  const int height = rightView_->height() > 0 ? rightView_->height() : splitter_->height();
  splitter_->setSizes({kTreePaneWidth, std::max(0, width - kTreePaneWidth)});
  rightView_->setSizes({height / 5 * 3, height / 5 * 2});
  panesLaidOut_ = true;
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!panesLaidOut_) LayOutPanes();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_ScrollLock &&
      !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
    scrollLock_ = !scrollLock_;
    scrollLockPane_->setText(scrollLock_ ? "SCRL" : "");
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::ShowStatusTexts(const QString& category, const QString& count) {
  categoryPane_->setText(category);
  countPane_->setText(count);
}

// ---- Commands ----

void MainWindow::SelectBackup() {
  const std::optional<std::string> path = prompts_.ChooseBackup(backupPath_, remembered_);
  if (!path) return;
  LoadPath(*path);
}

bool MainWindow::LoadPath(const std::string& path) {
  // An encrypted backup is read only with its password; giving up leaves the
  // window as it was.
  std::optional<BackupKeys> keys;
  if (IsDirectory(path) && IsEncryptedBackup(path)) {
    keys = prompts_.AskBackupPassword(path);
    if (!keys) return false;
  }
  LoadResult loaded = LoadBackup(path, *this, keys ? &*keys : nullptr);
  if (loaded.status == LoadStatus::NotFound) {
    prompts_.ShowMessage(kFileNotFoundMessage);
    return false;
  }
  if (loaded.status == LoadStatus::FolderOfBackups) {
    // The sync software's Backup folder itself, a common first choice: the
    // picker lists the backups it holds so one can be chosen.
    remembered_.RememberFolders(loaded.heldBackups);
    const std::optional<std::string> chosen = prompts_.ChooseBackup(path, remembered_);
    if (!chosen || *chosen == path) return false;
    return LoadPath(*chosen);
  }
  // The list points into the collections about to be replaced.
  recordList_->records().RemoveAllRows();
  backupPath_ = path;
  collections_ = std::move(loaded.collections);
  // What the reader skipped stays in the prompt pane until the next load.
  const std::vector<std::string> damage = DamageLines(loaded.databaseDamage);
  QStringList lines;
  for (const std::string& line : damage) lines << QString::fromStdString(line);
  promptPane_->setText(lines.isEmpty() ? QString("就绪") : lines.join("；"));
  return true;
}

void MainWindow::SaveCurrent(ExportFormat format) {
  RunSaveCurrent(prompts_, collections_, treePane_->SelectedCategory(), format, exportOptions_);
}

void MainWindow::SaveAll(ExportFormat format) {
  RunSaveAll(prompts_, collections_, format, exportOptions_);
}

void MainWindow::SaveAllCsv() {
  SaveAll(ExportFormat::Csv);
}
void MainWindow::SaveCurrentCsv() {
  SaveCurrent(ExportFormat::Csv);
}
void MainWindow::SaveAllTxt() {
  SaveAll(ExportFormat::Txt);
}
void MainWindow::SaveCurrentTxt() {
  SaveCurrent(ExportFormat::Txt);
}

void MainWindow::ShowAbout() {
  prompts_.ShowAbout();
}

void MainWindow::ToggleToolbar() {
  toolbar_->setVisible(!toolbar_->isVisible());
  action("toggleToolbar").setChecked(toolbar_->isVisible());
}

// ---- LoadObserver ----

void MainWindow::BeginProgress() {
  progress_ = std::make_unique<LoadProgressDialog>(this);
  progress_->show();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void MainWindow::StepProgress() {
  if (progress_) progress_->Step();
}

void MainWindow::EndProgress() {
  lastProgressSteps_ = progress_ ? progress_->position() : 0;
  progress_.reset();
}

void MainWindow::ResetViews() {
  treePane_->ResetViews();
  ShowStatusTexts({}, {});
}

LoadObserver::CategoryHandle MainWindow::AddCategory(RecordKind kind) {
  return treePane_->AddCategory(kind);
}

void MainWindow::AddCount(CategoryHandle parent, Category category, int count) {
  treePane_->AddCount(parent, category, count);
}

void MainWindow::ExpandCategory(CategoryHandle category) {
  treePane_->ExpandCategory(category);
}

void MainWindow::ShowMessage(const std::string& text) {
  prompts_.ShowMessage(text);
}

}  // namespace vantrel
