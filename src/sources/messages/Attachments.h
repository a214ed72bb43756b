// Finding message attachments inside a backup. The message table names a file
// by its path on the device ("~/Library/SMS/Attachments/ab/11/GUID/IMG_0001.jpeg");
// the backup keeps it in MediaDomain under the path after "~/", named by the
// SHA-1 of "MediaDomain-" + that path, in whichever layout the backup uses.
// Copying one out gives its plain bytes, an encrypted backup's deciphered.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "backup/BackupFiles.h"
#include "backup/EncryptedBackup.h"
#include "sources/Collections.h"

namespace vantrel {

// The MediaDomain relative path of a device path ("~/Library/..." or
// "/var/mobile/Library/..."); nullopt for a path outside the user's folder.
std::optional<std::string> AttachmentRelativePath(std::string_view devicePath);

// Where the backup keeps an attachment's bytes; nullopt when it is not there.
std::optional<std::string> LocateAttachment(const BackupFiles& files, std::string_view devicePath);

// Sets backupPath on every attachment of every message the backup holds.
void LocateAttachments(const BackupFiles& files, Collections& data);

enum class AttachmentCopyStatus {
  Copied,
  NotInBackup,      // the backup does not hold the file
  NeedsPassword,    // enciphered in the backup, and no keys were given
  Undeciphered,     // enciphered, and it did not decipher (decryption says why)
  PlainUnreadable,  // deciphered, but its plain bytes could not be read back
  SystemError,      // the system refused a read or a write (error says why)
};

// How copying an attachment out went.
struct AttachmentCopyOutcome {
  AttachmentCopyStatus status = AttachmentCopyStatus::Copied;
  DecryptStatus decryption = DecryptStatus::Ok;  // Undeciphered
  std::error_code error;                         // SystemError

  AttachmentCopyOutcome() = default;
  AttachmentCopyOutcome(AttachmentCopyStatus status, DecryptStatus decryption = DecryptStatus::Ok,
                        std::error_code error = {})
      : status(status), decryption(decryption), error(error) {}
  bool copied() const { return status == AttachmentCopyStatus::Copied; }
};

// Writes an attachment's plain bytes to target (replacing it): the stored file
// as it is, or an enciphered one deciphered with keys (its plain bytes pass
// through memory only). An enciphered file is never written as its
// ciphertext: without keys, or when it does not decipher, nothing is written.
// The command line's export and the window's save and open all copy through
// here (CopyAttachmentOut of export/AttachmentCopy.h says the outcome).
AttachmentCopyOutcome CopyPlainAttachment(const MessageAttachment& attachment,
                                          const std::string& target, const BackupKeys* keys);

}  // namespace vantrel
