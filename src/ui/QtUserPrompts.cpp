#include "ui/QtUserPrompts.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "backup/BackupLoader.h"
#include "ui/AboutDialog.h"
#include "ui/BackupPickerDialog.h"

namespace vantrel {

QString QtFileFilter(const std::string& pipeFilter) {
  const QStringList parts = QString::fromStdString(pipeFilter).split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    const QString& pattern = parts[i + 1];
    if (description.isEmpty() || pattern.isEmpty()) break;
    // QFileDialog reads the patterns from the parentheses of each filter.
    filters << (description.contains("(" + pattern + ")") ? description
                                                          : description + " (" + pattern + ")");
  }
  return filters.join(";;");
}

QString FirstFilterExtension(const std::string& pipeFilter) {
  const QStringList parts = QString::fromStdString(pipeFilter).split('|');
  if (parts.size() < 2) return {};
  const QString pattern = parts[1].section(';', 0, 0);
  const int dot = pattern.lastIndexOf('.');
  const QString extension = dot < 0 ? QString() : pattern.mid(dot + 1);
  return extension.contains('*') ? QString() : extension;
}

std::optional<std::string> QtUserPrompts::ChooseBackup(const std::string& currentPath,
                                                       RememberedBackups& remembered) {
  BackupPickerDialog dialog(remembered, *this, currentPath, parent_);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.pathText();
}

std::string QtUserPrompts::AskBackupFolder() {
  return QFileDialog::getExistingDirectory(parent_, "请选择文件夹").toStdString();
}

std::string QtUserPrompts::AskOpenFile(const std::string& startName) {
  // No filter: any file may be a database.
  return QFileDialog::getOpenFileName(parent_, "打开", QString::fromStdString(startName))
      .toStdString();
}

void QtUserPrompts::ShowMessage(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, kProductDisplayName, QString::fromStdString(text),
                  QMessageBox::Ok, parent_);
  box.button(QMessageBox::Ok)->setText("确定");
  box.exec();
}

void QtUserPrompts::ShowAbout() {
  AboutDialog dialog(parent_);
  dialog.exec();
}

std::optional<std::string> QtUserPrompts::AskSaveFile(const std::string& defaultName,
                                                      const std::string& filter) {
  QFileDialog dialog(parent_);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QtFileFilter(filter));
  dialog.setDefaultSuffix(FirstFilterExtension(filter));
  dialog.setDirectory(QDir::currentPath());
  dialog.selectFile(QString::fromStdString(defaultName));
  // QFileDialog asks before overwriting an existing file, as the save commands want.
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> QtUserPrompts::AskFolder(const std::string& title) {
  const QString folder = QFileDialog::getExistingDirectory(parent_, QString::fromStdString(title));
  if (folder.isEmpty()) return std::nullopt;
  return folder.toStdString();
}

void QtUserPrompts::ShowDone() {
  ShowMessage(kExportDoneText);
}

void QtUserPrompts::ShowError(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, kProductDisplayName, QString::fromStdString(text),
                  QMessageBox::Ok, parent_);
  box.button(QMessageBox::Ok)->setText("确定");
  box.exec();
}

}  // namespace vantrel
