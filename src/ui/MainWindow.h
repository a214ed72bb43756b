// The main window: toolbar, status bar, the category tree on the left and the
// record list over the record detail on the right. It owns what the last load
// produced (the chosen path and the record collections), shows a load
// through LoadObserver, and routes the toolbar commands. Each command is one
// slot; every question and notice goes through UserPrompts.
#pragma once

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QSplitter>
#include <QToolBar>
#include <memory>
#include <string>

#include "backup/Discovery.h"
#include "export/Exporter.h"
#include "export/ReportFacts.h"
#include "load/BackupLoader.h"
#include "load/LoadObserver.h"
#include "model/ContactNames.h"
#include "ui/CategoryPane.h"
#include "ui/DetailPane.h"
#include "ui/LoadProgressDialog.h"
#include "ui/SearchBar.h"
#include "ui/Settings.h"
#include "ui/UserPrompts.h"

namespace vantrel {

class MainWindow : public QMainWindow, public LoadObserver {
  Q_OBJECT
 public:
  static constexpr int kTreePaneWidth = 350;
  static constexpr int kCategoryPaneWidth = 250;
  static constexpr int kCountPaneWidth = 150;

  explicit MainWindow(UserPrompts& prompts, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Loads path as the current backup: a folder is a device backup, anything
  // else one database file. A path that does not exist shows "没有找到文件"
  // and keeps the previous backup. Returns whether a load ran.
  bool LoadPath(const std::string& path);

  // Remembers the window's state in settings from now on: restores what it
  // holds (size and position, splitters, column widths, remembered backups,
  // TXT code page) and saves them on close and after each backup selection.
  // A window without settings remembers nothing beyond its own life.
  void UseSettings(Settings* settings);
  void SaveSettings();

  // The code pages the TXT code page box offers, those iconv knows, UTF-8 first.
  static QStringList TxtEncodings();
  const std::string& txtEncoding() const { return exportOptions_.txtEncoding; }
  QComboBox& txtEncodingBox() { return *txtEncodingBox_; }

  // Sizes the panes as at creation: the tree 350 pixels wide, the list 3/5 and
  // the detail 2/5 of the right side's height. Runs once when first shown.
  void LayOutPanes();

  // LoadObserver
  void BeginProgress() override;
  void StepProgress() override;
  void EndProgress() override;
  void ResetViews() override;
  CategoryHandle AddCategory(RecordKind kind) override;
  void AddCount(CategoryHandle parent, Category category, int count) override;
  void ExpandCategory(CategoryHandle category) override;
  void ShowMessage(const LoadMessage& message) override;

  // Panes, bars and data, for start-up and tests.
  CategoryPane& treePane() { return *treePane_; }
  RecordListView& recordList() { return *recordList_; }
  SearchBar& searchBar() { return *searchBar_; }
  DetailPane& detailPane() { return *detailPane_; }
  QSplitter& splitter() { return *splitter_; }
  QSplitter& rightView() { return *rightView_; }
  QToolBar& toolbar() { return *toolbar_; }
  QLabel& promptPane() { return *promptPane_; }
  QLabel& categoryPane() { return *categoryPane_; }
  QLabel& countPane() { return *countPane_; }
  QLabel& scrollLockPane() { return *scrollLockPane_; }
  QAction& action(const char* objectName);  // actions by object name, e.g. "selectBackup"
  const Collections& collections() const { return collections_; }
  const std::string& backupPath() const { return backupPath_; }
  const RememberedBackups& rememberedBackups() const { return remembered_; }
  int lastProgressSteps() const { return lastProgressSteps_; }

 public slots:
  void SelectBackup();
  void SaveAllCsv();
  void SaveCurrentCsv();
  void SaveAllTxt();
  void SaveCurrentTxt();
  void ShowAbout();
  void ToggleToolbar();
  // The export menu: Vantrel.json or Report.html into a chosen folder, or
  // the report printed to a PDF file.
  void ExportJson();
  void ExportHtmlReport();
  void PrintReportToPdf();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateActions();
  void CreateBars();
  void CreatePanes();
  void SaveCurrent(ExportFormat format);
  void SaveAll(ExportFormat format);
  void ShowStatusTexts(const QString& category, const QString& count);
  void ChooseTxtEncoding(const QString& encoding);
  void ApplyFilter(const RecordFilter& filter);
  bool HasTraces() const;
  ReportFacts FactsOfLoad() const;
  void ShowExportResult(const ExportResult& result);

  UserPrompts& prompts_;
  std::string backupPath_;        // the path of the last load
  Collections collections_;       // what it produced
  RememberedBackups remembered_;  // the selection dialog's memory, for the window's whole life
  ExportOptions exportOptions_;
  std::vector<SourceDatabase> sources_;     // the database files of the last load
  ContactNames names_;                      // the address book of the last load
  std::shared_ptr<const BackupKeys> keys_;  // the last load's when it was encrypted, else null

  QSplitter* splitter_ = nullptr;
  CategoryPane* treePane_ = nullptr;
  QSplitter* rightView_ = nullptr;
  RecordListView* recordList_ = nullptr;
  SearchBar* searchBar_ = nullptr;
  DetailPane* detailPane_ = nullptr;
  QToolBar* toolbar_ = nullptr;
  QComboBox* txtEncodingBox_ = nullptr;
  Settings* settings_ = nullptr;
  QLabel* promptPane_ = nullptr;
  QLabel* categoryPane_ = nullptr;
  QLabel* countPane_ = nullptr;
  QLabel* scrollLockPane_ = nullptr;
  std::unique_ptr<LoadProgressDialog> progress_;
  int lastProgressSteps_ = 0;
  bool panesLaidOut_ = false;
  bool scrollLock_ = false;
};

}  // namespace vantrel
