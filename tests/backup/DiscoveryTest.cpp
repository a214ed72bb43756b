// Backup discovery on folder trees of the test's own making: which entries
// become rows, what the rows and the message line say, and what is
// remembered between openings of the selection dialog.
#include "backup/Discovery.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "backup/EncryptedBackup.h"
#include "backup/PlistText.h"
#include "fixtures/Fixtures.h"
#include "platform/UserFolders.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using testing::InfoEntries;
using testing::PlistText;
using testing::WriteBytes;

struct DeviceInfo {
  std::string name, date, version;
};

void MakeInfoBackup(const std::string& folder, const DeviceInfo& info) {
  fs::create_directories(folder);
  WriteBytes(folder + "/Info.plist", PlistText(InfoEntries(info.name, info.date, info.version)));
  WriteBytes(folder + "/Manifest.mbdb", "mbdb\x05\x00");
}

void MakeMbdbOnlyBackup(const std::string& folder) {
  fs::create_directories(folder);
  WriteBytes(folder + "/Manifest.mbdb", "mbdb\x05\x00");
}

// Points the default-folder candidates at the test's folders for one test.
class CandidatesGuard {
 public:
  explicit CandidatesGuard(std::vector<std::string> candidates) {
    SetBackupCandidatesProvider([candidates] { return candidates; });
  }
  ~CandidatesGuard() { SetBackupCandidatesProvider({}); }
};

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.File("MobileSync/Backup");
    fs::create_directories(root_);
    // Two backups, a plain file and a folder that is no backup.
    MakeInfoBackup(root_ + "/b1f0c9e2", phone_);
    MakeMbdbOnlyBackup(root_ + "/a7d3");
    WriteBytes(root_ + "/Info.plist", PlistText(InfoEntries("stray", "x", "1")));
    fs::create_directories(root_ + "/Snapshot");
    WriteBytes(root_ + "/Snapshot/Status.plist", "<plist/>");
  }

  fixtures::TempDir dir_{"vantrel-discovery"};
  std::string root_;
  const DeviceInfo phone_{"李娜的 iPhone", "2013-05-20T08:12:34Z", "6.1.3"};
};

TEST_F(DiscoveryTest, ListsTheDeviceFoldersWithTheirInfo) {
  const std::vector<BackupRow> rows = ListBackups(root_);
  ASSERT_EQ(rows.size(), 2u);
  // Sorted by folder name: the Manifest.mbdb-only backup first.
  EXPECT_EQ(rows[0].folder, root_ + "/a7d3");
  EXPECT_EQ(rows[0].deviceName, "a7d3");
  EXPECT_EQ(rows[0].lastBackupDate, "");
  EXPECT_EQ(rows[0].productVersion, "");
  EXPECT_EQ(rows[1].folder, root_ + "/b1f0c9e2");
  EXPECT_EQ(rows[1].deviceName, phone_.name);
  EXPECT_EQ(rows[1].lastBackupDate, phone_.date);
  EXPECT_EQ(rows[1].productVersion, phone_.version);

  BackupRow row;
  EXPECT_FALSE(ExamineBackupFolder(root_ + "/Snapshot", row));
  EXPECT_FALSE(ExamineBackupFolder(root_ + "/missing", row));
  EXPECT_TRUE(ListBackups(root_ + "/missing").empty());
}

// A folder of old and new backups: iOS 6/7 ones with an XML Info.plist and Manifest.mbdb, an
// iOS 16 one with a binary Info.plist and Manifest.db, one with Manifest.db alone.
TEST_F(DiscoveryTest, ListsOldAndNewLayoutsTogether) {
  fixtures::BackupOptions modernOptions = fixtures::SampleIos16BackupOptions();
  const fixtures::BackupTruth modern = fixtures::BuildBackup(root_, modernOptions);
  const std::string bare = root_ + "/f00d";
  fs::create_directories(bare);
  fs::copy_file(modern.folder + "/Manifest.db", bare + "/Manifest.db");

  const std::vector<BackupRow> rows = ListBackups(root_);
  ASSERT_EQ(rows.size(), 4u);
  // Sorted by folder name: "00008110-..." before "a7d3", "b1f0c9e2" and "f00d".
  EXPECT_EQ(rows[0].folder, modern.folder);
  EXPECT_EQ(rows[0].deviceName, modernOptions.deviceName);
  EXPECT_EQ(rows[0].lastBackupDate, modernOptions.lastBackupDate);
  EXPECT_EQ(rows[0].productVersion, modernOptions.productVersion);
  EXPECT_EQ(rows[1].folder, root_ + "/a7d3");
  EXPECT_EQ(rows[2].deviceName, phone_.name);
  EXPECT_EQ(rows[2].productVersion, phone_.version);
  EXPECT_EQ(rows[3].folder, bare);
  EXPECT_EQ(rows[3].deviceName, "f00d");
  EXPECT_EQ(rows[3].productVersion, "");

  // The same facts from the XML form of the same Info.plist.
  fixtures::BackupOptions xmlOptions = modernOptions;
  xmlOptions.binaryPlists = false;
  const fixtures::BackupTruth xml = fixtures::BuildBackup(dir_.File("xml"), xmlOptions);
  BackupRow row;
  ASSERT_TRUE(ExamineBackupFolder(xml.folder, row));
  EXPECT_EQ(row.deviceName, rows[0].deviceName);
  EXPECT_EQ(row.lastBackupDate, rows[0].lastBackupDate);
  EXPECT_EQ(row.productVersion, rows[0].productVersion);
}

