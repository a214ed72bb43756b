#include "ui/BackupPasswordDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <thread>

#include "export/StatusTexts.h"
#include "ui/ProductName.h"

namespace vantrel {

// One derivation on its thread. The thread owns a share of it, so a dialog
// closed meanwhile leaves nothing dangling; the result is handed back
// through the event loop only while the dialog still exists.
struct BackupPasswordDialog::Attempt {
  BackupKeys keys;
};

BackupPasswordDialog::BackupPasswordDialog(const std::string& folder, QWidget* parent)
    : QDialog(parent), folder_(folder) {
  setWindowTitle(kProductDisplayName);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(
      tr("此备份已加密，请输入备份密码（在 iTunes 或“访达”中设置的“加密本地备份”密码）："), this));
  password_ = new QLineEdit(this);
  password_->setEchoMode(QLineEdit::Password);
  layout->addWidget(password_);
  notice_ = new QLabel(this);
  notice_->setStyleSheet("color: #b00000");
  layout->addWidget(notice_);
  busyBar_ = new QProgressBar(this);
  busyBar_->setRange(0, 0);  // a busy bar: the derivation tells no progress
  busyBar_->setVisible(false);
  layout->addWidget(busyBar_);
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons_->button(QDialogButtonBox::Ok)->setText(tr("确定"));
  buttons_->button(QDialogButtonBox::Cancel)->setText(tr("取消"));
  layout->addWidget(buttons_);
  connect(buttons_, &QDialogButtonBox::accepted, this, &BackupPasswordDialog::Unlock);
  connect(buttons_, &QDialogButtonBox::rejected, this, &BackupPasswordDialog::reject);
  resize(420, sizeHint().height());
}

BackupPasswordDialog::~BackupPasswordDialog() {
  running_.reset();
}

bool BackupPasswordDialog::busy() const {
  return running_ != nullptr;
}

std::optional<BackupKeys> BackupPasswordDialog::TakeKeys() {
  std::optional<BackupKeys> keys = std::move(keys_);
  keys_.reset();
  return keys;
}

void BackupPasswordDialog::Unlock() {
  if (running_) return;
  QByteArray password = password_->text().toUtf8();
  password_->clear();
  notice_->setText(tr("正在验证密码…"));
  busyBar_->setVisible(true);
  password_->setEnabled(false);
  buttons_->button(QDialogButtonBox::Ok)->setEnabled(false);
  auto attempt = std::make_shared<Attempt>();
  running_ = attempt;
  QPointer<BackupPasswordDialog> self(this);
  std::thread([attempt, self, folder = folder_, password = std::move(password)]() mutable {
    attempt->keys = UnlockBackup(folder, std::string_view(password.constData(), password.size()));
    password.fill('\0');
    // Back on the interface thread; nothing happens if the dialog is gone.
    QMetaObject::invokeMethod(
        qApp,
        [attempt, self] {
          if (self) self->Finished(attempt);
        },
        Qt::QueuedConnection);
  }).detach();
}

void BackupPasswordDialog::Finished(const std::shared_ptr<Attempt>& attempt) {
  if (attempt != running_) return;  // an attempt the user cancelled
  running_.reset();
  busyBar_->setVisible(false);
  password_->setEnabled(true);
  buttons_->button(QDialogButtonBox::Ok)->setEnabled(true);
  password_->setFocus();
  if (attempt->keys.unlocked()) {
    keys_ = std::move(attempt->keys);
    notice_->clear();
    accept();
    return;
  }
  notice_->setText(attempt->keys.status == BackupUnlockStatus::WrongPassword
                       ? tr(kWrongPasswordText)
                       : QString::fromStdString(UnlockFailureText(attempt->keys.status)));
}

void BackupPasswordDialog::reject() {
  running_.reset();  // its result, when it comes, is not wanted
  keys_.reset();
  QDialog::reject();
}

}  // namespace vantrel
