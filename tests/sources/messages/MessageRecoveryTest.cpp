// Messages on full iOS 6 and iOS 7 sms.db fixtures written by SQLite: a few
// hundred messages over one-to-one chats and a group chat created first, part
// of them deleted with secure_delete off. Live messages must match what SQLite
// returns; deleted ones whose bytes survive must come back, once each, and no
// live message may be listed as deleted. Recall is printed per place the
// deleted bytes were left in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "carve/RowReader.h"
#include "fixtures/Fixtures.h"
#include "sources/Loaders.h"
#include "sources/messages/MessageCarver.h"
#include "sources/messages/MessageFiling.h"
#include "sqlite/ByteView.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::JournalMode;

struct Case {
  int ios;
  int pageSize;
  JournalMode journal;
  bool incrementalVacuum;
};

std::string Name(const Case& c) {
  std::string journal = c.journal == JournalMode::Wal               ? "Wal"
                        : c.journal == JournalMode::WalCheckpointed ? "Checkpointed"
                                                                    : "Rollback";
  return "Ios" + std::to_string(c.ios) + "Page" + std::to_string(c.pageSize) + journal +
         (c.incrementalVacuum ? "Vacuum" : "");
}

// A built fixture opened twice: by Vantrel's reader, and by SQLite on a copy
// (so SQLite's own connection can never checkpoint the log under the reader).
struct Built {
  fixtures::TempDir dir;
  fixtures::MessagesTruth truth;
  std::string walPath;
  SqliteFile file;
  std::unique_ptr<fixtures::Database> sqlite;
};

std::unique_ptr<Built> Build(const Case& c) {
  auto built = std::make_unique<Built>();
  fixtures::MessageOptions options;
  options.iosVersion = c.ios;
  options.pageSize = c.pageSize;
  options.journal = c.journal;
  options.incrementalVacuum = c.incrementalVacuum;
  options.messageCount = 320;
  options.deleteFraction = 0.3;
  options.seed = static_cast<uint64_t>(c.ios * 100000 + c.pageSize);
  const std::string path = built->dir.File("sms.db");
  built->truth = fixtures::BuildMessagesDb(path, options);
  if (std::filesystem::exists(path + "-wal")) built->walPath = path + "-wal";
  EXPECT_EQ(OpenDatabase(built->walPath, built->file, path), OpenStatus::Opened);
  const std::string copy = built->dir.File("copy.db");
  fixtures::CopyDatabase(path, copy);
  built->sqlite = std::make_unique<fixtures::Database>(copy);
  return built;
}

// The address rule, applied to what SQLite says about a message's chat and handle.
std::string ExpectedAddress(const fixtures::Value& chatIdentifier,
                            const fixtures::Value& handleId) {
  std::string address = chatIdentifier.AsText();
  if (address.size() < 5 && !handleId.IsNull()) address = handleId.AsText();
  if (address.empty()) return "0";
  if (address.rfind("+86", 0) == 0) address.erase(0, 3);
  return address;
}

std::string Flag(const std::optional<bool>& flag) {
  return flag ? std::to_string(*flag) : "?";
}

std::string Describe(const MessageRecord& r) {
  return "[" + r.text + "] service=" + r.service + " account=" + r.account() +
         " date=" + (r.date ? std::to_string(*r.date) : "?") +
         " read=" + std::to_string(r.readDate) + " from-me=" + Flag(r.fromMe) +
         " sent=" + Flag(r.sent);
}

class MessageRecovery : public ::testing::TestWithParam<Case> {};

INSTANTIATE_TEST_SUITE_P(Fixtures, MessageRecovery,
                         ::testing::Values(Case{6, 4096, JournalMode::Rollback, false},
                                           Case{7, 4096, JournalMode::Rollback, false},
                                           Case{6, 1024, JournalMode::Rollback, false},
                                           Case{7, 1024, JournalMode::Rollback, false},
                                           Case{7, 4096, JournalMode::Wal, true},
                                           Case{6, 1024, JournalMode::Wal, false},
                                           Case{7, 4096, JournalMode::WalCheckpointed, true}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return Name(info.param);
                         });

