// The backup selection dialog ("选择备份"): lists the device backups of the
// default backup folder and the ones remembered from earlier openings, lets
// the user add a backup from another folder or pick a single database file,
// and hands back one path. Questions it asks (other folder, single file) go
// through UserPrompts.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <string>

#include "backup/Discovery.h"
#include "ui/BackupListModel.h"
#include "ui/CHyperLinker.h"
#include "ui/myeditbrowsectrl.h"

namespace vantrel {

class UserPrompts;

class CFileFindDlg : public QDialog {
  Q_OBJECT
 public:
  // pathText: the current backup path, shown in the path field until a row is selected.
  CFileFindDlg(RememberedBackups& remembered, UserPrompts& prompts, const std::string& pathText,
               QWidget* parent = nullptr);

  // The path handed back after OK.
  std::string pathText() const { return pathText_; }

  QTableView& backupList() { return *list_; }
  BackupListModel& backupRows() { return rows_; }
  CHyperLinker& defaultFolderLink() { return *defaultLink_; }
  CHyperLinker& otherFolderLink() { return *otherLink_; }
  QLabel& messageLine() { return *message_; }
  myeditbrowsectrl& pathField() { return *path_; }
  QPushButton& okButton() { return *ok_; }
  QPushButton& cancelButton() { return *cancel_; }

 public slots:
  void BrowseOtherFolder();  // "其他备份文件夹"
  void accept() override;    // OK: the path field's text and the selected row are kept

 private slots:
  void ShowRowFolder(const QModelIndex& current);
  void ForgetRowSelection();

 private:
  RememberedBackups& remembered_;
  UserPrompts& prompts_;
  std::string pathText_;
  BackupListModel rows_;
  QTableView* list_;
  CHyperLinker* defaultLink_;
  QLabel* message_;
  CHyperLinker* otherLink_;
  myeditbrowsectrl* path_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace vantrel
