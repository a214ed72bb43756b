#include "ui/Settings.h"

#include <QVariant>

#include "backup/Discovery.h"

namespace vantrel {
namespace {

QString ColumnKey(RecordKind kind) {
  return QString("list/columns%1").arg(static_cast<int>(kind));
}

QString FolderKey(DialogFolder dialog) {
  switch (dialog) {
    case DialogFolder::BackupFolder:
      return "folders/backup";
    case DialogFolder::OpenFile:
      return "folders/open";
    case DialogFolder::SaveFile:
      return "folders/save";
    case DialogFolder::ExportFolder:
      break;
  }
  return "folders/export";
}

}  // namespace

Settings::Settings() : store_(std::make_unique<QSettings>()) {}

Settings::Settings(const QString& iniFile)
    : store_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

QByteArray Settings::windowGeometry() const {
  return store_->value("window/geometry").toByteArray();
}

void Settings::setWindowGeometry(const QByteArray& geometry) {
  store_->setValue("window/geometry", geometry);
}

QByteArray Settings::splitterState(const QString& name) const {
  return store_->value("window/splitter-" + name).toByteArray();
}

void Settings::setSplitterState(const QString& name, const QByteArray& state) {
  store_->setValue("window/splitter-" + name, state);
}

QList<int> Settings::columnWidths(RecordKind kind) const {
  QList<int> widths;
  for (const QVariant& width : store_->value(ColumnKey(kind)).toList()) widths << width.toInt();
  return widths;
}

void Settings::setColumnWidths(RecordKind kind, const QList<int>& widths) {
  QVariantList values;
  for (int width : widths) values << width;
  store_->setValue(ColumnKey(kind), values);
}

void Settings::RestoreBackups(RememberedBackups& remembered) const {
  std::vector<std::string> folders;
  for (const QString& folder : store_->value("backups/folders").toStringList())
    folders.push_back(folder.toStdString());
  // The folders are examined again when the dialog opens: one that is no
  // longer a backup drops out there, as within one run.
  remembered.RememberFolders(folders);
  remembered.Confirm(store_->value("backups/lastRow", -1).toInt());
}

void Settings::SaveBackups(const RememberedBackups& remembered) {
  QStringList folders;
  for (const std::string& folder : remembered.folders()) folders << QString::fromStdString(folder);
  store_->setValue("backups/folders", folders);
  store_->setValue("backups/lastRow", remembered.lastRow());
}

QString Settings::lastFolder(DialogFolder dialog) const {
  return store_->value(FolderKey(dialog)).toString();
}

void Settings::setLastFolder(DialogFolder dialog, const QString& folder) {
  if (!folder.isEmpty()) store_->setValue(FolderKey(dialog), folder);
}

std::string Settings::txtEncoding() const {
  return store_->value("export/txtEncoding", kDefaultTxtEncoding).toString().toStdString();
}

void Settings::setTxtEncoding(const std::string& encoding) {
  store_->setValue("export/txtEncoding", QString::fromStdString(encoding));
}

}  // namespace vantrel
