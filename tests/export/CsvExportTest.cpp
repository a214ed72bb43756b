// CSV files: UTF-16LE with FF FE, the fixed headers and CR LF byte for byte,
// and every file read back by Python's csv module into exactly the records.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "ExportSamples.h"
#include "ExportTestSupport.h"
#include "export/CsvRows.h"
#include "export/Exporter.h"
#include "export/TimeText.h"

namespace vantrel {
namespace {

using namespace vantrel::testing;
using Rows = std::vector<std::vector<std::string>>;

class CsvExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
  }
  Collections data = SampleCollections();
  TempFolder dir;
};

void AddMessageRows(Rows& rows, const std::string& address, const MessageList& records) {
  for (const MessageRecord& m : records)
    rows.push_back({address, MessageDateText(m.date), m.text,
                    !m.fromMe   ? ""
                    : *m.fromMe ? "send"
                                : "recv",
                    m.readDate ? "read" : "unread"});
}

Rows MessageRows(const MessageMap& map) {
  Rows rows = {{"PhoneNumber", "DateCreated", "Content", "Type", "State"}};
  for (const auto& [address, records] : map) AddMessageRows(rows, address, records);
  return rows;
}

// Deleted messages are listed under "+86" and three middle dots.
Rows MessageRows(const MessageList& deleted) {
  Rows rows = {{"PhoneNumber", "DateCreated", "Content", "Type", "State"}};
  AddMessageRows(rows, "+86\u00B7\u00B7\u00B7", deleted);
  return rows;
}

Rows CallRows(const CallMap& map) {
  Rows rows = {{"PhoneNumber", "DateCreated", "HoldingTime", "CallType"}};
  for (const auto& [number, records] : map)
    for (const CallRecord& c : records)
      rows.push_back({number, CallDateText(c.date), DurationText(c.duration),
                      (c.flags & 1) ? "callout" : "callin"});
  return rows;
}

// A live-contact row as the file must hold it: 118 fields, the name under Name
// and Family Name, the given phone pairs from Phone 1 on.
std::vector<std::string> ContactRow(const std::string& name,
                                    const std::vector<std::string>& phonePairs) {
  std::vector<std::string> row(118);
  row[0] = row[3] = name;
  for (size_t i = 0; i < phonePairs.size(); ++i) {
    if (39 + i >= row.size()) row.resize(39 + i + 1);
    row[39 + i] = phonePairs[i];
  }
  if (phonePairs.size() > 20) row.resize(118 + phonePairs.size() - 20);
  return row;
}

