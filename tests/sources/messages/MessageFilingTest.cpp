// Where the message loader files what it reads, on rows made by hand: the
// address a live message is filed under, the order live messages are filed
// in across readers, and which carved messages are filed as deleted.
#include "sources/messages/MessageFiling.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

namespace mc = message_column;

// A message row as the reader renders it: 29 columns, the unread ones empty.
RowValues MessageRow(int64_t rowid, const std::string& guid, const std::string& text,
                     int64_t handle, int32_t date, const std::string& service = "SMS") {
  RowValues row(29);
  row[mc::kRowid] = std::to_string(rowid);
  row[mc::kGuid] = guid;
  row[mc::kText] = text;
  row[mc::kHandleId] = std::to_string(handle);
  row[mc::kService] = service;
  row[mc::kDate] = std::to_string(date);
  row[mc::kDateRead] = "0";
  row[mc::kIsFromMe] = "1";
  row[mc::kIsSent] = "1";
  return row;
}

RowValues ChatRow(int64_t rowid, const std::string& identifier, const std::string& account) {
  RowValues row(10);
  row[chat_column::kRowid] = std::to_string(rowid);
  row[chat_column::kChatIdentifier] = identifier;
  row[chat_column::kAccountLogin] = account;
  return row;
}

std::vector<std::string> Texts(const MessageList& list) {
  std::vector<std::string> texts;
  for (const MessageRecord& m : list) texts.push_back(m.text);
  return texts;
}

class LiveFiling : public ::testing::Test {
 protected:
  void SetUp() override {
    chats_ = {ChatRow(1, "+8613800138000", "e:me@example.com"), ChatRow(2, "12", ""),
              ChatRow(3, "group-chat-7", "")};
    handles_ = {{"1", "+8613900139000"}, {"2", "10086"}, {"3", "abc"}};
    index_.SetChats(chats_);
    index_.SetHandles(handles_);
  }
  // One reader's rows: message rowid (also its date), text, handle rowid.
  struct Read {
    int64_t rowid;
    const char* text;
    int64_t handle;
  };
  void ReadRows(LiveBatch& batch, const std::vector<Read>& rows) {
    for (const Read& r : rows)
      batch.Add(MessageRow(r.rowid, "g" + std::to_string(r.rowid), r.text, r.handle,
                           static_cast<int32_t>(r.rowid)),
                index_);
  }
  RowList chats_, handles_;
  ChatIndex index_;
};

TEST_F(LiveFiling, TheChatNamesTheAddressAHandleOnlyWhenTheChatCannot) {
  index_.AddJoin(10, 1, 8);
  index_.AddJoin(11, 2, 8);       // identifier too short: the handle decides
  index_.AddJoin(12, 99, 8);      // a chat that is not there
  index_.AddJoin(10, 3, 8);       // a second join row for message 10 is passed over
  index_.AddJoin(1000000, 3, 8);  // far beyond the dense table
  LiveBatch batch;
  ReadRows(batch, {{10, "by chat", 2},
                   {11, "short chat", 2},
                   {12, "missing chat", 1},
                   {13, "no join", 3},
                   {14, "nothing", 9},
                   {1000000, "sparse", 9},
                   {16, "same chat again", 9}});
  index_.AddJoin(16, 1, 8);  // too late for the row above: it was filed as read
  MessageMap live;
  FileLiveByRowid({&batch}, live);

  // "+86" is dropped; a short address ("abc") is kept; no address at all files under "0".
  EXPECT_EQ(Texts(live["13800138000"]), std::vector<std::string>{"by chat"});
  EXPECT_EQ(live["13800138000"][0].account(), "e:me@example.com");
  EXPECT_EQ(Texts(live["10086"]), std::vector<std::string>{"short chat"});
  EXPECT_EQ(Texts(live["13900139000"]), std::vector<std::string>{"missing chat"});
  EXPECT_EQ(Texts(live["abc"]), std::vector<std::string>{"no join"});
  EXPECT_EQ(Texts(live["0"]), (std::vector<std::string>{"nothing", "same chat again"}));
  EXPECT_EQ(Texts(live["group-chat-7"]), std::vector<std::string>{"sparse"});
  EXPECT_EQ(live.size(), 6u);
  EXPECT_EQ(live["10086"][0].service, "SMS");
  EXPECT_EQ(live["10086"][0].date, 11);
  EXPECT_EQ(live["10086"][0].sent, true);
  EXPECT_EQ(live["10086"][0].fromMe, true);
}

TEST_F(LiveFiling, ReadersAreFiledTogetherByRowidTiesInReadingOrder) {
  for (int64_t message = 1; message <= 4; ++message) index_.AddJoin(message, 1, 8);
  // The b-tree walk gives the right-most subtree first; two readers share it.
  LiveBatch first, second;
  ReadRows(first, {{4, "four", 2}, {2, "two (first reader)", 2}, {5, "five, by handle", 2}});
  ReadRows(second, {{2, "two (second reader)", 2},
                    {1, "one", 2},
                    {3, "three", 2},
                    {2, "two (second reader, later)", 2}});
  MessageMap live;
  live["13800138000"].push_back(MessageRecord{"already there"});
  FileLiveByRowid({&first, &second}, live);
  EXPECT_EQ(
      Texts(live["13800138000"]),
      (std::vector<std::string>{"already there", "one", "two (first reader)", "two (second reader)",
                                "two (second reader, later)", "three", "four"}));
  EXPECT_EQ(Texts(live["10086"]), std::vector<std::string>{"five, by handle"});
}

