#include "export/AttachmentCopy.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "export/StatusTexts.h"

namespace vantrel {
namespace {

std::string LastPart(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A plain copy of the stored file; an enciphered one is refused, never
// copied as ciphertext that would pass for the attachment.
std::string PlainCopy(const MessageAttachment& attachment, const std::string& target) {
  if (attachment.enciphered) return "enciphered in the backup: the backup password is needed";
  return CopyFileTo(attachment.backupPath, target);
}

void CopyOne(const MessageAttachment& attachment, const std::filesystem::path& folder,
             std::set<std::string>& taken, AttachmentCopyResult& result,
             const AttachmentCopier& copier) {
  if (attachment.backupPath.empty()) {
    result.missing.push_back(attachment.filename.empty() ? attachment.transferName
                                                         : attachment.filename);
    return;
  }
  const std::string name = UniqueAttachmentName(attachment, taken);
  const std::filesystem::path target = folder / name;
  const std::string problem =
      copier ? copier(attachment, target.string()) : PlainCopy(attachment, target.string());
  if (!problem.empty()) {
    result.failed.push_back(name + ": " + problem);
    return;
  }
  ++result.copied;
  result.writtenFiles.push_back(target.string());
}

void CopyAll(const MessageList& records, const std::filesystem::path& folder,
             std::set<std::string>& taken, AttachmentCopyResult& result,
             const AttachmentCopier& copier) {
  for (const MessageRecord& record : records) {
    if (!record.extras) continue;
    for (const MessageAttachment& attachment : record.extras->attachments)
      CopyOne(attachment, folder, taken, result, copier);
  }
}

}  // namespace

std::string AttachmentCopyProblemText(const AttachmentCopyOutcome& outcome,
                                      const MessageAttachment& attachment) {
  switch (outcome.status) {
    case AttachmentCopyStatus::Copied:
      break;
    case AttachmentCopyStatus::NotInBackup:
      return "文件不在备份中";
    case AttachmentCopyStatus::NeedsPassword:
      return "文件在备份中已加密，需要备份密码";
    case AttachmentCopyStatus::Undeciphered:
      return DecryptionProblemText({outcome.decryption, attachment.filename});
    case AttachmentCopyStatus::PlainUnreadable:
      return "无法读取解密后的内容";
    case AttachmentCopyStatus::SystemError:
      return outcome.error.message();
  }
  return {};
}

std::string CopyAttachmentOut(const MessageAttachment& attachment, const std::string& target,
                              const BackupKeys* keys) {
  return AttachmentCopyProblemText(CopyPlainAttachment(attachment, target, keys), attachment);
}

std::string CopyFileTo(const std::string& from, const std::string& target) {
  std::error_code ec;
  std::filesystem::copy_file(from, target, std::filesystem::copy_options::overwrite_existing, ec);
  return ec ? ec.message() : std::string();
}

std::string UniqueAttachmentName(const MessageAttachment& attachment,
                                 std::set<std::string>& taken) {
  std::string name = LastPart(attachment.transferName);
  if (name.empty() || name == "." || name == "..") name = LastPart(attachment.filename);
  if (name.empty() || name == "." || name == "..") name = "attachment";
  if (taken.insert(name).second) return name;
  const size_t dot = name.find_last_of('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string extension = stem.size() == name.size() ? "" : name.substr(dot);
  for (int n = 2;; ++n) {
    std::string candidate = stem + " (" + std::to_string(n) + ")" + extension;
    if (taken.insert(candidate).second) return candidate;
  }
}

std::string CopyToPrivateFolder(const MessageAttachment& attachment, const std::string& parent,
                                const std::string& prefix, const AttachmentCopier& copier,
                                std::string& problem) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_directory(parent) && ::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
    problem = parent + ": " + std::error_code(errno, std::generic_category()).message();
    return {};
  }
  for (int n = 1; n < 10000; ++n) {
    const fs::path folder = fs::path(parent) / (prefix + "-" + std::to_string(n));
    // Made 0700 at once, never wider for a moment.
    if (::mkdir(folder.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      problem = folder.string() + ": " + std::error_code(errno, std::generic_category()).message();
      return {};
    }
    std::set<std::string> taken;
    const std::string target = (folder / UniqueAttachmentName(attachment, taken)).string();
    problem = copier ? copier(attachment, target) : PlainCopy(attachment, target);
    if (problem.empty()) {
      fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, ec);
      if (!ec) return target;
      problem = ec.message();
    }
    fs::remove_all(folder, ec);
    return {};
  }
  problem = parent + ": no free folder name";
  return {};
}

AttachmentCopyResult CopyAttachments(const Collections& data, const std::string& folder,
                                     const AttachmentCopier& copier) {
  AttachmentCopyResult result;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!std::filesystem::is_directory(folder)) {
    result.failed.push_back(folder + ": " +
                            (ec ? ec.message() : std::string("cannot create the folder")));
    return result;
  }
  std::set<std::string> taken;
  for (const auto& [address, records] : data.liveMessages)
    CopyAll(records, folder, taken, result, copier);
  CopyAll(data.deletedMessages, folder, taken, result, copier);
  return result;
}

}  // namespace vantrel
