#include "ui/FilePathField.h"

#include <QFileInfo>
#include <QHBoxLayout>

#include "ui/UserPrompts.h"

namespace vantrel {

FilePathField::FilePathField(UserPrompts& prompts, QWidget* parent)
    : QWidget(parent),
      prompts_(prompts),
      edit_(new QLineEdit(this)),
      button_(new QToolButton(this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(edit_, 1);
  layout->addWidget(button_);
  button_->setText(tr("..."));
  button_->setFocusPolicy(Qt::NoFocus);
  // QToolButton reports clicked() only when released over itself, which is
  // exactly when a browse should run.
  connect(button_, &QToolButton::clicked, this, &FilePathField::Browse);
}

QString FilePathField::StartingName(const QString& fieldText) {
  if (fieldText.isEmpty()) return {};
  return QFileInfo(fieldText).completeBaseName().trimmed();
}

void FilePathField::Browse() {
  const QString current = edit_->text();
  // Characters no file name may hold: refuse to browse and send the user back to the field.
  for (QChar c : QStringLiteral("*?<>|")) {
    if (current.contains(c)) {
      edit_->setFocus();
      return;
    }
  }
  const std::string chosen = prompts_.AskOpenFile(StartingName(current).toStdString());
  if (!chosen.empty()) {
    const QString path = QString::fromStdString(chosen);
    if (path != current) {
      emit fileChosen(path);
      edit_->setText(path);
      edit_->setModified(true);
    }
  }
  if (parentWidget()) parentWidget()->update();
}

}  // namespace vantrel
