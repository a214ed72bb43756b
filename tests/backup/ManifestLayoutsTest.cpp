// The file lists of both backup layouts and the one index over them: Manifest.mbdb records with
// every field, cut and damaged; Manifest.db rows as SQLite's own engine returns them, with their
// archived MBFile records; file IDs against sha1sum run now; where each layout keeps its files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "backup/BackupFiles.h"
#include "backup/ManifestDb.h"
#include "backup/ManifestMbdb.h"
#include "backup/PlistText.h"
#include "fixtures/Fixtures.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using fixtures::ManifestFileTruth;
using testing::WriteBytes;

// SHA-1 of each text by the system's sha1sum, one run for all of them.
std::vector<std::string> Sha1sum(const std::vector<std::string>& texts) {
  fixtures::TempDir dir("vantrel-sha1");
  std::string command = "cd '" + dir.path() + "' && sha1sum";
  for (size_t i = 0; i < texts.size(); ++i) {
    WriteBytes(dir.File(std::to_string(i)), texts[i]);
    command += " " + std::to_string(i);
  }
  std::vector<std::string> sums;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return sums;
  char line[256];
  while (std::fgets(line, sizeof line, pipe)) sums.emplace_back(line, 40);
  pclose(pipe);
  return sums;
}

std::vector<ManifestFileTruth> MbdbRecords() {
  ManifestFileTruth sms;
  sms.domain = "HomeDomain";
  sms.relativePath = "Library/SMS/sms.db";
  sms.dataHash = std::string("\x12\x34\x00\xFF", 4) + std::string(16, 'h');
  sms.hasKey = true;
  sms.encryptionKey = std::string("\x03\x00\x00\x00", 4) + std::string(40, 'k');
  sms.mode = 0x8180;
  sms.inode = 0x0102030405060708ull;
  sms.userId = 501;
  sms.groupId = 20;
  sms.modified = 0xF0000001;  // past 2^31: the fields are unsigned
  sms.accessed = 1400000002;
  sms.statusChanged = 1400000003;
  sms.size = 0x123456789Aull;
  sms.protectionClass = 3;
  sms.properties = {{"com.apple.assetsd.UUID", std::string("\x00\x01", 2)}, {"k", ""}};
  ManifestFileTruth root;
  root.domain = "MediaDomain";
  root.relativePath = "";
  root.mode = 0x41ED;
  root.protectionClass = 0;
  ManifestFileTruth link;
  link.domain = "CameraRollDomain";
  link.relativePath = "Media/DCIM/照片.jpg";
  link.target = "../100APPLE/IMG_0001.JPG";
  link.mode = 0xA1ED;
  link.hasKey = true;  // present but empty
  return {sms, root, link};
}

void ExpectSame(const FileEntry& e, const ManifestFileTruth& f) {
  EXPECT_EQ(e.domain, f.domain);
  EXPECT_EQ(e.relativePath, f.relativePath);
  EXPECT_EQ(e.linkTarget, f.target);
  EXPECT_EQ(e.dataHash, f.dataHash);
  EXPECT_EQ(e.hasEncryptionKey, f.hasKey);
  EXPECT_EQ(e.encryptionKey, f.encryptionKey);
  EXPECT_EQ(e.mode, f.mode);
  EXPECT_EQ(e.inode, f.inode);
  EXPECT_EQ(e.userId, f.userId);
  EXPECT_EQ(e.groupId, f.groupId);
  EXPECT_EQ(e.modified, f.modified);
  EXPECT_EQ(e.accessed, f.accessed);
  EXPECT_EQ(e.statusChanged, f.statusChanged);
  EXPECT_EQ(e.size, f.size);
  EXPECT_EQ(e.protectionClass, f.protectionClass);
  EXPECT_EQ(e.properties, f.properties);
}

TEST(ManifestMbdb, EveryFieldOfEveryRecord) {
  const std::vector<ManifestFileTruth> records = MbdbRecords();
  const MbdbManifest m = ParseManifestMbdb(fixtures::MbdbBytes(records));
  EXPECT_EQ(m.status, MbdbStatus::Ok);
  EXPECT_EQ(m.versionMajor, 5);
  EXPECT_EQ(m.versionMinor, 0);
  ASSERT_EQ(m.entries.size(), records.size());
  std::vector<std::string> names;
  for (const ManifestFileTruth& f : records) names.push_back(f.domain + "-" + f.relativePath);
  const std::vector<std::string> sums = Sha1sum(names);
  ASSERT_EQ(sums.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(records[i].relativePath);
    ExpectSame(m.entries[i], records[i]);
    EXPECT_EQ(m.entries[i].fileId, sums[i]);
    EXPECT_EQ(BackupFileId(records[i].domain, records[i].relativePath), sums[i]);
  }
  EXPECT_EQ(m.entries[0].kind, FileKind::File);
  EXPECT_EQ(m.entries[1].kind, FileKind::Directory);
  EXPECT_EQ(m.entries[2].kind, FileKind::SymbolicLink);
  EXPECT_FALSE(m.entries[1].hasEncryptionKey);  // 0xFFFF: no key
  EXPECT_TRUE(m.entries[2].encryptionKey.empty());
}