TEST_P(MessageRecovery, LiveMessagesEqualWhatSqliteReturns) {
  auto built = Build(GetParam());
  MessageMap live;
  MessageList deleted;
  ASSERT_EQ(MessageLoader(built->file, live, deleted), LoaderStatus::Loaded);

  const std::string chatOf =
      "(SELECT c.%s FROM chat_message_join j JOIN chat c ON c.ROWID = j.chat_id "
      "WHERE j.message_id = m.ROWID ORDER BY j.rowid LIMIT 1)";
  auto column = [&](const char* name) {
    char text[512];
    std::snprintf(text, sizeof text, chatOf.c_str(), name);
    return std::string(text);
  };
  const auto rows = built->sqlite->Query(
      "SELECT m.text, m.service, m.date, m.date_read, m.is_sent, m.is_from_me, " +
      column("chat_identifier") + ", " + column("account_login") +
      ", (SELECT h.id FROM handle h WHERE h.ROWID = m.handle_id) FROM message m ORDER BY m.ROWID");
  ASSERT_GT(rows.size(), 150u);

  MessageMap expected;
  for (const fixtures::Row& row : rows) {
    MessageRecord r;
    r.text = row[0].AsText();
    r.service = row[1].AsText();
    if (row[2].AsInt() != 0) r.date = static_cast<int32_t>(row[2].AsInt());
    r.readDate = static_cast<int32_t>(row[3].AsInt());
    r.sent = row[4].AsInt() != 0;
    r.fromMe = row[5].AsInt() != 0;
    r.chat = std::make_shared<const ChatFacts>(ChatFacts{row[7].AsText(), "", {}});
    expected[ExpectedAddress(row[6], row[8])].push_back(r);
  }
  // The fixture's group chat holds messages of several people: they must all
  // be under the group's identifier.
  const fixtures::ChatTruth& group = built->truth.chats.at(0);
  ASSERT_TRUE(group.isGroup);
  EXPECT_GT(expected[ExpectedAddress(fixtures::Value::Text(group.chatIdentifier), {})].size(), 1u);

  ASSERT_EQ(live.size(), expected.size());
  for (const auto& [address, records] : expected) {
    ASSERT_TRUE(live.count(address)) << address;
    const auto& got = live[address];
    ASSERT_EQ(got.size(), records.size()) << address;
    for (size_t i = 0; i < records.size(); ++i)
      EXPECT_EQ(Describe(got[i]), Describe(records[i])) << address << " #" << i;
  }
}

// Where the bytes of a deleted message were left, from the database file's
// own pages (not the log).
enum class Place { Freeblock, Gap, FreePage, OtherPage, InCell, LogOnly, Gone };
const char* PlaceName(Place p) {
  switch (p) {
    case Place::Freeblock:
      return "freeblock";
    case Place::Gap:
      return "unallocated gap";
    case Place::FreePage:
      return "free page";
    case Place::OtherPage:
      return "other page";
    case Place::InCell:
      return "inside a live cell";
    case Place::LogOnly:
      return "log only";
    case Place::Gone:
      return "gone";
  }
  return "?";
}

struct PageFacts {
  std::set<uint32_t> messageLeaves;
  std::set<uint32_t> freePages;
};

