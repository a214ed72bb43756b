// Every question the desktop application asks the user, and every notice it
// shows, goes through this one interface: the window and dialogs never open a
// modal dialog themselves. QtUserPrompts answers with real dialogs; tests
// answer with a script of their own.
#pragma once

#include <optional>
#include <string>

#include "backup/EncryptedBackup.h"
#include "export/Exporter.h"

namespace vantrel {

class RememberedBackups;

class UserPrompts : public ExportDialogs {
 public:
  // The backup selection dialog opened on currentPath; the path handed back
  // after OK, nullopt after Cancel.
  virtual std::optional<std::string> ChooseBackup(const std::string& currentPath,
                                                  RememberedBackups& remembered) = 0;
  // "其他备份文件夹": a device backup folder; "" when cancelled.
  virtual std::string AskBackupFolder() = 0;
  // The path field's browse button: one database file, the dialog starting at
  // startName; "" when cancelled.
  virtual std::string AskOpenFile(const std::string& startName) = 0;
  // A modal OK message captioned "Vantrel For iPhone Backup".
  virtual void ShowMessage(const std::string& text) = 0;
  // The about box.
  virtual void ShowAbout() = 0;
  // The password of the encrypted backup in folder, asked until it unlocks
  // the backup: its keys, or nullopt when the user gave up.
  virtual std::optional<BackupKeys> AskBackupPassword(const std::string& folder) {
    (void)folder;
    return std::nullopt;
  }
};

}  // namespace vantrel
