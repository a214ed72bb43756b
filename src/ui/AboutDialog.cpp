#include "ui/AboutDialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "platform/Version.h"
#include "ui/Artwork.h"
#include "ui/ProductName.h"

namespace vantrel {

QString AboutText() {
  return QString(kProductDisplayName) + " " + VersionNumber();
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr(kAboutCaption));
  auto* icon = new QLabel(this);
  icon->setPixmap(ApplicationIcon().pixmap(32, 32));
  auto* text = new QLabel(AboutText(), this);
  text->setObjectName("aboutText");
  // The commit lets a bug note name the exact build; a build outside git has none.
  auto* build = new QLabel(
      *VersionCommit() ? tr("commit %1").arg(QString::fromUtf8(VersionCommit())) : QString(), this);
  build->setObjectName("aboutBuild");
  build->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* ok = new QPushButton(tr("确定"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(21, 21, 12, 12);
  layout->setHorizontalSpacing(16);
  layout->addWidget(icon, 0, 0, Qt::AlignTop);
  layout->addWidget(text, 0, 1, Qt::AlignTop | Qt::AlignLeft);
  layout->addWidget(build, 1, 1, Qt::AlignTop | Qt::AlignLeft);
  layout->setRowStretch(2, 1);
  layout->addWidget(ok, 3, 1, Qt::AlignRight);
  setFixedSize(256, 146);
}

}  // namespace vantrel
