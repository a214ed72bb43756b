// The sentences for the lower layers' typed outcomes: each outcome says
// something of its own, names the version or the file it is about, and a
// list of files reads one line per file in the order the load met them.
#include "export/StatusTexts.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "export/AttachmentCopy.h"

namespace vantrel {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(StatusTexts, MessagesOfAnEmptyLoadNameTheBackupsVersion) {
  for (const std::string version : {"4.3.5", "5.1.1", "14.3", "17.0.1"}) {
    for (LoadProblem problem : {LoadProblem::TooOldVersion, LoadProblem::DatabasesMissing}) {
      const std::string text = LoadMessageText({problem, version});
      SCOPED_TRACE(text);
      EXPECT_TRUE(Has(text, "iOS " + version + "，"));
      EXPECT_FALSE(Has(text, "<V>"));
      // Only the too-old message says which versions cannot be read.
      EXPECT_EQ(Has(text, "iOS 5 及更早版本"), problem == LoadProblem::TooOldVersion);
    }
  }
  std::set<std::string> distinct;
  for (LoadProblem problem : {LoadProblem::NothingReadable, LoadProblem::TooOldVersion,
                              LoadProblem::DatabasesMissing, LoadProblem::Encrypted})
    distinct.insert(LoadMessageText({problem, "9.3.5"}));
  EXPECT_EQ(distinct.size(), 4u);
}

TEST(StatusTexts, FilesThatDidNotDecipherAreSaidOneLineEachInOrder) {
  const std::vector<DecryptionProblem> files = {
      {DecryptStatus::NotADatabase, "Manifest.db"},
      {DecryptStatus::Damaged, "Library/SMS/sms.db"},
      {DecryptStatus::NoKey, "Library/SMS/sms.db-wal"},
  };
  std::string expected;
  for (const DecryptionProblem& file : files)
    expected += (expected.empty() ? "" : "\n") + DecryptionProblemText(file);
  EXPECT_EQ(LoadMessageText({LoadProblem::Undeciphered, {}, files}), expected);
  EXPECT_EQ(LoadMessageText({LoadProblem::Undeciphered, {}, {files[1]}}),
            DecryptionProblemText(files[1]));  // one file: one line, no break
}

TEST(StatusTexts, EveryFailureSaysSomethingOfItsOwn) {
  std::set<std::string> decryption;
  for (DecryptStatus status :
       {DecryptStatus::NoKey, DecryptStatus::KeyNotUnwrapped, DecryptStatus::Unreadable,
        DecryptStatus::Damaged, DecryptStatus::NoMemory, DecryptStatus::NotADatabase}) {
    const std::string text = DecryptionProblemText({status, "Library/Notes/notes.sqlite"});
    EXPECT_TRUE(Has(text, "Library/Notes/notes.sqlite")) << text;
    decryption.insert(text);
  }
  EXPECT_EQ(decryption.size(), 6u);
  EXPECT_EQ(DecryptionProblemText({DecryptStatus::Ok, "Manifest.db"}), "");

  std::set<std::string> unlock;
  for (BackupUnlockStatus status :
       {BackupUnlockStatus::NoKeybag, BackupUnlockStatus::KeybagDamaged,
        BackupUnlockStatus::WrongPassword, BackupUnlockStatus::ManifestKeyDamaged})
    unlock.insert(UnlockFailureText(status));
  EXPECT_EQ(unlock.size(), 4u);
  EXPECT_FALSE(unlock.count(""));
  EXPECT_EQ(UnlockFailureText(BackupUnlockStatus::Unlocked), "");
  EXPECT_EQ(UnlockFailureText(BackupUnlockStatus::NotEncrypted), "");
}

TEST(StatusTexts, AnAttachmentThatWasNotCopiedSaysWhy) {
  MessageAttachment attachment;
  attachment.filename = "~/Library/SMS/Attachments/ab/11/GUID/IMG_0001.jpeg";
  using S = AttachmentCopyStatus;
  EXPECT_EQ(AttachmentCopyProblemText({S::Copied}, attachment), "");
  // A failure to decipher names the attachment as the phone does.
  EXPECT_EQ(AttachmentCopyProblemText({S::Undeciphered, DecryptStatus::Damaged}, attachment),
            DecryptionProblemText({DecryptStatus::Damaged, attachment.filename}));
  // What the system refused is said in the system's words.
  const std::error_code denied(EACCES, std::generic_category());
  EXPECT_EQ(AttachmentCopyProblemText({S::SystemError, DecryptStatus::Ok, denied}, attachment),
            denied.message());
  std::set<std::string> reasons;
  for (S status : {S::NotInBackup, S::NeedsPassword, S::PlainUnreadable})
    reasons.insert(AttachmentCopyProblemText({status}, attachment));
  EXPECT_EQ(reasons.size(), 3u);
  EXPECT_FALSE(reasons.count(""));
}

}  // namespace
}  // namespace vantrel
