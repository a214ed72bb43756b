// What the desktop application remembers between runs, in QSettings under the
// organisation and application names Application sets: the window's geometry,
// its splitters, the record list's column widths per layout, the backups the
// selection dialog listed (and the row last confirmed), the last folder each
// kind of dialog was left in, and the TXT code page.
#pragma once

#include <QByteArray>
#include <QList>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "sources/Collections.h"

namespace vantrel {

class RememberedBackups;

// The dialogs whose last folder is remembered, each on its own.
enum class DialogFolder { BackupFolder, OpenFile, SaveFile, ExportFolder };

// The TXT code page a window starts with when none was chosen.
inline constexpr char kDefaultTxtEncoding[] = "UTF-8";

class Settings {
 public:
  // The user's settings (QSettings with the application's names).
  Settings();
  // A settings file of its own, in INI format: for tests and scratch runs.
  explicit Settings(const QString& iniFile);

  QByteArray windowGeometry() const;
  void setWindowGeometry(const QByteArray& geometry);
  // A splitter's saveState(), by the splitter's object name.
  QByteArray splitterState(const QString& name) const;
  void setSplitterState(const QString& name, const QByteArray& state);
  // The record list's column widths for a layout; empty when never set.
  QList<int> columnWidths(RecordKind kind) const;
  void setColumnWidths(RecordKind kind, const QList<int>& widths);

  // The selection dialog's memory: restored into remembered (folders and the
  // last confirmed row), saved from it.
  void RestoreBackups(RememberedBackups& remembered) const;
  void SaveBackups(const RememberedBackups& remembered);

  // The folder a dialog was last left in; "" when never.
  QString lastFolder(DialogFolder dialog) const;
  void setLastFolder(DialogFolder dialog, const QString& folder);

  // The iconv name TXT files are written in; kDefaultTxtEncoding when never chosen.
  std::string txtEncoding() const;
  void setTxtEncoding(const std::string& encoding);

  void Sync() { store_->sync(); }

 private:
  std::unique_ptr<QSettings> store_;
};

}  // namespace vantrel