TEST_F(LiveFiling, AnyReadingOrderFilesByRowidWithTiesInReadingOrder) {
  // Rowids in a few ascending runs (how the tree walk gives them), and in
  // many (a damaged tree): each conversation lists its rows by rowid, rows
  // of equal rowid in the order they were read, readers one after another.
  for (const size_t runs : {size_t{1}, size_t{5}, size_t{64}, size_t{65}, size_t{400}}) {
    SCOPED_TRACE(runs);
    std::vector<std::string> texts;
    std::vector<std::vector<Read>> reads(2);
    std::vector<std::pair<int64_t, size_t>> expected;  // (rowid, reading position)
    const size_t rows = 1200;
    for (size_t i = 0; i < rows; ++i) texts.push_back("row " + std::to_string(i));
    for (size_t i = 0; i < rows; ++i) {
      // Run r holds rowids r, r + runs, r + 2 runs, ...; every 7th row repeats its rowid.
      const size_t run = i * runs / rows;
      const int64_t rowid = static_cast<int64_t>(run + (i - run * rows / runs) * runs) / 7 * 7;
      reads[i < rows / 2 ? 0 : 1].push_back({rowid, texts[i].c_str(), 2});
      expected.emplace_back(rowid, i);
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    LiveBatch first, second;
    ReadRows(first, reads[0]);
    ReadRows(second, reads[1]);
    MessageMap live;
    FileLiveByRowid({&first, &second}, live);
    std::vector<std::string> want;
    for (const auto& [rowid, position] : expected) want.push_back(texts[position]);
    ASSERT_EQ(live.size(), 1u);
    EXPECT_EQ(Texts(live.begin()->second), want);
  }
}

TEST(DeletedFilingTest, OneRecordOfEachGuidThatNoLiveMessageHas) {
  GuidSet liveGuids;
  liveGuids.Insert("LIVE");
  MessageList deleted;
  DeletedFiling filing(liveGuids, deleted);
  // Whole copies of equal length: the first stays.
  auto entry = [](const std::string& guid, const std::string& text) {
    RecordCompleteness whole{29, text.size(), true, true};
    return CarvedEntry{guid, MessageRecord{text, "SMS"}, whole};
  };
  std::vector<CarvedEntry> pages = {entry("A", "a1"), entry("LIVE", "stale copy"), entry("A", "a2"),
                                    entry("B", "b1")};
  filing.File(pages);
  EXPECT_TRUE(pages.empty());
  EXPECT_TRUE(filing.PassesOver("LIVE"));
  EXPECT_TRUE(filing.PassesOver("A"));
  EXPECT_FALSE(filing.PassesOver("C"));
  // A later batch (the file scan) adds only what is new.
  std::vector<CarvedEntry> scan = {entry("B", "b2"), entry("C", "c1"), entry("C", "c2")};
  filing.File(scan);
  EXPECT_EQ(Texts(deleted), (std::vector<std::string>{"a1", "b1", "c1"}));
}

TEST(DeletedFilingTest, TheMostCompleteCopyOfAGuidReplacesTheFirst) {
  GuidSet liveGuids;
  MessageList deleted;
  DeletedFiling filing(liveGuids, deleted);
  // Copies as the carver gives them: a text cut by a later cell ends the
  // record (no date, no direction); a whole one holds every column.
  RowValues cut = MessageRow(1, "A", "the first words", 0, 500);
  cut.resize(mc::kText + 1);
  RowValues whole = MessageRow(1, "A", "the first words and the rest", 0, 500);
  RowValues other = MessageRow(2, "B", "another message", 0, 600);
  RowList pageRows = {cut, other};
  std::vector<CarvedEntry> pages;
  KeepCarved(pageRows, pages);
  filing.File(pages);
  // A cut copy is not the last word: the scan still reads the GUID.
  EXPECT_FALSE(filing.PassesOver("A"));
  EXPECT_TRUE(filing.PassesOver("B"));

  RowList scanRows = {whole, cut};
  std::vector<CarvedEntry> scan;
  KeepCarved(scanRows, scan);
  filing.File(scan);
  ASSERT_EQ(Texts(deleted),
            (std::vector<std::string>{"the first words and the rest", "another message"}));
  EXPECT_EQ(deleted[0].date, 500);
  EXPECT_EQ(deleted[0].fromMe, true);
  EXPECT_TRUE(filing.PassesOver("A"));
}

TEST(DeletedFilingTest, CarvedRowsWithoutTextAreNeverKept) {
  RowList rows = {MessageRow(1, "A", "kept", 0, 1), MessageRow(2, "B", "", 0, 2),
                  RowValues{"3", "C"}, RowValues{"4", "D", "short row"}};
  std::vector<CarvedEntry> kept;
  KeepCarved(rows, kept);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].guid, "A");
  EXPECT_EQ(kept[0].record.text, "kept");
  EXPECT_EQ(kept[0].record.date, 1);
  EXPECT_EQ(kept[1].guid, "D");
  EXPECT_FALSE(kept[1].record.sent);  // no sent column: unknown
  EXPECT_FALSE(kept[1].record.fromMe);
  EXPECT_FALSE(kept[1].record.date);
}

}  // namespace
}  // namespace vantrel