// The backups of a folder chosen in place of one are listed after the default folder's.
TEST_F(DiscoveryTest, RememberedFoldersFollowTheDefaultOnes) {
  CandidatesGuard guard({root_});
  const std::string other = dir_.File("elsewhere");
  MakeInfoBackup(other + "/one", {"one", "2020-01-01T00:00:00Z", "13.3"});
  MakeInfoBackup(other + "/two", {"two", "2021-01-01T00:00:00Z", "14.3"});
  RememberedBackups remembered;
  remembered.RememberFolders({other + "/one", other + "/two"});
  remembered.RememberFolders({other + "/one"});  // not twice
  const BackupListing listing = remembered.OpenListing();
  ASSERT_EQ(listing.rows.size(), 4u);
  EXPECT_EQ(listing.defaultCount, 2);
  EXPECT_EQ(listing.rows[2].folder, other + "/one");
  EXPECT_EQ(listing.rows[3].folder, other + "/two");
  EXPECT_EQ(listing.rows[3].productVersion, "14.3");
}

TEST_F(DiscoveryTest, DefaultFolderIsTheFirstExistingCandidate) {
  CandidatesGuard guard({dir_.File("nowhere"), root_, dir_.path()});
  EXPECT_EQ(FindDefaultBackupFolder(), root_);

  RememberedBackups remembered;
  const BackupListing listing = remembered.OpenListing();
  EXPECT_EQ(listing.defaultFolder, root_);
  EXPECT_EQ(listing.defaultCount, 2);
  EXPECT_EQ(listing.rows.size(), 2u);
  EXPECT_EQ(listing.selectedRow, -1);
  EXPECT_EQ(remembered.FolderAt(1), root_ + "/b1f0c9e2");
  EXPECT_EQ(remembered.FolderAt(2), "");
  EXPECT_EQ(remembered.FolderAt(-1), "");
}

TEST_F(DiscoveryTest, WithoutCandidatesNothingIsListedOrCounted) {
  CandidatesGuard guard({dir_.File("nowhere"), dir_.File("Backup.txt")});
  WriteBytes(dir_.File("Backup.txt"), "a file, not a folder");
  EXPECT_EQ(FindDefaultBackupFolder(), "");
  RememberedBackups remembered;
  const BackupListing listing = remembered.OpenListing();
  EXPECT_EQ(listing.defaultFolder, "");
  EXPECT_EQ(listing.defaultCount, 0);
  EXPECT_TRUE(listing.rows.empty());
}

TEST_F(DiscoveryTest, AnAddedBackupIsListedAgainAndSelectedNextTime) {
  CandidatesGuard guard({root_});
  const std::string other = dir_.File("elsewhere/c0ffee");
  const DeviceInfo pad{"iPad & Co", "2014-01-02T03:04:05Z", "7.0.4"};
  MakeInfoBackup(other, pad);

  RememberedBackups remembered;
  BackupListing listing = remembered.OpenListing();
  int rows = static_cast<int>(listing.rows.size());
  BackupRow row;
  EXPECT_FALSE(remembered.AddBackupRow(dir_.File("elsewhere"), rows, row));  // a folder of backups
  EXPECT_EQ(rows, 2);
  ASSERT_TRUE(remembered.AddBackupRow(other, rows, row));
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(row.deviceName, "iPad & Co");
  EXPECT_EQ(remembered.FolderAt(2), other);
  remembered.Confirm(2);

  listing = remembered.OpenListing();
  ASSERT_EQ(listing.rows.size(), 3u);
  EXPECT_EQ(listing.defaultCount, 2);  // the message line counts the default folder only
  EXPECT_EQ(listing.rows[2].folder, other);
  EXPECT_EQ(listing.rows[2].productVersion, pad.version);
  EXPECT_EQ(listing.selectedRow, 2);

  // A single file chosen instead: no row is selected next time.
  remembered.Confirm(-1);
  EXPECT_EQ(remembered.OpenListing().selectedRow, -1);

  // A remembered backup that has gone is dropped.
  fs::remove_all(other);
  listing = remembered.OpenListing();
  EXPECT_EQ(listing.rows.size(), 2u);
  EXPECT_EQ(remembered.folders().size(), 2u);
}

