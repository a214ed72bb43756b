#include "ui/QtUserPrompts.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include "export/Exporter.h"
#include "ui/AboutDialog.h"
#include "ui/BackupPasswordDialog.h"
#include "ui/BackupPickerDialog.h"
#include "ui/ProductName.h"

namespace vantrel {

QString QtFileFilter(const FileFilters& filters) {
  QStringList shown;
  for (const FileFilter& filter : filters) {
    QStringList patterns;
    for (const std::string& pattern : filter.patterns) patterns << QString::fromStdString(pattern);
    // QFileDialog reads the patterns from the parentheses of each filter.
    shown << QString::fromStdString(filter.label) + "(" + patterns.join(' ') + ")";
  }
  return shown.join(";;");
}

QString FirstFilterExtension(const FileFilters& filters) {
  if (filters.empty() || filters.front().patterns.empty()) return {};
  const QString pattern = QString::fromStdString(filters.front().patterns.front());
  const int dot = pattern.lastIndexOf('.');
  const QString extension = dot < 0 ? QString() : pattern.mid(dot + 1);
  return extension.contains('*') ? QString() : extension;
}

QString QtUserPrompts::StartFolder(DialogFolder dialog, const QString& fallback) const {
  const QString folder = settings_ ? settings_->lastFolder(dialog) : QString();
  // A folder since removed (an unplugged disk) would open the dialog nowhere.
  return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : fallback;
}

void QtUserPrompts::Remember(DialogFolder dialog, const QString& folder) {
  if (settings_) settings_->setLastFolder(dialog, folder);
}

std::optional<std::string> QtUserPrompts::ChooseBackup(const std::string& currentPath,
                                                       RememberedBackups& remembered) {
  BackupPickerDialog dialog(remembered, *this, currentPath, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.pathText();
}

std::optional<BackupKeys> QtUserPrompts::AskBackupPassword(const std::string& folder) {
  BackupPasswordDialog dialog(folder, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.TakeKeys();
}

std::string QtUserPrompts::AskBackupFolder() {
  const QString folder = QFileDialog::getExistingDirectory(parent_, tr("请选择文件夹"),
                                                           StartFolder(DialogFolder::BackupFolder));
  // The parent of a chosen backup: the next backup is most likely its sibling.
  if (!folder.isEmpty()) Remember(DialogFolder::BackupFolder, QFileInfo(folder).absolutePath());
  return folder.toStdString();
}

std::string QtUserPrompts::AskOpenFile(const std::string& startName) {
  // No filter: any file may be a database.
  const QString start =
      startName.empty() ? StartFolder(DialogFolder::OpenFile) : QString::fromStdString(startName);
  const QString file = QFileDialog::getOpenFileName(parent_, tr("打开"), start);
  if (!file.isEmpty()) Remember(DialogFolder::OpenFile, QFileInfo(file).absolutePath());
  return file.toStdString();
}

void QtUserPrompts::ShowMessage(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, kProductDisplayName, QString::fromStdString(text),
                  QMessageBox::Ok, parent_);
  box.button(QMessageBox::Ok)->setText(tr("确定"));
  box.exec();
}

void QtUserPrompts::ShowAbout() {
  AboutDialog dialog(parent_);
  dialog.exec();
}

std::optional<std::string> QtUserPrompts::AskSaveFile(const std::string& defaultName,
                                                      const FileFilters& filters) {
  QFileDialog dialog(parent_);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QtFileFilter(filters));
  dialog.setDefaultSuffix(FirstFilterExtension(filters));
  dialog.setDirectory(StartFolder(DialogFolder::SaveFile, QDir::currentPath()));
  dialog.selectFile(QString::fromStdString(defaultName));
  // QFileDialog asks before overwriting an existing file, as the save commands want.
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const QString file = dialog.selectedFiles().front();
  Remember(DialogFolder::SaveFile, QFileInfo(file).absolutePath());
  return file.toStdString();
}

std::optional<std::string> QtUserPrompts::AskFolder(const std::string& title) {
  const QString folder = QFileDialog::getExistingDirectory(parent_, QString::fromStdString(title),
                                                           StartFolder(DialogFolder::ExportFolder));
  if (folder.isEmpty()) return std::nullopt;
  Remember(DialogFolder::ExportFolder, folder);
  return folder.toStdString();
}

void QtUserPrompts::ShowDone() {
  ShowMessage(kExportDoneText);
}

void QtUserPrompts::ShowError(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, kProductDisplayName, QString::fromStdString(text),
                  QMessageBox::Ok, parent_);
  box.button(QMessageBox::Ok)->setText(tr("确定"));
  box.exec();
}

}  // namespace vantrel
