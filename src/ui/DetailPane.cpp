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
#include "sources/messages/Attachments.h"
#include "ui/DetailText.h"

namespace vantrel {

DetailPane::DetailPane(const RecordListView& list, const ContactMap& contacts, UserPrompts& prompts,
                       QWidget* parent)
    : QWidget(parent),
      list_(list),
      contacts_(contacts),
      prompts_(prompts),
      edit_(new QPlainTextEdit(this)),
      attachmentBar_(new QWidget(this)),
      attachments_(new QComboBox(attachmentBar_)),
      save_(new QPushButton(tr("保存附件…"), attachmentBar_)),
      open_(new QPushButton(tr("打开附件"), attachmentBar_)) {
  edit_->setReadOnly(true);
  edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  edit_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  edit_->setFrameShadow(QFrame::Sunken);
  QFont font(kDetailFontFamily, kDetailFontPoints);
  font.setStyleHint(QFont::SansSerif);
  edit_->setFont(font);
  auto* bar = new QHBoxLayout(attachmentBar_);
  bar->setContentsMargins(0, 2, 0, 0);
  bar->addWidget(new QLabel(tr("附件："), attachmentBar_));
  bar->addWidget(attachments_, 1);
  bar->addWidget(save_);
  bar->addWidget(open_);
  attachmentBar_->hide();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(edit_);
  layout->addWidget(attachmentBar_);
  askSave_ = [this](const std::string& suggested) {
    return QFileDialog::getSaveFileName(this, tr("保存附件"), QString::fromStdString(suggested))
        .toStdString();
  };
  connect(save_, &QPushButton::clicked, this, &DetailPane::SaveChosen);
  connect(open_, &QPushButton::clicked, this, &DetailPane::OpenChosen);
  connect(attachments_, &QComboBox::currentIndexChanged, this, &DetailPane::EnableButtons);
}

void DetailPane::EnableButtons(int index) {
  // An enciphered file is offered only with the keys that decipher it: without
  // them it would not open as what it is.
  const bool there = index >= 0 && static_cast<size_t>(index) < shown_.size() &&
                     !shown_[static_cast<size_t>(index)].backupPath.empty() &&
                     (!shown_[static_cast<size_t>(index)].enciphered || keys_);
  save_->setEnabled(there);
  open_->setEnabled(there);
}

void DetailPane::SetBackupKeys(std::shared_ptr<const BackupKeys> keys) {
  keys_ = std::move(keys);
  shown_.clear();
  attachments_->clear();
  attachmentBar_->hide();
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
  // Joined as bytes before decoding: a stored name is shown as it always was.
  for (const MessageAttachment& a : shown_)
    attachments_->addItem(QString::fromStdString(
        a.transferName + (a.backupPath.empty() ? tr("（文件不在备份中）").toStdString()
                          : a.enciphered && !keys_ ? tr("（已加密：需要备份密码）").toStdString()
                                                   : std::string())));
  attachmentBar_->setVisible(!shown_.empty());
}

bool DetailPane::SaveAttachment(int index, const std::string& target, std::string* problem) const {
  std::string reason;
  if (index < 0 || static_cast<size_t>(index) >= shown_.size())
    reason = tr("没有选中附件").toStdString();
  else if (target.empty())
    reason = tr("没有给出文件名").toStdString();
  else
    reason = CopyAttachmentOut(shown_[static_cast<size_t>(index)], target, keys_.get());
  if (problem) *problem = reason;
  return reason.empty();
}

std::string DetailPane::AttachmentCopy(int index, std::string* problem) const {
  std::string reason = tr("没有选中附件").toStdString();
  std::string copy;
  if (index >= 0 && static_cast<size_t>(index) < shown_.size()) {
    copy = CopyToPrivateFolder(
        shown_[static_cast<size_t>(index)],
        (QDir::tempPath() + "/vantrel-attachments").toStdString(),
        std::to_string(QCoreApplication::applicationPid()),
        [this](const MessageAttachment& a, const std::string& target) {
          return CopyAttachmentOut(a, target, keys_.get());
        },
        reason);
  }
  if (problem) *problem = reason;
  return copy;
}

void DetailPane::SaveChosen() {
  const int index = attachments_->currentIndex();
  if (index < 0 || static_cast<size_t>(index) >= shown_.size()) return;
  std::set<std::string> taken;
  const std::string target =
      askSave_(UniqueAttachmentName(shown_[static_cast<size_t>(index)], taken));
  if (target.empty()) return;  // the dialog was cancelled
  std::string problem;
  if (!SaveAttachment(index, target, &problem))
    prompts_.ShowMessage(tr("附件未能保存到 %1：%2")
                             .arg(QString::fromStdString(target), QString::fromStdString(problem))
                             .toStdString());
}

void DetailPane::OpenChosen() {
  std::string problem;
  const std::string copy = AttachmentCopy(attachments_->currentIndex(), &problem);
  if (copy.empty()) {
    prompts_.ShowMessage(tr("附件未能打开：%1").arg(QString::fromStdString(problem)).toStdString());
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(copy)));
}

}  // namespace vantrel
