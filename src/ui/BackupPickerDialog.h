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
#include "ui/FilePathField.h"
#include "ui/LinkLabel.h"

namespace vantrel {

class UserPrompts;

class BackupPickerDialog : public QDialog {
  Q_OBJECT
 public:
  // pathText: the current backup path, shown in the path field until a row is selected.
  BackupPickerDialog(RememberedBackups& remembered, UserPrompts& prompts,
                     const std::string& pathText, QWidget* parent = nullptr);

  // The path handed back after OK.
  std::string pathText() const { return pathText_; }

  QTableView& backupList() { return *list_; }
  BackupListModel& backupRows() { return rows_; }
  LinkLabel& defaultFolderLink() { return *defaultLink_; }
  LinkLabel& otherFolderLink() { return *otherLink_; }
  QLabel& messageLine() { return *message_; }
  FilePathField& pathField() { return *path_; }
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
  LinkLabel* defaultLink_;
  QLabel* message_;
  LinkLabel* otherLink_;
  FilePathField* path_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace vantrel