PageFacts ReadPageFacts(const SqliteFile& file, const std::string& bytes, uint32_t pageSize) {
  PageFacts facts;
  if (const TableInfo* t = FindTable(file, "message"))
    for (const PageSet& s : t->pageSets)
      for (int32_t p : s.leafPages) facts.messageLeaves.insert(static_cast<uint32_t>(p));
  ByteView all(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  const uint32_t pages = static_cast<uint32_t>(bytes.size() / pageSize);
  uint32_t trunk = all.U32(32);
  std::set<uint32_t> seen;
  while (trunk >= 2 && trunk <= pages && seen.insert(trunk).second) {
    facts.freePages.insert(trunk);
    ByteView page = all.Sub(static_cast<size_t>(trunk - 1) * pageSize, pageSize);
    const uint32_t count = std::min<uint32_t>(page.U32(4), pageSize / 4);
    for (uint32_t k = 0; k < count; ++k) facts.freePages.insert(page.U32(8 + 4 * k));
    trunk = page.U32(0);
  }
  return facts;
}

Place Locate(const std::string& bytes, const std::string& needle, uint32_t pageSize,
             const PageFacts& facts) {
  ByteView all(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  Place best = Place::Gone;
  for (size_t at = bytes.find(needle); at != std::string::npos; at = bytes.find(needle, at + 1)) {
    const uint32_t pageNo = static_cast<uint32_t>(at / pageSize) + 1;
    const size_t offset = at % pageSize;
    Place place = Place::OtherPage;
    if (facts.freePages.count(pageNo)) {
      place = Place::FreePage;
    } else if (facts.messageLeaves.count(pageNo)) {
      ByteView page = all.Sub(static_cast<size_t>(pageNo - 1) * pageSize, pageSize);
      const uint16_t cells = page.U16(3);
      size_t lowest = pageSize;
      for (uint16_t k = 0; k < cells; ++k) lowest = std::min<size_t>(lowest, page.U16(8 + 2 * k));
      place = offset < lowest ? Place::Gap : Place::InCell;
      std::set<uint16_t> visited;
      for (uint16_t f = page.U16(1); f >= 8 && f < pageSize && visited.insert(f).second;
           f = page.U16(f)) {
        if (offset >= f && offset < f + static_cast<size_t>(page.U16(f + 2)))
          place = Place::Freeblock;
      }
    }
    best = std::min(best, place);
  }
  return best;
}

TEST_P(MessageRecovery, DeletedMessagesThatSurviveAreRecoveredOnce) {
  const Case c = GetParam();
  auto built = Build(c);
  const fixtures::MessagesTruth& truth = built->truth;
  MessageMap live;
  MessageList deleted;
  ASSERT_EQ(MessageLoader(built->file, live, deleted), LoaderStatus::Loaded);
  const MessageList& recovered = deleted;

  // What SQLite sees as live, by date (the fixture gives every message its own date).
  std::set<int64_t> liveDates;
  for (const fixtures::Row& row : built->sqlite->Query("SELECT date FROM message"))
    liveDates.insert(row[0].AsInt());
  std::map<int64_t, const fixtures::MessageTruth*> byDate;
  for (const fixtures::MessageTruth& m : truth.messages) byDate.emplace(m.date, &m);

  // A text cut by later bytes is a prefix of the original; its last
  // character may have been broken into U+FFFD.
  auto sound = [](std::string text) {
    const std::string replacement = "\xEF\xBF\xBD";
    if (text.size() >= 3 && text.compare(text.size() - 3, 3, replacement) == 0)
      text.erase(text.size() - 3);
    return text;
  };
  // A recovered text fits the original when it is a prefix of it, or, where
  // a stretch of overwritten bytes is marked by U+FFFD, when the pieces
  // around the marks appear in the original in order, the first at its start.
  auto isPrefix = [](const std::string& part, const std::string& whole) {
    if (part.empty()) return false;
    const std::string mark = "\xEF\xBF\xBD";
    size_t from = 0, at = 0;
    for (bool first = true;; first = false) {
      const size_t end = part.find(mark, from);
      const std::string piece = part.substr(from, end == std::string::npos ? end : end - from);
      if (first) {
        if (whole.compare(0, piece.size(), piece) != 0) return false;
        at = piece.size();
      } else {
        const size_t found = whole.find(piece, at);
        if (found == std::string::npos) return false;
        at = found + piece.size();
      }
      if (end == std::string::npos) return true;
      from = end + mark.size();
    }
  };

  std::map<const fixtures::MessageTruth*, int> found;
  int exact = 0, cut = 0, tailLost = 0, uncommittedInserts = 0, unmatched = 0;
  // Whole records carry their date and are matched by it first; a record cut
  // before its date is then matched by its text among the deleted messages
  // left (the same text, else one it begins).
  std::vector<std::pair<const MessageRecord*, const fixtures::MessageTruth*>> matches;
  std::set<const fixtures::MessageTruth*> taken;
  std::vector<const MessageRecord*> dateless;
  for (const MessageRecord& r : recovered) {
    auto it = r.date ? byDate.find(*r.date) : byDate.end();
    if (it != byDate.end() && isPrefix(sound(r.text), it->second->Text())) {
      matches.emplace_back(&r, it->second);
      taken.insert(it->second);
    } else {
      dateless.push_back(&r);
    }
  }
  for (const MessageRecord* r : dateless) {
    const fixtures::MessageTruth* m = nullptr;
    for (int exactText = 1; exactText >= 0 && !m; --exactText)
      for (const fixtures::MessageTruth& t : truth.messages)
        if (!t.Live() && !taken.count(&t) &&
            (exactText ? sound(r->text) == t.Text() : isPrefix(sound(r->text), t.Text()))) {
          m = &t;
          break;
        }
    if (m) taken.insert(m);
    matches.emplace_back(r, m);
  }
  for (const auto& [record, m] : matches) {
    const MessageRecord& r = *record;
    const std::string text = sound(r.text);
    if (!m) {
      ++unmatched;
      ADD_FAILURE() << "carved record matches no deleted message: " << Describe(r);
      continue;
    }
    EXPECT_FALSE(liveDates.count(m->date)) << "live message listed as deleted: " << Describe(r);
    if (m->insertedIn == fixtures::Stage::WalUncommitted) {
      // Frames of a transaction that never committed: bytes that survive in the log.
      ++uncommittedInserts;
      continue;
    }
    ++found[m];
    if (text == m->Text()) {
      ++exact;
    } else {
      ++cut;
    }
    // The fields after the text are lost with a record's tail (date and
    // direction unknown, read date 0); what is shown must be right.
    if (!r.date) ++tailLost;
    // (A record matched by text alone may stand for another message with the
    // same words: its fields say nothing.)
    if (r.date && !r.service.empty()) {
      EXPECT_EQ(r.service, m->service) << Describe(r);
    }
    if (r.date) {
      EXPECT_EQ(*r.date, m->date) << Describe(r);
    }
    if (r.readDate != 0) {
      EXPECT_EQ(r.readDate, m->dateRead) << Describe(r);
    }
    if (r.date && r.fromMe) {
      EXPECT_EQ(*r.fromMe, m->isFromMe != 0) << Describe(r);
    }
    if (r.date && r.sent) {
      EXPECT_EQ(*r.sent, m->isSent != 0) << Describe(r);
    }
  }
  for (const auto& [m, count] : found) EXPECT_EQ(count, 1) << "listed " << count << " times";

  // Recall by place. Deleted messages without text are never listed.
  const std::string bytes = fixtures::ReadFileBytes(truth.path);
  const PageFacts facts = ReadPageFacts(built->file, bytes, static_cast<uint32_t>(c.pageSize));
  std::map<Place, std::pair<int, int>> byPlace;  // found, total
  int total = 0, surviving = 0, foundSurviving = 0, foundAll = 0, longFound = 0, longTotal = 0,
      longWhole = 0;
  for (const fixtures::MessageTruth& m : truth.messages) {
    if (!m.deleted || m.Text().empty()) continue;
    ++total;
    const bool survives = m.inMainFile || m.inWal;
    Place place = Place::Gone;
    if (m.inMainFile)
      place =
          Locate(bytes, m.guid + m.Text().substr(0, 8), static_cast<uint32_t>(c.pageSize), facts);
    if (place == Place::Gone && m.inWal) place = Place::LogOnly;
    const bool got = found.count(&m) > 0;
    byPlace[place].second++;
    if (got) byPlace[place].first++;
    if (got) ++foundAll;
    if (survives) ++surviving;
    if (survives && got) ++foundSurviving;
    if (m.isLong) {
      ++longTotal;
      if (got) ++longFound;
      for (const MessageRecord& r : recovered)
        if (r.text == m.Text()) ++longWhole;
    }
  }
  std::printf(
      "%s: deleted %d, surviving %d, recovered %d (%.1f%% of all, %.1f%% of surviving);"
      " texts whole %d, cut %d; date lost %d; long texts %d/%d (whole %d); uncommitted inserts "
      "listed %d\n",
      Name(c).c_str(), total, surviving, foundAll, 100.0 * foundAll / std::max(total, 1),
      100.0 * foundSurviving / std::max(surviving, 1), exact, cut, tailLost, longFound, longTotal,
      longWhole, uncommittedInserts);
  for (const auto& [place, counts] : byPlace)
    std::printf("  %-20s %3d / %3d\n", PlaceName(place), counts.first, counts.second);

  // What SQLite overwrote (defragmenting a page, rebalancing the tree) is
  // gone for any reader; of what survives, nearly everything must come back.
  ASSERT_GT(total, 50);
  ASSERT_GT(surviving, total / 2);
  EXPECT_GE(foundSurviving * 100, surviving * 95);
  EXPECT_LE(unmatched, 0);
}

TEST_P(MessageRecovery, ACarveRenderingOnlyTheColumnsFilingReadsEndsEveryRowAlike) {
  // Every page and log frame carved whole, and every leaf's free space, once
  // rendering every column and once only those the filing reads: the rows
  // must be as many, as long, and equal in every column rendered, so that
  // the records filed are the same.
  auto built = Build(GetParam());
  const SqliteFile& db = built->file;
  const TableInfo* table = FindTable(db, "message");
  ASSERT_NE(table, nullptr);
  const MessageColumns columns = MessageColumns::Of(table->columns);
  const RenderedColumns read = ColumnsKeepCarvedReads(columns, table->columns.size());
  const auto carve = [&](const RenderedColumns* rendered, FoundList& found) {
    RowList rows;
    const CarvedRowSink keep = [&](RowList& got, FoundList& where) {
      for (RowValues& row : got) rows.push_back(std::move(row));
      found.insert(found.end(), where.begin(), where.end());
    };
    ScanPagesForMessages(db, table->columns, 2, UINT32_MAX, {}, keep, nullptr, nullptr, rendered);
    ScanLogForMessages(db, table->columns, {}, keep, rendered);
    const std::vector<DeclaredWord> kinds = MessageColumnKinds(table->columns);
    for (const PageSet& set : table->pageSets)
      for (const std::vector<int32_t>* pages : {&set.leafPages, &set.emptyLeafPages}) {
        PageSet one;
        one.leafPages = *pages;
        VisitLeafPages(db, one, [&](const LeafPage& page) {
          CarveMessagePageOfKinds(db, page, table->columns, kinds, rows, &found, rendered);
        });
      }
    return rows;
  };
  FoundList wholeFound, partFound;
  RowList whole = carve(nullptr, wholeFound);
  RowList part = carve(&read, partFound);
  ASSERT_GT(whole.size(), 20u);
  ASSERT_EQ(part.size(), whole.size());
  size_t cutShort = 0;
  for (size_t r = 0; r < whole.size(); ++r) {
    ASSERT_EQ(part[r].size(), whole[r].size()) << r;
    cutShort += whole[r].size() < table->columns.size();
    for (size_t k = 0; k < whole[r].size(); ++k)
      EXPECT_EQ(part[r][k], read[k] ? whole[r][k] : std::string()) << r << " " << k;
  }
  EXPECT_GT(cutShort, 0u);  // records that end early are among them
  std::vector<CarvedEntry> wholeKept, partKept;
  KeepCarved(whole, wholeKept, columns, &wholeFound);
  KeepCarved(part, partKept, columns, &partFound);
  ASSERT_EQ(partKept.size(), wholeKept.size());
  for (size_t k = 0; k < wholeKept.size(); ++k) {
    EXPECT_EQ(partKept[k].guid, wholeKept[k].guid);
    EXPECT_EQ(Describe(partKept[k].record), Describe(wholeKept[k].record));
    EXPECT_EQ(partKept[k].handleId, wholeKept[k].handleId);
    EXPECT_EQ(partKept[k].completeness.values, wholeKept[k].completeness.values);
    EXPECT_EQ(partKept[k].completeness.whole, wholeKept[k].completeness.whole);
  }
}

}  // namespace
}  // namespace vantrel
