// Asks for an encrypted backup's password and unlocks it. The key derivation
// takes seconds with a real backup's round counts, so it runs on a thread of
// its own while the dialog shows a busy bar; Cancel closes the dialog at once
// and the derivation's result, when it comes, is thrown away (OpenSSL's
// PBKDF2 cannot be stopped part way). A wrong password says so and lets the
// user try again.
#pragma once

#include <QDialog>

#include <memory>
#include <optional>
#include <string>

#include "backup/EncryptedBackup.h"

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QProgressBar;

namespace vantrel {

inline constexpr char kWrongPasswordText[] =
    QT_TRANSLATE_NOOP("vantrel::BackupPasswordDialog", "备份密码不正确");

class BackupPasswordDialog : public QDialog {
  Q_OBJECT
 public:
  explicit BackupPasswordDialog(const std::string& folder, QWidget* parent = nullptr);
  ~BackupPasswordDialog() override;

  // The keys after the dialog was accepted; nullopt otherwise.
  std::optional<BackupKeys> TakeKeys();

  // For tests: the widgets a user touches.
  QLineEdit* passwordField() const { return password_; }
  QLabel* noticeLabel() const { return notice_; }
  bool busy() const;

 public slots:
  // Starts unlocking with the password typed (the OK button).
  void Unlock();
  void reject() override;

 private:
  struct Attempt;
  void Finished(const std::shared_ptr<Attempt>& attempt);

  std::string folder_;
  QLineEdit* password_ = nullptr;
  QLabel* notice_ = nullptr;
  QProgressBar* busyBar_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
  std::shared_ptr<Attempt> running_;  // the attempt whose result is still wanted
  std::optional<BackupKeys> keys_;
};

}  // namespace vantrel
