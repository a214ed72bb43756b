#include "backup/Attachments.h"

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

}  // namespace vantrel
