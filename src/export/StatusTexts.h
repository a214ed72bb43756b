// The sentences the window and the command line say for what the layers
// below report as typed outcomes: a load that read nothing or not everything,
// a path that is not there, an unlock that failed, a file of an encrypted
// backup that did not decipher. Both faces say them from here, so they say
// the same words byte for byte.
#pragma once

#include <string>

#include "backup/EncryptedBackup.h"
#include "load/LoadMessage.h"

namespace vantrel {

// Said when the chosen path does not exist.
inline constexpr char kFileNotFoundMessage[] = "没有找到文件";
// Said (with the list of backups) when the chosen folder holds backups
// rather than being one.
inline constexpr char kFolderOfBackupsMessage[] =
    "此文件夹中存放的是多个备份，请从中选择一个备份文件夹：";
// LoadProblem::NothingReadable: what was looked for, and which backups are read.
inline constexpr char kNothingReadableMessage[] =
    "没有找到可读取的短信、通讯录或通话记录数据库！本软件读取 iOS 6 至 iOS 18 的未加密备份。";
// LoadProblem::Encrypted.
inline constexpr char kEncryptedBackupMessage[] = "此备份已加密，需要输入备份密码才能读取！";

// The one message a load shows. Files that did not decipher are said one
// line each, in the order the load met them.
std::string LoadMessageText(const LoadMessage& message);

// A file that could not be deciphered, named by the phone's path of it.
std::string DecryptionProblemText(const DecryptionProblem& problem);

// An unlock that failed; "" for Unlocked and NotEncrypted.
std::string UnlockFailureText(BackupUnlockStatus status);

}  // namespace vantrel
