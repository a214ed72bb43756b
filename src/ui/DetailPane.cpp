#include "ui/DetailPane.h"

#include <QVBoxLayout>

#include "ui/DetailText.h"

namespace vantrel {

DetailPane::DetailPane(const RecordListView& list, const ContactMap& contacts, QWidget* parent)
    : QWidget(parent), list_(list), contacts_(contacts), edit_(new QPlainTextEdit(this)) {
  edit_->setReadOnly(true);
  edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  edit_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  edit_->setFrameShadow(QFrame::Sunken);
  QFont font(kDetailFontFamily, kDetailFontPoints);
  font.setStyleHint(QFont::SansSerif);
  edit_->setFont(font);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(edit_);
}

void DetailPane::ShowRow(int row) {
  edit_->setPlainText(QString::fromStdString(DetailText(list_.records(), row, contacts_)));
}

}  // namespace vantrel
