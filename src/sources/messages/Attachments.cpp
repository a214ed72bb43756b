#include "sources/messages/Attachments.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace vantrel {
namespace {

void LocateAll(const BackupFiles& files, MessageRecord& record) {
  if (!record.extras) return;
  for (MessageAttachment& attachment : record.extras->attachments) {
    attachment.backupPath = LocateAttachment(files, attachment.filename).value_or("");
    if (attachment.backupPath.empty()) continue;
    const std::optional<std::string> relative = AttachmentRelativePath(attachment.filename);
    if (const std::optional<FileEntry> entry = files.Find("MediaDomain", *relative);
        entry && entry->hasEncryptionKey) {
      attachment.enciphered = true;
      attachment.wrappedKey = entry->encryptionKey;
    }
  }
}

// Writes the bytes of the file from into target. A deciphered file is copied
// this way rather than with copy_file, which would hand the copy the memory
// file's mode (0777: anyone could change the attachment); a new file gets the
// mode every other file the user saves gets.
AttachmentCopyOutcome WriteCopy(const std::string& from, const std::string& target) {
  const auto systemError = [] {
    return AttachmentCopyOutcome{AttachmentCopyStatus::SystemError, DecryptStatus::Ok,
                                 std::error_code(errno, std::generic_category())};
  };
  std::ifstream in(from, std::ios::binary);
  if (!in) return systemError();
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (!out) return systemError();
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    if (!out.write(buffer, in.gcount())) break;
  }
  if (in.bad()) return {AttachmentCopyStatus::PlainUnreadable};
  out.close();
  if (!out) return systemError();
  return {};
}

}  // namespace

std::optional<std::string> AttachmentRelativePath(std::string_view devicePath) {
  for (std::string_view home : {"~/", "/var/mobile/", "/private/var/mobile/"}) {
    if (devicePath.substr(0, home.size()) == home) {
      std::string_view rest = devicePath.substr(home.size());
      if (rest.empty()) return std::nullopt;
      return std::string(rest);
    }
  }
  return std::nullopt;
}

std::optional<std::string> LocateAttachment(const BackupFiles& files, std::string_view devicePath) {
  const std::optional<std::string> relative = AttachmentRelativePath(devicePath);
  if (!relative) return std::nullopt;
  return files.PathOf("MediaDomain", *relative);
}

void LocateAttachments(const BackupFiles& files, Collections& data) {
  for (auto& [address, records] : data.liveMessages)
    for (MessageRecord& record : records) LocateAll(files, record);
  for (MessageRecord& record : data.deletedMessages) LocateAll(files, record);
}

AttachmentCopyOutcome CopyPlainAttachment(const MessageAttachment& attachment,
                                          const std::string& target, const BackupKeys* keys) {
  if (attachment.backupPath.empty()) return {AttachmentCopyStatus::NotInBackup};
  if (!attachment.enciphered) {
    std::error_code ec;
    std::filesystem::copy_file(attachment.backupPath, target,
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) return {AttachmentCopyStatus::SystemError, DecryptStatus::Ok, ec};
    return {};
  }
  if (keys == nullptr) return {AttachmentCopyStatus::NeedsPassword};
  const DecryptedFile plain =
      DecryptBackupFile(*keys, attachment.backupPath, attachment.wrappedKey, true);
  if (plain.status != DecryptStatus::Ok) return {AttachmentCopyStatus::Undeciphered, plain.status};
  return WriteCopy(plain.file.path(), target);
}

}  // namespace vantrel
