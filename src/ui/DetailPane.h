// The lower right pane: the detail of the record last pressed in the list, as
// read-only labelled text in a CJK-capable font. The text stays until the
// next press on the list; changing category leaves it. Below the text, for a
// message with attachments, a bar to save the chosen one or open a copy of it
// (copied into a temporary folder first: the backup's own file is never
// handed to another program, and its hashed name has no extension). An
// encrypted backup's attachments are deciphered on the way out with the keys
// the window hands over; what cannot be written is said in a message box.
#pragma once

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "backup/EncryptedBackup.h"
#include "sources/Collections.h"
#include "ui/RecordListView.h"
#include "ui/UserPrompts.h"

namespace vantrel {

// The detail font: a CJK sans-serif Debian ships (fonts-wqy-microhei), 9 points.
inline constexpr char kDetailFontFamily[] = "WenQuanYi Micro Hei";
inline constexpr int kDetailFontPoints = 9;

class DetailPane : public QWidget {
  Q_OBJECT
 public:
  DetailPane(const RecordListView& list, const ContactMap& contacts, UserPrompts& prompts,
             QWidget* parent = nullptr);

  QPlainTextEdit& edit() { return *edit_; }
  QString text() const { return edit_->toPlainText(); }
  QComboBox& attachmentChoice() { return *attachments_; }
  QPushButton& saveButton() { return *save_; }
  QPushButton& openButton() { return *open_; }

  // The question "save the attachment where?" (the suggested name in, a path
  // or "" out); a file dialog unless replaced (tests answer it themselves).
  void SetSaveAsker(std::function<std::string(const std::string&)> ask) { askSave_ = ask; }
  // The keys of the encrypted backup just opened, or null for any other
  // backup or file. The attachments shown belong to the backup before, so
  // they are forgotten (the bar hides until the next press on the list).
  void SetBackupKeys(std::shared_ptr<const BackupKeys> keys);
  // Writes the chosen attachment's plain bytes to target (deciphered when the
  // backup is encrypted); false, with the reason in problem, when it is not in
  // the backup, does not decipher or cannot be written.
  bool SaveAttachment(int index, const std::string& target, std::string* problem = nullptr) const;
  // A copy of the chosen attachment in a fresh temporary folder, under its
  // name; "" (the reason in problem) when it cannot be made. The folder is
  // the user's alone (0700) and the file too (0600): a deciphered copy is
  // the attachment in plain on disk.
  std::string AttachmentCopy(int index, std::string* problem = nullptr) const;

 public slots:
  void ShowRow(int row);

 private:
  const RecordListView& list_;
  const ContactMap& contacts_;
  UserPrompts& prompts_;
  void SaveChosen();
  void OpenChosen();
  void EnableButtons(int index);

  QPlainTextEdit* edit_;
  QWidget* attachmentBar_;
  QComboBox* attachments_;
  QPushButton* save_;
  QPushButton* open_;
  std::vector<MessageAttachment> shown_;  // the attachments of the record shown
  std::function<std::string(const std::string&)> askSave_;
  std::shared_ptr<const BackupKeys> keys_;  // the open backup's, while it is open
};

}  // namespace vantrel
