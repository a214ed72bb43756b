// The one examination of a chosen path, on paths of the test's own making:
// which kind each is, what it read of a backup's Info.plist and Manifest.plist,
// and that "encrypted" means the same to it, to the encrypted-backup check and
// to the unlock.
#include "backup/ExaminedPath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "backup/EncryptedBackup.h"
#include "backup/PlistText.h"
#include "fixtures/Fixtures.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using testing::PlistText;
using testing::WriteBytes;

fixtures::BackupOptions WithoutDatabases(uint64_t seed) {
  fixtures::BackupOptions options;
  options.seed = seed;
  options.includeMessages = options.includeContacts = options.includeCalls = false;
  return options;
}

std::vector<std::string> Folders(const std::vector<BackupRow>& rows) {
  std::vector<std::string> folders;
  for (const BackupRow& row : rows) folders.push_back(row.folder);
  return folders;
}

TEST(ExaminePath, SaysWhatEachKindOfPathIs) {
  fixtures::TempDir dir("vantrel-examine");
  fixtures::BackupOptions plainOptions = WithoutDatabases(1);
  plainOptions.productVersion = "9.3.5";
  const fixtures::BackupTruth plain = fixtures::BuildBackup(dir.File("plain"), plainOptions);
  fixtures::BackupOptions lockedOptions = WithoutDatabases(2);
  lockedOptions.binaryPlists = true;
  lockedOptions.layout = fixtures::ManifestLayout::ManifestDb;
  lockedOptions.password = "张伟 backup-2024";
  const fixtures::BackupTruth locked = fixtures::BuildBackup(dir.File("locked"), lockedOptions);

  const std::string root = dir.File("Backup");
  const fixtures::BackupTruth first = fixtures::BuildBackup(root, WithoutDatabases(3));
  const fixtures::BackupTruth second = fixtures::BuildBackup(root, WithoutDatabases(4));
  fs::create_directories(root + "/not-a-backup");
  // Backups inside a folder that is marked as one itself: it is the backup.
  const std::string marked = dir.File("marked");
  fixtures::BuildBackup(marked, WithoutDatabases(5));
  WriteBytes(marked + "/Manifest.plist", PlistText({{"Version", "<string>9.1</string>"}}));
  // A folder of hashed names alone, as an iOS 6/7 copy may be: a backup without marks.
  const std::string bare = dir.File("bare");
  fs::create_directories(bare);
  const std::string file = dir.File("sms.db");
  WriteBytes(file, "not a database");

  const struct {
    const char* label;
    std::string path;
    PathKind kind;
  } cases[] = {
      {"missing", dir.File("missing"), PathKind::Missing},
      {"empty path", "", PathKind::Missing},
      {"a file", file, PathKind::File},
      {"a backup", plain.folder, PathKind::Backup},
      {"an encrypted backup", locked.folder, PathKind::EncryptedBackup},
      {"a folder of backups", root, PathKind::FolderOfBackups},
      {"a marked folder holding backups", marked, PathKind::Backup},
      {"a folder without marks or backups", bare, PathKind::Backup},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const ExaminedPath examined = ExaminePath(c.path);
    EXPECT_EQ(examined.path, c.path);
    EXPECT_EQ(examined.kind, c.kind);
    // The same answers the separate questions give.
    EXPECT_EQ(examined.IsBackup() || examined.kind == PathKind::FolderOfBackups,
              fs::is_directory(c.path));
    EXPECT_EQ(examined.kind == PathKind::EncryptedBackup,
              fs::is_directory(c.path) && IsEncryptedBackup(c.path));
    EXPECT_EQ(Folders(examined.heldBackups), BackupsHeldIn(c.path));
  }

  // What the two lists say, read once.
  const ExaminedPath backup = ExaminePath(plain.folder);
  EXPECT_EQ(backup.info.productVersion, plainOptions.productVersion);
  EXPECT_EQ(backup.info.deviceName, plainOptions.deviceName);
  EXPECT_EQ(backup.info.lastBackupDate, plainOptions.lastBackupDate);
  EXPECT_FALSE(backup.manifest.isEncrypted);
  EXPECT_FALSE(backup.manifest.hasBackupKeyBag);

  const ExaminedPath encrypted = ExaminePath(locked.folder);
  EXPECT_EQ(encrypted.info.form, PlistForm::Binary);
  EXPECT_TRUE(encrypted.manifest.hasBackupKeyBag);
  EXPECT_TRUE(encrypted.manifest.hasManifestKey);
  // The keys come from the list as examined, as they come from the folder.
  const BackupKeys keys = UnlockBackup(encrypted.manifest, lockedOptions.password);
  EXPECT_EQ(keys.status, BackupUnlockStatus::Unlocked);
  EXPECT_EQ(keys.manifestDbKey.view(), locked.manifestDbKey);

  // A folder of backups lists them as the picker does, and reads no list of its own.
  const ExaminedPath held = ExaminePath(root);
  std::vector<std::string> expected = {first.folder, second.folder};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Folders(held.heldBackups), expected);
  EXPECT_EQ(held.heldBackups[0].deviceName, WithoutDatabases(3).deviceName);
  EXPECT_TRUE(held.info.productVersion.empty());
}