TEST(ManifestMbdb, CutAndDamagedFilesKeepTheRecordsBefore) {
  const std::vector<ManifestFileTruth> records = MbdbRecords();
  const std::string bytes = fixtures::MbdbBytes(records);
  // Where each record ends, from the writer's own output for the first n records.
  std::vector<size_t> ends;
  for (size_t n = 1; n <= records.size(); ++n)
    ends.push_back(fixtures::MbdbBytes({records.begin(), records.begin() + n}).size());
  for (size_t cut = 6; cut < bytes.size(); ++cut) {
    const MbdbManifest m = ParseManifestMbdb(bytes.substr(0, cut));
    size_t whole = 0;
    while (whole < ends.size() && ends[whole] <= cut) ++whole;
    EXPECT_EQ(m.entries.size(), whole) << cut;
    const bool atBoundary = cut == 6 || (whole > 0 && ends[whole - 1] == cut);
    EXPECT_EQ(m.status, atBoundary ? MbdbStatus::Ok : MbdbStatus::Truncated) << cut;
    EXPECT_EQ(m.bytesRead, whole ? ends[whole - 1] : 6u);
  }
  // A string length far past the end (the second record's domain).
  std::string damaged = bytes;
  damaged[ends[0]] = '\x7F';
  const MbdbManifest m = ParseManifestMbdb(damaged);
  EXPECT_EQ(m.status, MbdbStatus::Truncated);
  EXPECT_EQ(m.entries.size(), 1u);
  // Every flipped byte still ends, with at most as many records as bytes allow.
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::string flipped = bytes;
    flipped[i] = static_cast<char>(flipped[i] ^ 0xA5);
    EXPECT_LE(ParseManifestMbdb(flipped).entries.size(), records.size() + 1);
  }
  EXPECT_EQ(ParseManifestMbdb("mbdx\x05\x00").status, MbdbStatus::NotMbdb);
  EXPECT_EQ(ParseManifestMbdb("").status, MbdbStatus::NotMbdb);
  EXPECT_EQ(ParseManifestMbdb(std::string("mbdb\x05\x00", 6)).entries.size(), 0u);
  EXPECT_EQ(ReadManifestMbdb("/nonexistent/Manifest.mbdb").status, MbdbStatus::Unreadable);
}

fixtures::BackupOptions SmallBackup() {
  fixtures::BackupOptions options;
  options.messages.messageCount = 40;
  options.messages.longTexts = 1;
  options.contacts.personCount = 6;
  options.calls.callCount = 12;
  options.calls.keepNewest = 10;
  return options;
}

