#include "export/StatusTexts.h"

namespace vantrel {
namespace {

// The iOS version of the backup stands where "<V>" is.
constexpr char kTooOldVersionMessage[] =
    "此备份来自 iOS <V>，本软件无法读取 iOS 5 及更早版本的备份，只能读取 iOS 6 至 iOS 18 的备份。";
constexpr char kDatabasesMissingMessage[] =
    "此备份来自 iOS <V>，但备份中没有找到短信、通讯录或通话记录数据库！";

std::string WithVersion(const char* text, const std::string& version) {
  std::string message = text;
  const size_t at = message.find("<V>");
  if (at != std::string::npos) message.replace(at, 3, version);
  return message;
}

}  // namespace

std::string LoadMessageText(const LoadMessage& message) {
  switch (message.problem) {
    case LoadProblem::NothingReadable:
      break;
    case LoadProblem::TooOldVersion:
      return WithVersion(kTooOldVersionMessage, message.iosVersion);
    case LoadProblem::DatabasesMissing:
      return WithVersion(kDatabasesMissingMessage, message.iosVersion);
    case LoadProblem::Encrypted:
      return kEncryptedBackupMessage;
    case LoadProblem::Undeciphered: {
      std::string text;
      for (const DecryptionProblem& file : message.files)
        text += (text.empty() ? "" : "\n") + DecryptionProblemText(file);
      return text;
    }
  }
  return kNothingReadableMessage;
}

std::string DecryptionProblemText(const DecryptionProblem& problem) {
  const std::string& name = problem.name;
  switch (problem.status) {
    case DecryptStatus::Ok:
      return {};
    case DecryptStatus::NoKey:
      return "无法解密 " + name + "：备份清单中没有此文件的密钥。";
    case DecryptStatus::KeyNotUnwrapped:
      return "无法解密 " + name + "：此文件的密钥无法解开，备份清单可能已损坏。";
    case DecryptStatus::Unreadable:
      return "无法解密 " + name + "：文件无法读取。";
    case DecryptStatus::Damaged:
      return "无法解密 " + name + "：文件已损坏（长度或填充不正确）。";
    case DecryptStatus::NoMemory:
      return "无法解密 " + name + "：内存不足。";
    case DecryptStatus::NotADatabase:
      return name + " 解密后不是可读的数据库：密钥或文件已损坏。";
  }
  return {};
}

std::string UnlockFailureText(BackupUnlockStatus status) {
  switch (status) {
    case BackupUnlockStatus::Unlocked:
    case BackupUnlockStatus::NotEncrypted:
      return {};
    case BackupUnlockStatus::NoKeybag:
      return "此备份已加密，但 Manifest.plist 中没有可读的密钥包（BackupKeyBag），无法解密。";
    case BackupUnlockStatus::KeybagDamaged:
      return "此备份的密钥包（BackupKeyBag）已损坏，无法解密。";
    case BackupUnlockStatus::WrongPassword:
      return "备份密码不正确";
    case BackupUnlockStatus::ManifestKeyDamaged:
      return "此备份的 Manifest.db 密钥（ManifestKey）无法解开，Manifest.plist 可能已损坏。";
  }
  return {};
}

}  // namespace vantrel
