#include "ui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QStatusBar>
#include <QTextDocument>
#include <QVBoxLayout>
#include <ctime>

#include "backup/BackupPlists.h"
#include "export/CategoryNames.h"
#include "export/HtmlReport.h"
#include "export/JsonExport.h"
#include "export/StatusTexts.h"
#include "platform/ReadOnlyFile.h"
#include "platform/Text.h"
#include "sources/Source.h"
#include "ui/Artwork.h"
#include "ui/ProductName.h"

namespace vantrel {
namespace {

struct ToolbarCommand {
  const char* objectName;
  const char* label;
  const char* statusPrompt;  // "" = none
  ToolbarImage image;
  void (MainWindow::*slot)();
};

// The toolbar, left to right; a null objectName is a separator. Labels and
// prompts are translated where the actions are made.
const ToolbarCommand kToolbarCommands[] = {
    {"selectBackup", QT_TRANSLATE_NOOP("vantrel::MainWindow", "选择备份"),
     QT_TRANSLATE_NOOP("vantrel::MainWindow", "选择备份"), ToolbarImage::SelectBackup,
     &MainWindow::SelectBackup},
    {nullptr, nullptr, nullptr, ToolbarImage::About, nullptr},
    {"saveAllCsv", QT_TRANSLATE_NOOP("vantrel::MainWindow", "保存所有CSV"),
     QT_TRANSLATE_NOOP("vantrel::MainWindow", "保存"), ToolbarImage::SaveAllCsv,
     &MainWindow::SaveAllCsv},
    {"saveCurrentCsv", QT_TRANSLATE_NOOP("vantrel::MainWindow", "保存当前CSV"),
     QT_TRANSLATE_NOOP("vantrel::MainWindow", "保存选中内容"), ToolbarImage::SaveCurrentCsv,
     &MainWindow::SaveCurrentCsv},
    {nullptr, nullptr, nullptr, ToolbarImage::About, nullptr},
    {"saveAllTxt", QT_TRANSLATE_NOOP("vantrel::MainWindow", "保存所有TXT"), "",
     ToolbarImage::SaveAllTxt, &MainWindow::SaveAllTxt},
    {"saveCurrentTxt", QT_TRANSLATE_NOOP("vantrel::MainWindow", "保存当前TXT"), "",
     ToolbarImage::SaveCurrentTxt, &MainWindow::SaveCurrentTxt},
    {nullptr, nullptr, nullptr, ToolbarImage::About, nullptr},
    {"showAbout", QT_TRANSLATE_NOOP("vantrel::MainWindow", "关于"), "", ToolbarImage::About,
     &MainWindow::ShowAbout},
};

// The code pages offered for TXT files: Unicode, then the Chinese code pages
// of the mainland, Taiwan and Hong Kong, then the neighbours' and Western ones.
const char* const kTxtEncodings[] = {
    "UTF-8",    "GBK",       "GB18030", "Big5",       "Big5-HKSCS",
    "UTF-16LE", "Shift_JIS", "EUC-KR",  "ISO-8859-1", "Windows-1252",
};

}  // namespace

QStringList MainWindow::TxtEncodings() {
  QStringList encodings;
  for (const char* name : kTxtEncodings) {
    if (IsKnownEncoding(name)) encodings << name;
  }
  return encodings;
}

MainWindow::MainWindow(UserPrompts& prompts, QWidget* parent)
    : QMainWindow(parent), prompts_(prompts) {
  setWindowTitle(kProductDisplayName);
  setWindowIcon(ApplicationIcon());
  setContextMenuPolicy(Qt::NoContextMenu);
  CreateActions();
  CreateBars();
  CreatePanes();
  qApp->installEventFilter(this);  // Scroll Lock reaches whichever widget has the focus
  exportOptions_.txtEncoding = kDefaultTxtEncoding;
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  // The collections go before the child widgets: leave the list pointing at nothing.
  recordList_->records().RemoveAllRows();
}

void MainWindow::CreateActions() {
  for (const ToolbarCommand& command : kToolbarCommands) {
    if (!command.objectName) continue;
    auto* action = new QAction(QIcon(DrawToolbarImage(command.image)), tr(command.label), this);
    action->setObjectName(command.objectName);
    action->setStatusTip(tr(command.statusPrompt));
    connect(action, &QAction::triggered, this, command.slot);
  }
  const struct {
    const char* objectName;
    const char* label;
    void (MainWindow::*slot)();
  } exports[] = {
      {"exportJson", QT_TRANSLATE_NOOP("vantrel::MainWindow", "导出JSON..."),
       &MainWindow::ExportJson},
      {"exportHtml", QT_TRANSLATE_NOOP("vantrel::MainWindow", "导出HTML报告..."),
       &MainWindow::ExportHtmlReport},
      {"printReportPdf", QT_TRANSLATE_NOOP("vantrel::MainWindow", "HTML报告打印为PDF..."),
       &MainWindow::PrintReportToPdf},
  };
  for (const auto& command : exports) {
    auto* action = new QAction(tr(command.label), this);
    action->setObjectName(command.objectName);
    connect(action, &QAction::triggered, this, command.slot);
  }
  auto* toggle = new QAction(tr("工具栏"), this);
  toggle->setObjectName("toggleToolbar");
  toggle->setCheckable(true);
  toggle->setChecked(true);
  toggle->setStatusTip(tr("显示或隐藏工具栏"));
  connect(toggle, &QAction::triggered, this, &MainWindow::ToggleToolbar);
}

QAction& MainWindow::action(const char* objectName) {
  return *findChild<QAction*>(objectName, Qt::FindDirectChildrenOnly);
}

void MainWindow::CreateBars() {
  QMenu* exportMenu = menuBar()->addMenu(tr("导出"));
  exportMenu->setObjectName("exportMenu");
  for (const char* name : {"exportJson", "exportHtml", "printReportPdf"})
    exportMenu->addAction(&action(name));
  menuBar()->addAction(&action("toggleToolbar"));

  toolbar_ = addToolBar(tr("工具栏"));
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

  // The TXT code page, beside the TXT commands: a box under its label, as the
  // buttons carry theirs.
  auto* encodingPanel = new QWidget(toolbar_);
  auto* encodingLayout = new QVBoxLayout(encodingPanel);
  encodingLayout->setContentsMargins(4, 0, 4, 0);
  encodingLayout->setSpacing(2);
  txtEncodingBox_ = new QComboBox(encodingPanel);
  txtEncodingBox_->setObjectName("txtEncoding");
  txtEncodingBox_->addItems(TxtEncodings());
  txtEncodingBox_->setStatusTip(tr("TXT文件的编码"));
  auto* encodingLabel = new QLabel(tr("TXT编码"), encodingPanel);
  encodingLabel->setAlignment(Qt::AlignCenter);
  encodingLayout->addWidget(txtEncodingBox_);
  encodingLayout->addWidget(encodingLabel);
  QAction* saveCurrentTxt = &action("saveCurrentTxt");
  const QList<QAction*> actions = toolbar_->actions();
  const qsizetype after = actions.indexOf(saveCurrentTxt) + 1;
  toolbar_->insertWidget(after < actions.size() ? actions[after] : nullptr, encodingPanel)
      ->setText(tr("TXT编码"));
  connect(txtEncodingBox_, &QComboBox::currentTextChanged, this, &MainWindow::ChooseTxtEncoding);

  // Status bar: the prompt pane (a status tip replaces "就绪" while shown),
  // then the category, count and Scroll Lock panes.
  promptPane_ = new QLabel(tr("就绪"), this);
  categoryPane_ = new QLabel(this);
  countPane_ = new QLabel(this);
  scrollLockPane_ = new QLabel(this);
  categoryPane_->setFixedWidth(kCategoryPaneWidth);
  countPane_->setFixedWidth(kCountPaneWidth);
  scrollLockPane_->setFixedWidth(scrollLockPane_->fontMetrics().horizontalAdvance(tr("SCRL")) + 12);
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
  // The list pane: the search bar over the record list.
  auto* listPane = new QWidget(rightView_);
  listPane->setObjectName("listPane");
  searchBar_ = new SearchBar(listPane);
  recordList_ = new RecordListView(listPane);
  auto* listLayout = new QVBoxLayout(listPane);
  listLayout->setContentsMargins(0, 0, 0, 0);
  listLayout->setSpacing(0);
  listLayout->addWidget(searchBar_);
  listLayout->addWidget(recordList_, 1);
  recordList_->records().SetContactNames(&names_);
  detailPane_ = new DetailPane(*recordList_, collections_.contacts, prompts_, rightView_);
  treePane_ = new CategoryPane(collections_, *recordList_, splitter_);
  splitter_->addWidget(treePane_);
  splitter_->addWidget(rightView_);
  rightView_->addWidget(listPane);
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
  connect(searchBar_, &SearchBar::filterChanged, this, &MainWindow::ApplyFilter);
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
  if (panesLaidOut_) return;
  LayOutPanes();
  // Splitter positions the user left win over the initial layout.
  if (settings_) {
    splitter_->restoreState(settings_->splitterState(splitter_->objectName()));
    rightView_->restoreState(settings_->splitterState(rightView_->objectName()));
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  SaveSettings();
  QMainWindow::closeEvent(event);
}

void MainWindow::UseSettings(Settings* settings) {
  settings_ = settings;
  if (!settings_) return;
  const QByteArray geometry = settings_->windowGeometry();
  if (!geometry.isEmpty()) restoreGeometry(geometry);
  if (panesLaidOut_) {
    splitter_->restoreState(settings_->splitterState(splitter_->objectName()));
    rightView_->restoreState(settings_->splitterState(rightView_->objectName()));
  }
  for (const Source& source : Sources()) {
    const QList<int> widths = settings_->columnWidths(source.kind);
    if (!widths.isEmpty()) recordList_->SetColumnWidths(source.kind, widths);
  }
  settings_->RestoreBackups(remembered_);
  const QString encoding = QString::fromStdString(settings_->txtEncoding());
  const int index = txtEncodingBox_->findText(encoding, Qt::MatchFixedString);
  if (index >= 0) {
    txtEncodingBox_->setCurrentIndex(index);
  } else if (IsKnownEncoding(encoding.toStdString())) {
    // A code page set by hand in the settings file is offered too.
    txtEncodingBox_->addItem(encoding);
    txtEncodingBox_->setCurrentIndex(txtEncodingBox_->count() - 1);
  }
}

void MainWindow::SaveSettings() {
  if (!settings_) return;
  settings_->setWindowGeometry(saveGeometry());
  settings_->setSplitterState(splitter_->objectName(), splitter_->saveState());
  settings_->setSplitterState(rightView_->objectName(), rightView_->saveState());
  for (const Source& source : Sources())
    settings_->setColumnWidths(source.kind, recordList_->ColumnWidths(source.kind));
  settings_->SaveBackups(remembered_);
  settings_->setTxtEncoding(exportOptions_.txtEncoding);
  settings_->Sync();
}

void MainWindow::ChooseTxtEncoding(const QString& encoding) {
  if (encoding.isEmpty()) return;
  exportOptions_.txtEncoding = encoding.toStdString();
  if (settings_) settings_->setTxtEncoding(exportOptions_.txtEncoding);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_ScrollLock &&
      !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
    scrollLock_ = !scrollLock_;
    scrollLockPane_->setText(scrollLock_ ? tr("SCRL") : QString());
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::ApplyFilter(const RecordFilter& filter) {
  recordList_->records().SetFilter(filter);
  treePane_->RefreshStatusTexts();
}

void MainWindow::ShowStatusTexts(const QString& category, const QString& count) {
  categoryPane_->setText(category);
  countPane_->setText(count);
}

// ---- Commands ----

void MainWindow::SelectBackup() {
  const std::optional<std::string> path = prompts_.ChooseBackup(backupPath_, remembered_);
  if (settings_) settings_->SaveBackups(remembered_);
  if (!path) return;
  LoadPath(*path);
}

bool MainWindow::LoadPath(const std::string& path) {
  // An encrypted backup is read only with its password; giving up leaves the
  // window as it was.
  const ExaminedPath examined = ExaminePath(path);
  std::optional<BackupKeys> keys;
  if (examined.kind == PathKind::EncryptedBackup) {
    keys = prompts_.AskBackupPassword(path);
    if (!keys) return false;
  }
  LoadResult loaded = LoadBackup(examined, *this, keys ? &*keys : nullptr);
  if (loaded.status == LoadStatus::NotFound) {
    prompts_.ShowMessage(kFileNotFoundMessage);
    return false;
  }
  if (loaded.status == LoadStatus::FolderOfBackups) {
    // The sync software's Backup folder itself, a common first choice: the
    // picker lists the backups it holds so one can be chosen.
    remembered_.RememberFolders(loaded.heldBackups);
    const std::optional<std::string> chosen = prompts_.ChooseBackup(path, remembered_);
    if (settings_) settings_->SaveBackups(remembered_);
    if (!chosen || *chosen == path) return false;
    return LoadPath(*chosen);
  }
  // The list points into the collections about to be replaced.
  recordList_->records().RemoveAllRows();
  backupPath_ = path;
  collections_ = std::move(loaded.collections);
  // The keys stay while this backup is open, for the detail pane to decipher
  // attachments with; any other backup or file drops them (SecretBytes wipes).
  keys_ = keys ? std::make_shared<const BackupKeys>(std::move(*keys)) : nullptr;
  detailPane_->SetBackupKeys(keys_);
  sources_ = std::move(loaded.sources);
  names_ = ContactNames(collections_);
  treePane_->AddMessageTraces();
  treePane_->AddConversations(names_);
  // What the reader skipped stays in the prompt pane until the next load.
  const std::vector<std::string> damage = DamageLines(loaded.databaseDamage);
  QStringList lines;
  for (const std::string& line : damage) lines << QString::fromStdString(line);
  promptPane_->setText(lines.isEmpty() ? tr("就绪") : lines.join(tr("；")));
  return true;
}

void MainWindow::SaveCurrent(ExportFormat format) {
  RunSaveCurrent(prompts_, collections_, treePane_->SelectedCategory(), format, exportOptions_);
}

void MainWindow::SaveAll(ExportFormat format) {
  ExportOptions options = exportOptions_;
  options.traces = HasTraces();
  RunSaveAll(prompts_, collections_, format, options);
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

// Saving everything saves what the tree shows: the index-only traces too when
// the load found any (their node is there then), and no traces file when not.
bool MainWindow::HasTraces() const {
  return !collections_.messageTraces.empty();
}

// What the JSON and HTML files say of the backup and its files, each file
// hashed as it lies on disk now.
ReportFacts MainWindow::FactsOfLoad() const {
  ReportFacts facts;
  facts.folder = backupPath_;
  facts.generatedAt = static_cast<int64_t>(std::time(nullptr));
  if (IsDirectory(backupPath_)) {
    const InfoPlistFacts info = ReadInfoPlist(backupPath_);
    facts.device = info.deviceName;
    facts.iosVersion = info.productVersion;
    facts.backupDate = info.lastBackupDate;
  }
  for (const SourceDatabase& s : sources_) {
    ReportSource source{KindWord(s.kind), s.path,    s.domain,
                        s.relativePath,   s.size,    Sha256OfFile(s.path),
                        s.walPath,        s.walSize, ""};
    if (!s.walPath.empty()) source.walSha256 = Sha256OfFile(s.walPath);
    facts.sources.push_back(std::move(source));
  }
  return facts;
}

void MainWindow::ShowExportResult(const ExportResult& result) {
  if (result.ok)
    prompts_.ShowDone();
  else
    prompts_.ShowError(ExportErrorText(result));
}

void MainWindow::ExportJson() {
  const std::optional<std::string> folder = prompts_.AskFolder(kFolderChooserTitle);
  if (!folder) return;
  ShowExportResult(vantrel::ExportJson(collections_, FactsOfLoad(), *folder, HasTraces()));
}

void MainWindow::ExportHtmlReport() {
  const std::optional<std::string> folder = prompts_.AskFolder(kFolderChooserTitle);
  if (!folder) return;
  ShowExportResult(vantrel::ExportHtmlReport(collections_, FactsOfLoad(), *folder, HasTraces()));
}

// Qt's rich-text engine lays out the same report (without its style sheet's
// finer points) and prints it to a PDF file.
void MainWindow::PrintReportToPdf() {
  const std::optional<std::string> path = prompts_.AskSaveFile(
      "Report.pdf",
      {{tr("PDF").toStdString(), {"*.pdf"}}, {tr("All Files").toStdString(), {"*.*"}}});
  if (!path) return;
  QTextDocument document;
  document.setHtml(
      QString::fromStdString(HtmlReportDocument(collections_, FactsOfLoad(), names_, HasTraces())));
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(*path));
  document.print(&printer);
  ExportResult result;
  if (!IsRegularFile(*path)) {
    result.ok = false;
    result.failedFile = *path;
    result.reason = tr("PDF 文件未能写入").toStdString();
  }
  ShowExportResult(result);
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

void MainWindow::ShowMessage(const LoadMessage& message) {
  prompts_.ShowMessage(LoadMessageText(message));
}

}  // namespace vantrel
