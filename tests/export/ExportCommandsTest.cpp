// The save commands through a recording ExportDialogs: what is asked, when
// nothing happens, and that a file that cannot be created or written is
// reported with its name and reason and never followed by "完成！".
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ExportSamples.h"
#include "ExportTestSupport.h"
#include "export/Exporter.h"

namespace vantrel {
namespace {

using namespace vantrel::testing;

class ExportCommandsTest : public ::testing::Test {
 protected:
  Collections data = SampleCollections();
  RecordingDialogs dialogs;
  TempFolder dir;
};

TEST_F(ExportCommandsTest, NoNodeOrNoKindAsksNothing) {
  RunSaveCurrent(dialogs, data, std::nullopt, ExportFormat::Csv, {});
  RunSaveCurrent(dialogs, data, std::nullopt, ExportFormat::Txt, {});
  EXPECT_TRUE(dialogs.askedNames.empty());
  EXPECT_EQ(dialogs.doneCount, 0);
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(ExportCommandsTest, CancelWritesNothingAndSaysNothing) {
  const ExportResult r = RunSaveCurrent(dialogs, data, Category::LiveCalls, ExportFormat::Csv, {});
  ASSERT_EQ(dialogs.askedNames, std::vector<std::string>{"Call_history.csv"});
  const FileFilters csvFilters = {{"", {"*.csv"}}, {"All Files", {"*.*"}}};
  EXPECT_EQ(dialogs.askedFilters, std::vector<FileFilters>{csvFilters});
  EXPECT_TRUE(r.writtenFiles.empty());

  RunSaveAll(dialogs, data, ExportFormat::Txt, {});
  EXPECT_EQ(dialogs.askedTitles, std::vector<std::string>{"选择路径"});
  EXPECT_EQ(dialogs.doneCount, 0);
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_TRUE(fs::is_empty(dir.Path()));
}

TEST_F(ExportCommandsTest, SuccessEndsWithTheDoneNotice) {
  dialogs.saveAnswer = dir.File("SMS.txt");
  ExportResult r = RunSaveCurrent(dialogs, data, Category::DeletedMessages, ExportFormat::Txt, {});
  EXPECT_EQ(dialogs.askedNames, std::vector<std::string>{"SMS.txt"});
  const FileFilters txtFilters = {{"", {"*.txt"}}, {"All Files", {"*.*"}}};
  EXPECT_EQ(dialogs.askedFilters, std::vector<FileFilters>{txtFilters});
  EXPECT_EQ(r.writtenFiles, std::vector<std::string>{dir.File("SMS_Del.txt")});
  EXPECT_EQ(dialogs.doneCount, 1);

  // A node that writes nothing still ends with the notice.
  const Collections empty;
  RunSaveCurrent(dialogs, empty, Category::DeletedMessages, ExportFormat::Txt, {});
  EXPECT_EQ(dialogs.doneCount, 2);

  dialogs.folderAnswer = dir.Path();
  r = RunSaveAll(dialogs, data, ExportFormat::Csv, {});
  EXPECT_EQ(r.writtenFiles.size(), 6u);
  EXPECT_EQ(dialogs.doneCount, 3);
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(ExportCommandsTest, AWriteFailureNamesTheFileAndReasonWithoutDone) {
  // /dev/full accepts the open and refuses every write: a full disk.
  const std::string full = "/dev/full";
  ASSERT_TRUE(fs::exists(full));
  dialogs.saveAnswer = full;
  for (ExportFormat format : {ExportFormat::Csv, ExportFormat::Txt}) {
    dialogs.errors.clear();
    const ExportResult r =
        RunSaveCurrent(dialogs, data, Category::LiveCalls, format, ExportOptions{"GBK"});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failedFile, full);
    EXPECT_EQ(r.reason, std::strerror(ENOSPC));
    EXPECT_TRUE(r.writtenFiles.empty());
    ASSERT_EQ(dialogs.errors.size(), 1u);
    EXPECT_NE(dialogs.errors[0].find(full), std::string::npos);
    EXPECT_NE(dialogs.errors[0].find(std::strerror(ENOSPC)), std::string::npos);
  }
  // A header-only CSV fails too; an empty TXT file has no bytes to write and succeeds.
  const Collections empty;
  EXPECT_TRUE(RunSaveCurrent(dialogs, empty, Category::LiveMessages, ExportFormat::Txt, {}).ok);
  ExportResult r = RunSaveCurrent(dialogs, empty, Category::LiveMessages, ExportFormat::Csv, {});
  EXPECT_FALSE(r.ok);
  r = RunSaveCurrent(dialogs, data, Category::LiveContacts, ExportFormat::Txt, {});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(dialogs.doneCount, 1);  // only the empty TXT file above
}

TEST_F(ExportCommandsTest, AFolderThatCannotBeWrittenIsReportedAndEarlierFilesStay) {
  // A regular file where the folder should be.
  const std::string notFolder = dir.File("plain-file");
  WriteAll(notFolder, "x");
  dialogs.folderAnswer = notFolder;
  ExportResult r = RunSaveAll(dialogs, data, ExportFormat::Csv, {});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedFile, notFolder + "/SMS_Del.CSV");
  EXPECT_EQ(r.reason, std::strerror(ENOTDIR));
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_NE(dialogs.errors[0].find(notFolder + "/SMS_Del.CSV"), std::string::npos);
  EXPECT_NE(dialogs.errors[0].find(std::strerror(ENOTDIR)), std::string::npos);

  // A folder that does not exist.
  dialogs.folderAnswer = dir.File("missing");
  r = RunSaveAll(dialogs, data, ExportFormat::Txt, {});
  EXPECT_EQ(r.reason, std::strerror(ENOENT));
  EXPECT_EQ(dialogs.errors.size(), 2u);

  // The second file cannot be created (a folder holds its name): the first stays,
  // nothing after it is written.
  const std::string out = dir.File("out");
  fs::create_directories(out + "/SMS.CSV");
  dialogs.folderAnswer = out;
  r = RunSaveAll(dialogs, data, ExportFormat::Csv, {});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.writtenFiles, std::vector<std::string>{out + "/SMS_Del.CSV"});
  EXPECT_EQ(r.failedFile, out + "/SMS.CSV");
  EXPECT_EQ(r.reason, std::strerror(EISDIR));
  EXPECT_TRUE(fs::is_regular_file(out + "/SMS_Del.CSV"));
  EXPECT_FALSE(fs::exists(out + "/Contacts.CSV"));
  EXPECT_EQ(dialogs.errors.size(), 3u);

  // A folder without write permission (root may write anyway, so only as a user).
  if (::geteuid() != 0) {
    const std::string locked = dir.File("locked");
    fs::create_directory(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    dialogs.folderAnswer = locked;
    r = RunSaveAll(dialogs, data, ExportFormat::Csv, {});
    EXPECT_EQ(r.reason, std::strerror(EACCES));
    fs::permissions(locked, fs::perms::owner_all);
  }
  EXPECT_EQ(dialogs.doneCount, 0);
}

}  // namespace
}  // namespace vantrel