// Manifest.plist says "encrypted" only with a boolean true in its top dictionary, and gives a
// keybag only as data: the examination, the encrypted-backup check and the unlock agree.
TEST(ExaminePath, EncryptedMeansWhatTheUnlockTakesItToMean) {
  fixtures::TempDir dir("vantrel-examine-manifest");
  const std::string bag = "<data>AAE=</data>";  // too short to be a keybag
  const struct {
    const char* label;
    std::string plist;
    bool encrypted;
    BackupUnlockStatus unlock;
  } cases[] = {
      {"true, with a keybag", PlistText({{"BackupKeyBag", bag}, {"IsEncrypted", "<true/>"}}), true,
       BackupUnlockStatus::KeybagDamaged},
      {"true, keybag as text",
       PlistText({{"BackupKeyBag", "<string>AAE=</string>"}, {"IsEncrypted", "<true/>"}}), true,
       BackupUnlockStatus::NoKeybag},
      {"true, no keybag", PlistText({{"IsEncrypted", "<true/>"}}), true,
       BackupUnlockStatus::NoKeybag},
      {"an integer 1", PlistText({{"BackupKeyBag", bag}, {"IsEncrypted", "<integer>1</integer>"}}),
       false, BackupUnlockStatus::NotEncrypted},
      {"the text YES", PlistText({{"BackupKeyBag", bag}, {"IsEncrypted", "<string>YES</string>"}}),
       false, BackupUnlockStatus::NotEncrypted},
      {"only Lockdown's",
       PlistText(
           {{"BackupKeyBag", bag}, {"Lockdown", "<dict><key>IsEncrypted</key><true/></dict>"}}),
       false, BackupUnlockStatus::NotEncrypted},
      {"false", PlistText({{"BackupKeyBag", bag}, {"IsEncrypted", "<false/>"}}), false,
       BackupUnlockStatus::NotEncrypted},
      {"unreadable", "<plist><array>", false, BackupUnlockStatus::NoKeybag},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    WriteBytes(dir.File("Manifest.plist"), c.plist);
    const ExaminedPath examined = ExaminePath(dir.path());
    EXPECT_EQ(examined.kind, c.encrypted ? PathKind::EncryptedBackup : PathKind::Backup);
    EXPECT_EQ(IsEncryptedBackup(dir.path()), c.encrypted);
    EXPECT_EQ(PlistSaysEncrypted(c.plist), c.encrypted);
    EXPECT_EQ(UnlockBackup(examined.manifest, "pw").status, c.unlock);
    EXPECT_EQ(UnlockBackup(dir.path(), "pw").status, c.unlock);
  }
}

}  // namespace
}  // namespace vantrel
