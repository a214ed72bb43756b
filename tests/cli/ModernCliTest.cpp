// The real vantrel-cli on backup folders of later iOS versions: the flat names of iOS 9 (with
// the stale iOS 7 call database an upgraded phone keeps beside the call store) and the
// two-digit subfolders of iOS 10 and later; what `summary` counts, what `records` prints in
// its fixed first fields and its trailing ones, and message times shown in local time across
// China's summer time of 1988.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "cli/CliRunner.h"
#include "fixtures/Fixtures.h"
#include "fixtures/Modern.h"

namespace fx = vantrel::fixtures;

namespace {

constexpr char kCallStoreName[] = "5a4935c78a5255723f707230a451d79c540d2741";

using vantrel::testing::CliRun;

// Message times are shown in China's local time, summer time of 1988 included.
CliRun Cli(const std::vector<std::string>& args) {
  return vantrel::testing::RunCli(args, "TZ=Asia/Shanghai ");
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> parts(1);
  for (char c : line) {
    if (c == '\t')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ",") + item;
  return out;
}

// Where a backup folder keeps a file: flat, or under its first two hex digits.
std::string Place(const std::string& folder, const std::string& name, bool nested) {
  if (!nested) return folder + "/" + name;
  std::filesystem::create_directories(folder + "/" + name.substr(0, 2));
  return folder + "/" + name.substr(0, 2) + "/" + name;
}

struct ModernBackup {
  std::string folder;
  fx::ModernMessagesTruth messages;
  fx::ModernContactsTruth contacts;
  fx::ModernCallsTruth calls;
};

ModernBackup BuildModernBackup(const fx::TempDir& dir, int smsVersion, int contactsVersion,
                               int callsVersion, bool nested, bool legacyCalls) {
  ModernBackup b;
  b.folder = dir.File("backup");
  std::filesystem::create_directories(b.folder);
  fx::ModernMessageOptions sms;
  sms.iosVersion = smsVersion;
  b.messages = fx::BuildModernMessagesDb(Place(b.folder, fx::kMessagesFileName, nested), sms);
  b.contacts =
      fx::BuildModernContactsDb(Place(b.folder, fx::kContactsFileName, nested), contactsVersion);
  b.calls = fx::BuildModernCallsDb(Place(b.folder, kCallStoreName, nested), callsVersion);
  if (legacyCalls) {
    // An upgraded phone still carries its iOS 7 call database, frozen at the upgrade.
    fx::CallOptions old;
    old.callCount = 30;
    fx::BuildCallsDb(Place(b.folder, fx::kCallsFileName, nested), old);
  }
  return b;
}

std::map<std::string, int> Summary(const std::string& folder) {
  CliRun summary = Cli({"summary", folder});
  EXPECT_EQ(summary.status, 0) << summary.err;
  std::map<std::string, int> counts;
  for (const std::string& line : summary.Lines()) {
    auto f = Split(line);
    if (f.size() == 2) counts[f[0]] = std::stoi(f[1]);
  }
  return counts;
}

void ExpectRecordsOf(const ModernBackup& b) {
  // Messages: the first seven fields as for iOS 6/7 (dates in whole seconds since 2001 whatever
  // the stored unit, the words from attributedBody), then chat name and participants.
  std::map<std::string, const fx::ModernMessage*> byText;
  size_t live = 0;
  for (const fx::ModernMessage& m : b.messages.messages)
    if (!m.deleted && !m.recentlyDeleted) {  // recently deleted ones are listed as deleted
      byText[m.text] = &m;
      ++live;
    }
  CliRun messages = Cli({"records", b.folder, "messages"});
  ASSERT_EQ(messages.status, 0) << messages.err;
  ASSERT_EQ(messages.Lines().size(), live);
  for (const std::string& line : messages.Lines()) {
    const auto f = Split(line);
    // The nine fields of main, the contact name, then five of later versions (reactions ..
    // attachments).
    ASSERT_EQ(f.size(), 15u) << line;
    ASSERT_EQ(byText.count(f[6]), 1u) << line;
    const fx::ModernMessage& m = *byText[f[6]];
    const fx::ModernChat& chat = b.messages.ChatOf(m);
    EXPECT_EQ(f[0], chat.identifier);
    EXPECT_EQ(std::stoll(f[1]), m.seconds) << line;
    EXPECT_EQ(std::stoll(f[2]), m.readSeconds) << line;
    EXPECT_EQ(f[3], std::to_string(m.isFromMe));
    EXPECT_EQ(f[4], m.service);
    EXPECT_EQ(f[7], chat.displayName);
    EXPECT_EQ(f[8], chat.style == 43 ? Joined(chat.members) : "");
  }

  // Calls from the call store (never the stale legacy file): number, Unix date, whole-second
  // duration, flags, then type and answered.
  std::map<std::pair<std::string, int64_t>, const fx::ModernCall*> calls;
  for (const fx::ModernCall& c : b.calls.calls)
    if (!c.deleted)
      calls[{c.address.empty() ? c.participants.front() : c.address, c.unixSeconds}] = &c;
  CliRun callLines = Cli({"records", b.folder, "calls"});
  ASSERT_EQ(callLines.status, 0) << callLines.err;
  ASSERT_EQ(callLines.Lines().size(), calls.size());
  const std::map<int, std::string> typeWords = {
      {1, "phone"}, {8, "facetime-video"}, {16, "facetime-audio"}, {0, "other"}};
  for (const std::string& line : callLines.Lines()) {
    const auto f = Split(line);
    ASSERT_EQ(f.size(), 8u) << line;
    auto found = calls.find({f[0], std::stoll(f[1])});
    ASSERT_NE(found, calls.end()) << line;
    const fx::ModernCall& c = *found->second;
    EXPECT_EQ(std::stoll(f[2]), c.duration);
    EXPECT_EQ(f[3], c.outgoing ? "1" : "0");
    EXPECT_EQ(f[4], typeWords.at(c.callType));
    EXPECT_EQ(f[5], c.answered ? "1" : "0");
    EXPECT_EQ(f[6], Joined(c.participants));
  }

  CliRun contacts = Cli({"records", b.folder, "contacts"});
  ASSERT_EQ(contacts.status, 0) << contacts.err;
  EXPECT_EQ(contacts.Lines().size(), b.contacts.persons.size());

  // The summary counts the same records.
  auto counts = Summary(b.folder);
  EXPECT_EQ(counts["短信/现存数据"], static_cast<int>(live));
  EXPECT_EQ(counts["通话记录/现存数据"], static_cast<int>(calls.size()));
  EXPECT_EQ(counts["通讯录/现有联系人"], static_cast<int>(b.contacts.persons.size()));
}

TEST(ModernBackupFolder, Ios9FlatNamesPreferTheCallStore) {
  fx::TempDir dir;
  const ModernBackup b = BuildModernBackup(dir, 9, 9, 9, /*nested=*/false, /*legacyCalls=*/true);
  ExpectRecordsOf(b);
}

TEST(ModernBackupFolder, Ios10AndLaterTwoDigitSubfolders) {
  fx::TempDir dir;
  const ModernBackup b = BuildModernBackup(dir, 16, 16, 17, /*nested=*/true, /*legacyCalls=*/false);
  ExpectRecordsOf(b);
}

TEST(ModernBackupFolder, UpgradedPhoneMixedUnitsAndTheIos15AddressBook) {
  fx::TempDir dir;
  const ModernBackup b = BuildModernBackup(dir, 12, 15, 17, /*nested=*/true, /*legacyCalls=*/true);
  ExpectRecordsOf(b);
}

// Message times in the files are local times: Asia/Shanghai was UTC+9 in the summer of 1988
// and is UTC+8 now, for a time stored in seconds or in nanoseconds alike.
TEST(ModernBackupFolder, ExportedTimesFollowSummerTime) {
  fx::TempDir dir;
  for (int version : {12, 16}) {
    SCOPED_TRACE(version);
    fx::ModernMessageOptions options;
    options.iosVersion = version;
    const auto truth = fx::BuildModernMessagesDb(dir.File("sms.db"), options);
    const std::string out = dir.File("out" + std::to_string(version));
    CliRun run = Cli({"export", truth.path, out, "--format", "txt", "--encoding", "UTF-8",
                      "--category", "短信/现存数据", "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string txt;
    for (const auto& entry : std::filesystem::directory_iterator(out))
      txt += fx::ReadFileBytes(entry.path().string());
    // messages[1] is 1988-07-01 12:30:00 UTC; messages[2] is in March 2019.
    const fx::ModernMessage& summer = truth.messages[1];
    const fx::ModernMessage& recent = truth.messages[2];
    ASSERT_EQ(summer.seconds, fx::AppleSeconds(1988, 7, 1, 12, 30, 0));
    EXPECT_NE(txt.find("1988-07-01 21:30:00"), std::string::npos);
    const int64_t local = recent.seconds + 8 * 3600 + fx::kAppleEpochOffset;
    char text[32];
    const time_t t = static_cast<time_t>(local);
    struct tm parts;
    gmtime_r(&t, &parts);
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    EXPECT_NE(txt.find(text), std::string::npos) << text;
  }
}

// The iOS 16 backup of the Manifest.db layout (binary property lists, files under two-digit
// subfolders, the call store found through the manifest), as the second sample is made.
TEST(ModernBackupFolder, ManifestDbBackupThroughItsIndex) {
  fx::TempDir dir;
  const fx::BackupTruth truth = fx::BuildBackup(dir.path(), fx::SampleIos16BackupOptions());
  ModernBackup b;
  b.folder = truth.folder;
  b.messages = *truth.modernMessages;
  b.contacts = *truth.modernContacts;
  b.calls = *truth.modernCalls;
  ExpectRecordsOf(b);
}

// The sync software's Backup folder holding an iOS 7 backup and an iOS 16 one: `backups` lists
// both with their names, dates and versions; summary, export and records name them instead of
// loading, and exit 2.
TEST(ModernBackupFolder, FolderOfOldAndNewBackups) {
  fx::TempDir dir;
  const fx::BackupOptions oldOptions;
  const fx::BackupOptions newOptions = fx::SampleIos16BackupOptions();
  const fx::BackupTruth old = fx::BuildBackup(dir.path(), oldOptions);
  const fx::BackupTruth modern = fx::BuildBackup(dir.path(), newOptions);
  std::vector<std::string> expected = {
      old.folder + "\t" + oldOptions.deviceName + "\t" + oldOptions.lastBackupDate + "\t" +
          oldOptions.productVersion,
      modern.folder + "\t" + newOptions.deviceName + "\t" + newOptions.lastBackupDate + "\t" +
          newOptions.productVersion};
  std::sort(expected.begin(), expected.end());

  CliRun list = Cli({"backups", dir.path()});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.Lines(), expected);

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"summary", dir.path()},
        std::vector<std::string>{"export", dir.path(), dir.File("out")},
        std::vector<std::string>{"records", dir.path(), "messages"}}) {
    SCOPED_TRACE(args[0]);
    CliRun run = Cli(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.out.empty());
    for (const std::string& row : expected) EXPECT_NE(run.err.find(row), std::string::npos);
    EXPECT_NE(run.err.find("此文件夹中存放的是多个备份"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("out")));
}

// A backup nothing can be read from says which iOS made it (binary Info.plist alike).
TEST(ModernBackupFolder, UnreadableBackupNamesItsVersion) {
  fx::TempDir dir;
  for (const std::string version : {"5.1.1", "14.3"}) {
    fx::BackupOptions options;
    options.productVersion = version;
    options.binaryPlists = version == "14.3";
    options.includeMessages = options.includeContacts = options.includeCalls = false;
    const fx::BackupTruth truth = fx::BuildBackup(dir.File(version), options);
    CliRun run = Cli({"summary", truth.folder});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("iOS " + version), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("iOS6.x"), std::string::npos);
  }
}

}  // namespace