TEST_F(CsvExportTest, AllCategoriesWriteSixFilesThatReadBackIntoTheRecords) {
  const ExportResult r = ExportAllCategories(data, ExportFormat::Csv, dir.Path(), {});
  ASSERT_TRUE(r.ok) << r.failedFile << ": " << r.reason;
  const std::vector<std::string> names = {"SMS_Del.CSV",          "SMS.CSV",
                                          "Contacts_Del.CSV",     "Contacts.CSV",
                                          "Call_history_Del.CSV", "Call_history.CSV"};
  ASSERT_EQ(r.writtenFiles.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(r.writtenFiles[i], dir.File(names[i]));

  // Every file is UTF-16LE behind FF FE, and the csv module gets the records back.
  for (const std::string& name : names)
    EXPECT_EQ(ReadAll(dir.File(name)).substr(0, 2), "\xFF\xFE") << name;

  EXPECT_EQ(ReadCsvWithPython(dir.File("SMS.CSV")), MessageRows(data.liveMessages));
  EXPECT_EQ(ReadCsvWithPython(dir.File("SMS_Del.CSV")), MessageRows(data.deletedMessages));
  EXPECT_EQ(ReadCsvWithPython(dir.File("Call_history.CSV")), CallRows(data.liveCalls));
  EXPECT_EQ(ReadCsvWithPython(dir.File("Call_history_Del.CSV")), CallRows(data.deletedCalls));

  const Rows deleted = ReadCsvWithPython(dir.File("Contacts_Del.CSV"));
  const Rows expectedDeleted = {
      {"Phone", "name"}, {"13912345678", "张三"}, {"+86 10,8888", "李\"四\""}, {"😀", ""}};
  EXPECT_EQ(deleted, expectedDeleted);

  const Rows contacts = ReadCsvWithPython(dir.File("Contacts.CSV"));
  ASSERT_EQ(contacts.size(), 4u);  // header, 王, 赵, Many; never the deleted entry
  ASSERT_EQ(contacts[0].size(), 118u);
  EXPECT_EQ(contacts[0][0], "Name");
  EXPECT_EQ(contacts[0][3], "Family Name");
  EXPECT_EQ(contacts[0][13], "Group Membership");
  EXPECT_EQ(contacts[0][14], "E-mail 1 - Type");
  EXPECT_EQ(contacts[0][24], "IM 1 - Type");
  EXPECT_EQ(contacts[0][39], "Phone 1 - Type");
  EXPECT_EQ(contacts[0][58], "Phone 10 - Value");
  EXPECT_EQ(contacts[0][59], "Address 1 - Type");
  EXPECT_EQ(contacts[0][99], "Organization 1 - Name");
  EXPECT_EQ(contacts[0][117], "Event 3 - Value");
  // Labels in byte order ('_' before 'm'); the two "mobile" numbers share one column.
  EXPECT_EQ(contacts[1], ContactRow("王, \"五\"", {"_$!<Home>!$_", "010-1234,5678", "mobile",
                                                   "138 0013 8000 ::: 139\r\n0000"}));
  EXPECT_EQ(contacts[2], ContactRow("赵六", {"iPhone", "2", "work", "1", "住宅", "3"}));
  std::vector<std::string> many;
  for (int i = 0; i < 12; ++i) {
    many.push_back("L" + std::to_string(10 + i));
    many.push_back(std::to_string(i));
  }
  EXPECT_EQ(contacts[3], ContactRow("Many", many));
}

TEST_F(CsvExportTest, ManyMessagesComeOutWholeAndInOrder) {
  // Long lists are made a run of rows at a time on two threads: every row must still come out
  // once, in order, in lists that end anywhere in a run.
  data.liveMessages.clear();
  data.deletedMessages.clear();
  const auto fill = [](MessageList& list, const std::string& tag, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      MessageRecord m;
      m.text = tag + " 第" + std::to_string(i) + (i % 7 == 0 ? "条, \"引号\"" : "条");
      m.date = static_cast<int32_t>(400000000 + i * 61);
      if (i % 3 != 0) m.fromMe = i % 3 == 1;
      m.readDate = i % 2 ? m.date.value() + 5 : 0;
      list.push_back(std::move(m));
    }
  };
  fill(data.liveMessages["13800000001"], "a", 15000);
  fill(data.liveMessages["13800000002"], "b", 1);
  fill(data.liveMessages["zhao@example.com"], "c", 24000);
  fill(data.deletedMessages, "d", 20000);
  ASSERT_TRUE(ExportAllCategories(data, ExportFormat::Csv, dir.Path(), {}).ok);
  EXPECT_EQ(ReadCsvWithPython(dir.File("SMS.CSV")), MessageRows(data.liveMessages));
  EXPECT_EQ(ReadCsvWithPython(dir.File("SMS_Del.CSV")), MessageRows(data.deletedMessages));
}

