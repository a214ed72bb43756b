// Answers the desktop application's questions from a script and records every
// question and notice, so tests drive the real windows without a modal dialog.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/UserPrompts.h"

namespace vantrel::test {

struct ScriptedPrompts : UserPrompts {
  // Answers.
  std::optional<std::string> chooseBackupAnswer;  // nullopt: Cancel
  std::string backupFolderAnswer;                 // "" : cancelled
  std::string openFileAnswer;                     // "" : cancelled
  std::optional<std::string> saveFileAnswer;
  std::optional<std::string> folderAnswer;
  std::optional<std::string> passwordAnswer;  // nullopt: the password dialog is cancelled

  // What was asked and shown.
  int chooseBackupCalls = 0;
  std::string lastCurrentPath;
  std::string lastStartName;
  int openFileCalls = 0;
  std::string lastDefaultName;
  FileFilters lastFilter;
  std::string lastFolderTitle;
  std::vector<std::string> messages;
  std::vector<std::string> errors;
  int doneCount = 0;
  int aboutCount = 0;
  int passwordCalls = 0;

  std::optional<std::string> ChooseBackup(const std::string& currentPath,
                                          RememberedBackups&) override {
    ++chooseBackupCalls;
    lastCurrentPath = currentPath;
    return chooseBackupAnswer;
  }
  std::string AskBackupFolder() override { return backupFolderAnswer; }
  std::string AskOpenFile(const std::string& startName) override {
    ++openFileCalls;
    lastStartName = startName;
    return openFileAnswer;
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ShowAbout() override { ++aboutCount; }
  std::optional<BackupKeys> AskBackupPassword(const std::string& folder) override {
    ++passwordCalls;
    if (!passwordAnswer) return std::nullopt;
    BackupKeys keys = UnlockBackup(folder, *passwordAnswer);
    if (!keys.unlocked()) return std::nullopt;
    return keys;
  }
  std::optional<std::string> AskSaveFile(const std::string& defaultName,
                                         const FileFilters& filter) override {
    lastDefaultName = defaultName;
    lastFilter = filter;
    return saveFileAnswer;
  }
  std::optional<std::string> AskFolder(const std::string& title) override {
    lastFolderTitle = title;
    return folderAnswer;
  }
  void ShowDone() override { ++doneCount; }
  void ShowError(const std::string& text) override { errors.push_back(text); }
};

}  // namespace vantrel::test