TEST_F(DiscoveryTest, MoreThanAHundredBackupsAreAllReachable) {
  CandidatesGuard guard({root_});
  for (int i = 0; i < 110; ++i) MakeMbdbOnlyBackup(root_ + "/dev" + std::to_string(1000 + i));
  RememberedBackups remembered;
  BackupListing listing = remembered.OpenListing();
  ASSERT_EQ(listing.rows.size(), 112u);
  EXPECT_EQ(listing.defaultCount, 112);
  int rows = static_cast<int>(listing.rows.size());
  const std::string other = dir_.File("other");
  MakeMbdbOnlyBackup(other);
  BackupRow row;
  ASSERT_TRUE(remembered.AddBackupRow(other, rows, row));
  remembered.Confirm(112);
  listing = remembered.OpenListing();
  ASSERT_EQ(listing.rows.size(), 113u);
  EXPECT_EQ(listing.selectedRow, 112);
  EXPECT_EQ(remembered.FolderAt(112), other);
  EXPECT_EQ(remembered.FolderAt(111), root_ + "/dev1109");
}

TEST(Discovery, BackupFolderOfTheFixtureBuilderReadsAsWritten) {
  fixtures::TempDir dir("vantrel-fixture-backup");
  fixtures::BackupOptions options;
  options.deviceName = "王芳 & 李雷 <iPhone>";
  options.productVersion = "6.1.3";
  options.lastBackupDate = "2013-05-20T08:12:34Z";
  options.includeMessages = options.includeContacts = options.includeCalls = false;
  const fixtures::BackupTruth truth = fixtures::BuildBackup(dir.path(), options);
  const std::vector<BackupRow> rows = ListBackups(dir.path());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].folder, truth.folder);
  EXPECT_EQ(rows[0].deviceName, options.deviceName);
  EXPECT_EQ(rows[0].lastBackupDate, options.lastBackupDate);
  EXPECT_EQ(rows[0].productVersion, options.productVersion);
  EXPECT_FALSE(IsEncryptedBackup(truth.folder));
}

// Binary Manifest.plist files written by Python's plistlib (FMT_BINARY) from
// {BackupKeyBag, Date, IsEncrypted: <v>, Lockdown: {ProductVersion, IsEncrypted: true},
//  Version: "9.1", WasPasscodeSet: false}.
std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}
const std::string kBinaryEncrypted = FromHex(
    "62706c6973743030d60102030405060708090a0d0e5c4261636b75704b657942616754446174655b4973456e6372"
    "7970746564584c6f636b646f776e5756657273696f6e5e57617350617373636f64655365744200013341b9785838"
    "00000009d2030b090c5e50726f6475637456657273696f6e55372e312e3253392e310808152227333c4453565f60"
    "65747a7e0000000000000101000000000000000f0000000000000000000000000000007f");
const std::string kBinaryPlain = FromHex(
    "62706c6973743030d60102030405060708090a0e095c4261636b75704b657942616754446174655b4973456e6372"
    "7970746564584c6f636b646f776e5756657273696f6e5e57617350617373636f64655365744200013341b9785838"
    "00000008d2030b0c0d5e50726f6475637456657273696f6e0955372e312e3253392e3108152227333c4453565f60"
    "6574757b0000000000000101000000000000000f0000000000000000000000000000007f");

TEST(EncryptedBackup, ReadsTheTopLevelIsEncryptedOfEitherForm) {
  EXPECT_TRUE(PlistSaysEncrypted(kBinaryEncrypted));
  // Only the top-level key counts, not the one inside Lockdown.
  EXPECT_FALSE(PlistSaysEncrypted(kBinaryPlain));

  const auto xml = [](const std::string& value) {
    return PlistText({{"BackupKeyBag", "<data>AAE=</data>"},
                      {"IsEncrypted", value},
                      {"Lockdown", "<dict><key>IsEncrypted</key><true/></dict>"}});
  };
  EXPECT_TRUE(PlistSaysEncrypted(xml("<true/>")));
  EXPECT_FALSE(PlistSaysEncrypted(xml("<false/>")));
  EXPECT_FALSE(PlistSaysEncrypted(PlistText({{"Version", "<string>9.1</string>"}})));

  // Cut or damaged binary lists are simply not encrypted, whatever the bytes.
  for (size_t cut = 0; cut < kBinaryEncrypted.size(); ++cut) {
    EXPECT_FALSE(PlistSaysEncrypted(kBinaryEncrypted.substr(0, cut)));
    std::string damaged = kBinaryEncrypted;
    damaged[cut] = static_cast<char>(damaged[cut] ^ 0xA5);
    PlistSaysEncrypted(damaged);
  }

  fixtures::TempDir dir("vantrel-manifest");
  EXPECT_FALSE(IsEncryptedBackup(dir.path()));  // no Manifest.plist
  WriteBytes(dir.File("Manifest.plist"), kBinaryEncrypted);
  EXPECT_TRUE(IsEncryptedBackup(dir.path()));
  WriteBytes(dir.File("Manifest.plist"), xml("<false/>"));
  EXPECT_FALSE(IsEncryptedBackup(dir.path()));
}

}  // namespace
}  // namespace vantrel
