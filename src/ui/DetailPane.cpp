#include "ui/DetailPane.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>
#include <set>

#include "export/AttachmentCopy.h"
#include "ui/DetailText.h"

namespace vantrel {

DetailPane::DetailPane(const RecordListView& list, const ContactMap& contacts, QWidget* parent)
    : QWidget(parent),
      list_(list),
      contacts_(contacts),
      edit_(new QPlainTextEdit(this)),
      attachmentBar_(new QWidget(this)),
      attachments_(new QComboBox(attachmentBar_)),
      save_(new QPushButton("保存附件…", attachmentBar_)),
      open_(new QPushButton("打开附件", attachmentBar_)) {
  edit_->setReadOnly(true);
  edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  edit_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  edit_->setFrameShadow(QFrame::Sunken);
  QFont font(kDetailFontFamily, kDetailFontPoints);
  font.setStyleHint(QFont::SansSerif);
  edit_->setFont(font);
  auto* bar = new QHBoxLayout(attachmentBar_);
  bar->setContentsMargins(0, 2, 0, 0);
  bar->addWidget(new QLabel("附件：", attachmentBar_));
  bar->addWidget(attachments_, 1);
  bar->addWidget(save_);
  bar->addWidget(open_);
  attachmentBar_->hide();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(edit_);
  layout->addWidget(attachmentBar_);
  askSave_ = [this](const std::string& suggested) {
    return QFileDialog::getSaveFileName(this, "保存附件", QString::fromStdString(suggested))
        .toStdString();
  };
  connect(save_, &QPushButton::clicked, this, &DetailPane::SaveChosen);
  connect(open_, &QPushButton::clicked, this, &DetailPane::OpenChosen);
  connect(attachments_, &QComboBox::currentIndexChanged, this, [this](int index) {
    // An encrypted backup's attachment is enciphered: the window does not
    // keep the keys, so it is not offered as a file that would not open.
    const bool there = index >= 0 && static_cast<size_t>(index) < shown_.size() &&
                       !shown_[static_cast<size_t>(index)].backupPath.empty() &&
                       !shown_[static_cast<size_t>(index)].enciphered;
    save_->setEnabled(there);
    open_->setEnabled(there);
  });
}

void DetailPane::ShowRow(int row) {
  const RecordTableModel& records = list_.records();
  edit_->setPlainText(QString::fromStdString(DetailText(records, row, contacts_)));
  shown_.clear();
  attachments_->clear();
  if (records.recordKind() == RecordKind::Messages) {
    if (const MessageRecord* m = records.MessageAt(row); m != nullptr && m->extras)
      shown_ = m->extras->attachments;
  }
  for (const MessageAttachment& a : shown_)
    attachments_->addItem(QString::fromStdString(
        a.transferName + (a.backupPath.empty() ? "（文件不在备份中）"
                          : a.enciphered ? "（已加密：用 vantrel-cli export --attachments 导出）"
                                         : "")));
  attachmentBar_->setVisible(!shown_.empty());
}

bool DetailPane::SaveAttachment(int index, const std::string& target) const {
  if (index < 0 || static_cast<size_t>(index) >= shown_.size()) return false;
  return CopyAttachmentFile(shown_[static_cast<size_t>(index)], target);
}

std::string DetailPane::AttachmentCopy(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= shown_.size()) return {};
  // One fresh folder per copy, so two attachments of one name never meet.
  const QString base = QDir::tempPath() + "/vantrel-attachments";
  QDir().mkpath(base);
  for (int n = 1; n < 10000; ++n) {
    const QString folder =
        base + "/" + QString::number(QCoreApplication::applicationPid()) + "-" + QString::number(n);
    if (QDir(folder).exists()) continue;
    QDir().mkpath(folder);
    std::set<std::string> taken;
    const std::string target = folder.toStdString() + "/" +
                               UniqueAttachmentName(shown_[static_cast<size_t>(index)], taken);
    return SaveAttachment(index, target) ? target : std::string();
  }
  return {};
}

void DetailPane::SaveChosen() {
  const int index = attachments_->currentIndex();
  if (index < 0 || static_cast<size_t>(index) >= shown_.size()) return;
  std::set<std::string> taken;
  const std::string target =
      askSave_(UniqueAttachmentName(shown_[static_cast<size_t>(index)], taken));
  if (!target.empty() && !SaveAttachment(index, target))
    edit_->appendPlainText(QString::fromStdString("附件未能保存到 " + target));
}

void DetailPane::OpenChosen() {
  const std::string copy = AttachmentCopy(attachments_->currentIndex());
  if (copy.empty()) {
    edit_->appendPlainText("附件未能打开：文件不在备份中或无法复制");
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(copy)));
}

}  // namespace vantrel
