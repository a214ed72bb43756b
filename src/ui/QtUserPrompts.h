// The desktop answers to UserPrompts: the selection dialog, Qt file and folder
// dialogs (each opening where its kind was last left), and message boxes
// captioned "Vantrel For iPhone Backup".
#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "ui/Settings.h"
#include "ui/UserPrompts.h"

namespace vantrel {

// Save-dialog file types in the form QFileDialog takes: each label followed
// by its patterns in parentheses, the filters joined by ";;"
// ("(*.csv);;All Files(*.*)"); and the extension of the first pattern ("csv";
// empty when it is a wildcard).
QString QtFileFilter(const FileFilters& filters);
QString FirstFilterExtension(const FileFilters& filters);

class QtUserPrompts : public UserPrompts {
  Q_DECLARE_TR_FUNCTIONS(vantrel::QtUserPrompts)

 public:
  explicit QtUserPrompts(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }
  // Each file and folder dialog opens where the same kind of dialog was last
  // left, remembered in settings (none: where Qt starts them).
  void SetSettings(Settings* settings) { settings_ = settings; }
  // Where a dialog of that kind opens: the remembered folder, else fallback.
  QString StartFolder(DialogFolder dialog, const QString& fallback = QString()) const;

  std::optional<std::string> ChooseBackup(const std::string& currentPath,
                                          RememberedBackups& remembered) override;
  std::string AskBackupFolder() override;
  std::string AskOpenFile(const std::string& startName) override;
  void ShowMessage(const std::string& text) override;
  void ShowAbout() override;
  std::optional<BackupKeys> AskBackupPassword(const std::string& folder) override;

  std::optional<std::string> AskSaveFile(const std::string& defaultName,
                                         const FileFilters& filters) override;
  std::optional<std::string> AskFolder(const std::string& title) override;
  void ShowDone() override;
  void ShowError(const std::string& text) override;

 private:
  void Remember(DialogFolder dialog, const QString& folder);

  QPointer<QWidget> parent_;
  Settings* settings_ = nullptr;
};

}  // namespace vantrel
