// Copying message attachments out of a backup: every attachment the load
// found in the backup goes into one folder under the name its sender gave it
// (transfer_name), made unique ("photo.jpg", "photo (2).jpg"), so a folder of
// exported files never overwrites one attachment with another.
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "backup/EncryptedBackup.h"
#include "sources/Collections.h"
#include "sources/messages/Attachments.h"

namespace vantrel {

struct AttachmentCopyResult {
  size_t copied = 0;
  std::vector<std::string> writtenFiles;  // in the order copied
  std::vector<std::string> missing;       // device paths of files not in the backup
  std::vector<std::string> failed;        // "name: reason" of files that could not be written
};

// The name to save an attachment under: its transfer name without any folder
// part, else the last part of its device path, else "attachment"; made
// unique against the names already taken (and added to them).
std::string UniqueAttachmentName(const MessageAttachment& attachment, std::set<std::string>& taken);

// Copies the file from to target (replacing it); "" when done, else the reason.
std::string CopyFileTo(const std::string& from, const std::string& target);

// Writes one attachment's bytes to target; "" when done, else the reason.
using AttachmentCopier =
    std::function<std::string(const MessageAttachment& attachment, const std::string& target)>;

// Copies one attachment with copier (default: the plain file copy) into a new
// folder of its own under parent (made when absent): parent/<prefix>-<n>, the
// first n not taken, so two attachments of one name never meet. The copy is
// for another program to open, and may be an encrypted backup's attachment in
// plain, so its folder is the user's alone (0700) and the file too (0600).
// The copy's path; "" with the reason in problem, nothing left behind.
std::string CopyToPrivateFolder(const MessageAttachment& attachment, const std::string& parent,
                                const std::string& prefix, const AttachmentCopier& copier,
                                std::string& problem);

// The reason in the user's words for an attachment copy that failed; "" for
// one that was copied.
std::string AttachmentCopyProblemText(const AttachmentCopyOutcome& outcome,
                                      const MessageAttachment& attachment);

// Copies an attachment out of the backup as CopyPlainAttachment does (an
// enciphered one deciphered with keys, which may be null) and says how it
// went: "" when done, else the reason. The copier for an encrypted backup.
std::string CopyAttachmentOut(const MessageAttachment& attachment, const std::string& target,
                              const BackupKeys* keys);

// Copies every attachment of every message, live then deleted, into folder
// (created when absent), each with copier (default: a plain file copy, which
// refuses enciphered files; CopyAttachmentOut deciphers them).
AttachmentCopyResult CopyAttachments(const Collections& data, const std::string& folder,
                                     const AttachmentCopier& copier = {});

}  // namespace vantrel