TEST_F(CsvExportTest, HeadersMarksAndLineEndsAreExactBytes) {
  ASSERT_TRUE(ExportAllCategories(data, ExportFormat::Csv, dir.Path(), {}).ok);
  const std::string bom = "\xFF\xFE";
  const std::string sms = ReadAll(dir.File("SMS.CSV"));
  const std::string smsHeader = AsciiUtf16("PhoneNumber,DateCreated,Content,Type,State\r\n");
  EXPECT_EQ(sms.substr(0, 2 + smsHeader.size()), bom + smsHeader);
  EXPECT_EQ(sms.substr(sms.size() - 4), AsciiUtf16("\r\n"));

  // The deleted messages' key: "+86" and three middle dots (U+00B7).
  const std::string del = ReadAll(dir.File("SMS_Del.CSV"));
  const std::string key =
      AsciiUtf16("+86") + std::string("\xB7\0\xB7\0\xB7\0", 6) + AsciiUtf16(",");
  EXPECT_EQ(del.substr(2 + smsHeader.size(), key.size()), key);

  const std::string calls = ReadAll(dir.File("Call_history.CSV"));
  const std::string callHeader = AsciiUtf16("PhoneNumber,DateCreated,HoldingTime,CallType\r\n");
  EXPECT_EQ(calls.substr(0, 2 + callHeader.size()), bom + callHeader);
  // In Shanghai (UTC+8) 2012-02-29 12:00 UTC is 20:00; 3725 s is an hour and more.
  EXPECT_NE(calls.find(AsciiUtf16("13800138000,2012-02-29 20:00:00,01:02:05,callout\r\n")),
            std::string::npos);
  EXPECT_NE(calls.find(AsciiUtf16("13800138000,2012-02-29 20:01:00,01:05,callin\r\n")),
            std::string::npos);
  EXPECT_NE(calls.find(AsciiUtf16("\"10,086\",2012-02-29 20:00:00,00:59,callout\r\n")),
            std::string::npos);

  const std::string deleted = ReadAll(dir.File("Contacts_Del.CSV"));
  EXPECT_EQ(deleted.substr(0, 2 + 24), bom + AsciiUtf16("Phone,name\r\n"));
  EXPECT_NE(deleted.find(AsciiUtf16("\"+86 10,8888\",")), std::string::npos);

  // The three-label contact: 3 pairs (each followed by its comma), 7 empty pairs
  // to Phone 10, then 58 commas for the empty address to event columns.
  const std::string contacts = ReadAll(dir.File("Contacts.CSV"));
  const size_t zhao = contacts.find(AsciiUtf16(",iPhone,2,work,1,"));
  ASSERT_NE(zhao, std::string::npos);
  const std::string afterZhu = std::string("\x4F\x4F\x85\x5B", 4) + AsciiUtf16(",3") +
                               AsciiUtf16(std::string(1 + 14 + 58, ',') + "\r\n");
  EXPECT_EQ(contacts.substr(zhao + AsciiUtf16(",iPhone,2,work,1,").size(), afterZhu.size()),
            afterZhu);
  // Header: the 118 names joined by 117 commas, then CR LF.
  const std::string header = contacts.substr(2, contacts.find(AsciiUtf16("\r\n")) + 4 - 2);
  size_t commas = 0;
  for (size_t i = 0; i + 1 < header.size(); i += 2)
    commas += header[i] == ',' && header[i + 1] == 0;
  EXPECT_EQ(commas, 117u);
}

TEST_F(CsvExportTest, CurrentCategoryPutsDeletedRecordsBesideTheChosenFile) {
  // Deleted messages: only SMS_Del.csv appears.
  const std::string chosen = dir.File("SMS.csv");
  ExportResult r =
      ExportCurrentCategory(data, Category::DeletedMessages, ExportFormat::Csv, chosen, {});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.writtenFiles, std::vector<std::string>{dir.File("SMS_Del.csv")});
  EXPECT_FALSE(fs::exists(chosen));
  EXPECT_EQ(ReadCsvWithPython(dir.File("SMS_Del.csv")), MessageRows(data.deletedMessages));

  // Live messages go to the chosen file.
  r = ExportCurrentCategory(data, Category::LiveMessages, ExportFormat::Csv, chosen, {});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(ReadCsvWithPython(chosen), MessageRows(data.liveMessages));

  // Deleted calls go to the chosen file itself, not to a "_Del" file.
  const std::string callFile = dir.File("calls.csv");
  r = ExportCurrentCategory(data, Category::DeletedCalls, ExportFormat::Csv, callFile, {});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.writtenFiles, std::vector<std::string>{callFile});
  EXPECT_EQ(ReadCsvWithPython(callFile), CallRows(data.deletedCalls));
  EXPECT_FALSE(fs::exists(dir.File("calls_Del.csv")));

  // Deleted contacts beside a chosen name without extension; live contacts apart from them.
  r = ExportCurrentCategory(data, Category::DeletedContacts, ExportFormat::Csv, dir.File("book"),
                            {});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.writtenFiles, std::vector<std::string>{dir.File("book_Del")});
  EXPECT_EQ(ReadCsvWithPython(dir.File("book_Del")).size(), 4u);
  r = ExportCurrentCategory(data, Category::LiveContacts, ExportFormat::Csv, dir.File("book"), {});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(ReadCsvWithPython(dir.File("book")).size(), 4u);
}