TEST(ManifestDb, RowsAreWhatSqliteReturnsWithTheirRecords) {
  fixtures::TempDir dir("vantrel-manifestdb");
  fixtures::BackupOptions options = SmallBackup();
  options.layout = fixtures::ManifestLayout::ManifestDb;
  options.fileKeys = true;
  options.extraManifestFiles = 400;  // several leaf pages under an interior page
  const fixtures::BackupTruth truth = fixtures::BuildBackup(dir.path(), options);

  const ManifestDbList list = ReadManifestDb(truth.manifestPath);
  ASSERT_EQ(list.status, ManifestDbStatus::Ok);
  EXPECT_EQ(list.damagedRows, 0u);
  EXPECT_EQ(list.undecodedRecords, 0u);

  fixtures::Database sqlite(truth.manifestPath, {.create = false, .readOnly = true});
  ASSERT_GT(sqlite.QueryInt("SELECT count(*) FROM dbstat WHERE name = 'Files'"), 2);
  const std::vector<fixtures::Row> rows =
      sqlite.Query("SELECT fileID, domain, relativePath, flags FROM Files ORDER BY fileID");
  ASSERT_EQ(list.entries.size(), rows.size());
  ASSERT_EQ(rows.size(), truth.manifestFiles.size());
  // The reader walks the pages in its own order; both sides are compared in fileID order.
  std::vector<FileEntry> entries = list.entries;
  std::sort(entries.begin(), entries.end(),
            [](const FileEntry& a, const FileEntry& b) { return a.fileId < b.fileId; });
  std::map<std::string, ManifestFileTruth> written;
  for (const ManifestFileTruth& f : truth.manifestFiles) written[f.fileId] = f;
  std::vector<std::string> names;
  for (const fixtures::Row& row : rows) names.push_back(row[1].AsText() + "-" + row[2].AsText());
  const std::vector<std::string> sums = Sha1sum(names);
  ASSERT_EQ(sums.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const FileEntry& e = entries[i];
    ASSERT_EQ(written.count(e.fileId), 1u);
    const ManifestFileTruth& f = written[e.fileId];
    SCOPED_TRACE(f.relativePath);
    EXPECT_EQ(e.fileId, rows[i][0].AsText());
    EXPECT_EQ(e.fileId, sums[i]);
    EXPECT_EQ(e.domain, rows[i][1].AsText());
    EXPECT_EQ(e.relativePath, rows[i][2].AsText());
    EXPECT_EQ(e.flags, rows[i][3].AsInt());
    // The archived record, as the fixture wrote it.
    EXPECT_EQ(e.size, f.size);
    EXPECT_EQ(e.mode, f.mode);
    EXPECT_EQ(e.inode, f.inode);
    EXPECT_EQ(e.modified, f.modified);
    EXPECT_EQ(e.statusChanged, f.statusChanged);
    EXPECT_EQ(e.birth, f.birth);
    EXPECT_EQ(e.protectionClass, f.protectionClass);
    EXPECT_EQ(e.linkTarget, f.target);
    EXPECT_EQ(e.hasEncryptionKey, f.hasKey);
    EXPECT_EQ(e.encryptionKey, f.encryptionKey);
  }

  // Lookups by domain and path answer what SQLite's engine answers for the same pair.
  BackupFiles files;
  ASSERT_EQ(files.Open(truth.folder), BackupFilesStatus::Ok);
  for (const fixtures::Row& row : rows) {
    const std::vector<fixtures::Row> hit = sqlite.Query(
        "SELECT fileID, flags FROM Files WHERE domain = ? AND relativePath = ?", {row[1], row[2]});
    ASSERT_EQ(hit.size(), 1u);
    const std::optional<FileEntry> e = files.Find(row[1].AsText(), row[2].AsText());
    ASSERT_TRUE(e.has_value()) << row[2].AsText();
    EXPECT_EQ(e->fileId, hit[0][0].AsText());
    EXPECT_EQ(e->flags, hit[0][1].AsInt());
  }
  EXPECT_EQ(sqlite.IntegrityCheck(), "ok");
}

TEST(ManifestDb, DamagedPagesEndTheReadNeverTheProgram) {
  fixtures::TempDir dir("vantrel-manifestdb-damage");
  fixtures::BackupOptions options = SmallBackup();
  options.includeMessages = options.includeContacts = options.includeCalls = false;
  options.layout = fixtures::ManifestLayout::ManifestDb;
  options.extraManifestFiles = 60;
  const fixtures::BackupTruth truth = fixtures::BuildBackup(dir.path(), options);
  const std::string original = fixtures::ReadFileBytes(truth.manifestPath);
  const std::string copy = dir.File("damaged.db");
  uint64_t state = 12345;
  for (int round = 0; round < 300; ++round) {
    std::string bytes = original;
    for (int i = 0; i < 16; ++i) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      // Past the 100-byte header, so the file stays a database whose pages are damaged.
      const size_t at = 100 + (state >> 33) % (bytes.size() - 100);
      bytes[at] = static_cast<char>(bytes[at] ^ (1 + (state >> 20) % 255));
    }
    WriteBytes(copy, bytes);
    const ManifestDbList list = ReadManifestDb(copy);
    EXPECT_LE(list.entries.size(), truth.manifestFiles.size() + 64);
  }
}

