// The lower right pane: the detail of the record last pressed in the list, as
// read-only labelled text in a CJK-capable font. The text stays until the
// next press on the list; changing category leaves it. Below the text, for a
// message with attachments, a bar to save the chosen one or open a copy of it
// (copied into a temporary folder first: the backup's own file is never
// handed to another program, and its hashed name has no extension).
#pragma once

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <string>

#include "recovery/Records.h"
#include "ui/RecordListView.h"

namespace vantrel {

// The detail font: a CJK sans-serif Debian ships (fonts-wqy-microhei), 9 points.
inline constexpr char kDetailFontFamily[] = "WenQuanYi Micro Hei";
inline constexpr int kDetailFontPoints = 9;

class DetailPane : public QWidget {
  Q_OBJECT
 public:
  DetailPane(const RecordListView& list, const ContactMap& contacts, QWidget* parent = nullptr);

  QPlainTextEdit& edit() { return *edit_; }
  QString text() const { return edit_->toPlainText(); }
  QComboBox& attachmentChoice() { return *attachments_; }
  QPushButton& saveButton() { return *save_; }
  QPushButton& openButton() { return *open_; }

  // The question "save the attachment where?" (the suggested name in, a path
  // or "" out); a file dialog unless replaced (tests answer it themselves).
  void SetSaveAsker(std::function<std::string(const std::string&)> ask) { askSave_ = ask; }
  // Copies the chosen attachment to target; false when it is not in the
  // backup or cannot be written.
  bool SaveAttachment(int index, const std::string& target) const;
  // A copy of the chosen attachment in a temporary folder, under its name;
  // "" when it is not in the backup or cannot be copied.
  std::string AttachmentCopy(int index) const;

 public slots:
  void ShowRow(int row);

 private:
  const RecordListView& list_;
  const ContactMap& contacts_;
  void SaveChosen();
  void OpenChosen();

  QPlainTextEdit* edit_;
  QWidget* attachmentBar_;
  QComboBox* attachments_;
  QPushButton* save_;
  QPushButton* open_;
  std::vector<MessageAttachment> shown_;  // the attachments of the record shown
  std::function<std::string(const std::string&)> askSave_;
};

}  // namespace vantrel