TEST_F(CsvExportTest, EmptyCollectionsWriteOnlyWhatMustExist) {
  const Collections empty;
  // Nothing deleted: the deleted node writes nothing and still succeeds.
  ExportResult r = ExportCurrentCategory(empty, Category::DeletedMessages, ExportFormat::Csv,
                                         dir.File("a.csv"), {});
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.writtenFiles.empty());
  r = ExportCurrentCategory(empty, Category::DeletedContacts, ExportFormat::Csv, dir.File("a.csv"),
                            {});
  EXPECT_TRUE(r.writtenFiles.empty());
  // The live messages node gives a header-only file; a call node always creates its file.
  r = ExportCurrentCategory(empty, Category::LiveMessages, ExportFormat::Csv, dir.File("m.csv"),
                            {});
  EXPECT_EQ(ReadAll(dir.File("m.csv")),
            "\xFF\xFE" + AsciiUtf16("PhoneNumber,DateCreated,Content,Type,State\r\n"));
  r = ExportCurrentCategory(empty, Category::LiveCalls, ExportFormat::Csv, dir.File("c.csv"), {});
  EXPECT_EQ(ReadAll(dir.File("c.csv")),
            "\xFF\xFE" + AsciiUtf16("PhoneNumber,DateCreated,HoldingTime,CallType\r\n"));
  // Save-all writes Contacts.CSV alone, holding its header.
  TempFolder all;
  r = ExportAllCategories(empty, ExportFormat::Csv, all.Path() + "/", {});
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.writtenFiles, std::vector<std::string>{all.File("Contacts.CSV")});
  EXPECT_EQ(ReadCsvWithPython(all.File("Contacts.CSV")).size(), 1u);
}

TEST(CsvFieldTest, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(CsvField("plain 文本"), "plain 文本");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("a\r\nb"), "\"a\r\nb\"");
  EXPECT_EQ(CsvField(""), "");
  // Fields are looked through several bytes at a time: each character that
  // needs quotes is seen wherever it falls, the last byte included.
  const std::string pad(40, 'x');
  for (size_t at = 0; at <= pad.size(); ++at) {
    SCOPED_TRACE(at);
    const std::string before = pad.substr(0, at), after = pad.substr(at);
    for (const char* c : {",", "\r", "\n"})
      EXPECT_EQ(CsvField(before + c + after), "\"" + before + c + after + "\"");
    EXPECT_EQ(CsvField(before + "\"" + after), "\"" + before + "\"\"" + after + "\"");
    EXPECT_EQ(CsvField(before + "文" + after), before + "文" + after);
  }
}

TEST(ExportNamesTest, KindsDefaultNamesAndDeletedNames) {
  EXPECT_EQ(DefaultFileName(RecordKind::Calls, ExportFormat::Csv), "Call_history.csv");
  EXPECT_EQ(DefaultFileName(RecordKind::Contacts, ExportFormat::Txt), "Contacts.txt");
  EXPECT_EQ(DefaultFileName(RecordKind::Messages, ExportFormat::Txt), "SMS.txt");
  EXPECT_EQ(DeletedFileName("/home/u/SMS.csv"), "/home/u/SMS_Del.csv");
  EXPECT_EQ(DeletedFileName("/home/u.v/notes.2024.txt"), "/home/u.v/notes.2024_Del.txt");
  EXPECT_EQ(DeletedFileName("/home/u.v/SMS"), "/home/u.v/SMS_Del");
  EXPECT_EQ(DeletedFileName("SMS.CSV"), "SMS_Del.CSV");
}

}  // namespace
}  // namespace vantrel
