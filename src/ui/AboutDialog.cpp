#include "ui/AboutDialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "ui/Artwork.h"

namespace vantrel {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kAboutCaption);
  auto* icon = new QLabel(this);
  icon->setPixmap(ApplicationIcon().pixmap(32, 32));
  auto* text = new QLabel(kAboutText, this);
  text->setObjectName("aboutText");
  auto* ok = new QPushButton("确定", this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(21, 21, 12, 12);
  layout->setHorizontalSpacing(16);
  layout->addWidget(icon, 0, 0, Qt::AlignTop);
  layout->addWidget(text, 0, 1, Qt::AlignTop | Qt::AlignLeft);
  layout->setRowStretch(1, 1);
  layout->addWidget(ok, 2, 1, Qt::AlignRight);
  setFixedSize(256, 146);
}

}  // namespace vantrel