TEST(BackupFiles, EachLayoutFindsItsFiles) {
  fixtures::TempDir dir("vantrel-layouts");
  struct Case {
    const char* name;
    fixtures::ManifestLayout layout;
    bool manifest;
    BackupLayout expected;
  };
  for (const Case& c :
       {Case{"db", fixtures::ManifestLayout::ManifestDb, true, BackupLayout::ManifestDb},
        Case{"mbdb", fixtures::ManifestLayout::Mbdb, true, BackupLayout::ManifestMbdb},
        Case{"flat", fixtures::ManifestLayout::Mbdb, false, BackupLayout::FlatNames}}) {
    SCOPED_TRACE(c.name);
    fixtures::BackupOptions options = SmallBackup();
    options.deviceId = std::string(40, c.name[0]);
    options.layout = c.layout;
    options.writeManifestMbdb = c.manifest;
    options.messages.journal = fixtures::JournalMode::Wal;
    options.walEntry = c.manifest;
    options.extraManifestFiles = 3;
    const fixtures::BackupTruth truth = fixtures::BuildBackup(dir.path(), options);

    BackupFiles files;
    EXPECT_EQ(files.Open(truth.folder), BackupFilesStatus::Ok);
    EXPECT_EQ(files.layout(), c.expected);
    EXPECT_EQ(files.PathOf("HomeDomain", "Library/SMS/sms.db"), truth.messagesPath);
    EXPECT_EQ(files.PathOf("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"),
              truth.contactsPath);
    EXPECT_EQ(files.PathOf("WirelessDomain", "Library/CallHistory/call_history.db"),
              truth.callsPath);
    EXPECT_EQ(files.PathOf("HomeDomain", "Library/SMS/missing.db"), std::nullopt);
    const std::optional<FileEntry> calls =
        files.Find("WirelessDomain", "Library/CallHistory/call_history.db");
    ASSERT_TRUE(calls.has_value());
    EXPECT_EQ(calls->size, fs::file_size(truth.callsPath));
    EXPECT_FALSE(files.HasWal("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"));
    if (c.manifest) {
      EXPECT_TRUE(files.HasWal("HomeDomain", "Library/SMS/sms.db"));
      EXPECT_EQ(files.PathOf("HomeDomain", "Library/SMS/sms.db-wal"), truth.walPath);
      EXPECT_EQ(files.entries().size(), truth.manifestFiles.size());
      EXPECT_EQ(files.PathOfId(calls->fileId), truth.callsPath);
    } else {
      EXPECT_TRUE(files.entries().empty());
    }
    if (c.expected == BackupLayout::ManifestDb) {
      // Listed but not on disk, and a directory: found, but no file to open.
      EXPECT_TRUE(files.Find("AppDomain-com.example.notes", "Documents/note-0002.txt"));
      EXPECT_EQ(files.PathOf("AppDomain-com.example.notes", "Documents/note-0002.txt"),
                std::nullopt);
      ASSERT_TRUE(files.Find("HomeDomain", "Library/SMS"));
      EXPECT_EQ(files.Find("HomeDomain", "Library/SMS")->kind, FileKind::Directory);
      EXPECT_EQ(files.PathOf("HomeDomain", "Library/SMS"), std::nullopt);
      EXPECT_EQ(fs::path(truth.messagesPath).parent_path().filename(), "3d");
    }
  }
}

TEST(BackupFiles, AnEncipheredManifestDbIsSaidToBeOne) {
  fixtures::TempDir dir("vantrel-enciphered");
  fixtures::BackupOptions options = SmallBackup();
  options.includeMessages = options.includeContacts = false;
  options.layout = fixtures::ManifestLayout::ManifestDb;
  options.encipherManifestDb = true;
  const fixtures::BackupTruth truth = fixtures::BuildBackup(dir.path(), options);
  EXPECT_EQ(ReadManifestDb(truth.manifestPath).status, ManifestDbStatus::NotSqlite);
  BackupFiles files;
  EXPECT_EQ(files.Open(truth.folder), BackupFilesStatus::ManifestEncrypted);
  EXPECT_EQ(files.layout(), BackupLayout::ManifestDb);
  EXPECT_TRUE(files.entries().empty());

  // The same bytes in a backup whose Manifest.plist says it is not encrypted: damage.
  WriteBytes(truth.folder + "/Manifest.plist", testing::PlistText({{"IsEncrypted", "<false/>"}}));
  EXPECT_EQ(files.Open(truth.folder), BackupFilesStatus::ManifestDamaged);
  // An SQLite file without the Files table.
  fs::remove(truth.manifestPath);
  fixtures::Database(truth.manifestPath).Exec("CREATE TABLE Other (x)");
  EXPECT_EQ(ReadManifestDb(truth.manifestPath).status, ManifestDbStatus::NoFilesTable);
  EXPECT_EQ(files.Open(truth.folder), BackupFilesStatus::ManifestDamaged);
  EXPECT_EQ(files.Open(truth.folder + "/none"), BackupFilesStatus::NoFolder);
}

}  // namespace
}  // namespace vantrel
