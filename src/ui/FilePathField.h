// The selection dialog's path field: a line edit with a browse button that
// picks a single database file. The file question goes through UserPrompts;
// a pick that differs from the field's text replaces it and reports
// fileChosen(), so the dialog can clear its backup list's selection.
#pragma once

#include <QLineEdit>
#include <QToolButton>
#include <QWidget>

namespace vantrel {

class UserPrompts;

class FilePathField : public QWidget {
  Q_OBJECT
 public:
  FilePathField(UserPrompts& prompts, QWidget* parent = nullptr);

  QString text() const { return edit_->text(); }
  void setText(const QString& text) { edit_->setText(text); }
  QLineEdit* edit() const { return edit_; }
  QToolButton* browseButton() const { return button_; }

  // The starting name offered to the file dialog for a field text: its file
  // name without folder and extension, trimmed of blanks ("" for an empty text).
  static QString StartingName(const QString& fieldText);

 public slots:
  void Browse();

 signals:
  void fileChosen(const QString& path);

 private:
  UserPrompts& prompts_;
  QLineEdit* edit_;
  QToolButton* button_;
};

}  // namespace vantrel
