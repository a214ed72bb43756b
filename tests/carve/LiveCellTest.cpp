// The typed live pass (LiveCell) against SQLite and against the rendered rows it replaces on
// the message loader's path: every value kind SQLite stores (NULL, the constants 0 and 1,
// integers of each width, reals, texts that look like numbers, ill-formed UTF-8, blobs short
// and long) in every column a message record reads, under iOS's declared types and under
// others (REAL, NUMERIC, untyped, a ROWID that is no alias), rows older than an ALTER TABLE
// ADD COLUMN, overflowing rows, and runs of deleted rows beside single ones. Whatever the
// value, a LiveCell's text is SQLite's value as the reader renders it, and the records,
// filing and later-version facts built from a cell equal those built from the rendered row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "carve/RowReader.h"
#include "sources/messages/MessageExtras.h"
#include "sources/messages/MessageFiling.h"
#include "sqlite/ReaderCheck.h"

namespace vantrel {
namespace {

using fixtures::Database;
using fixtures::TempDir;
using fixtures::Value;

// Every kind of value, as bound to SQLite. A column's affinity decides what is stored: "17"
// becomes an integer in an INTEGER column, 2.0 an integer in INTEGER and REAL columns.
std::vector<Value> ValueKinds() {
  std::string longBlob(3000, '\0');
  for (size_t i = 0; i < longBlob.size(); ++i) longBlob[i] = static_cast<char>(i * 7 + 1);
  std::string longText;
  while (longText.size() < 2500) longText += "一条很长的消息 long message ";
  return {
      Value::Null(),
      Value::Int(0),
      Value::Int(1),
      Value::Int(-128),  // one byte
      Value::Int(32767),
      Value::Int(-8388608),  // three bytes
      Value::Int(INT32_MAX),
      Value::Int(int64_t{1} << 40),  // six bytes
      Value::Int(INT64_MIN),
      Value::Int(INT64_MAX),
      Value::Int(700000000123456789),  // a date in nanoseconds since 2001
      Value::Int(420000000),           // a date in seconds
      Value::Int(2001),                // a reaction added
      Value::Int(3003),                // a reaction removed
      Value::Real(3.5),
      Value::Real(2.0),
      Value::Real(-1234567.25),
      Value::Text("  -42 apples"),
      Value::Text("17"),
      Value::Text(""),
      Value::Text("你好 p:0/GUID-7"),
      Value::Text("bad \xFF\xFE bytes"),
      Value::Blob(""),
      Value::Blob(std::string("\0\x01zero first", 12)),
      Value::Blob(std::string("\x80\0\0\0\0\0\0\x01", 8)),
      Value::Blob("twelve bytes"),
      Value::Blob(longBlob),
      Value::Text(longText),
  };
}

struct Variant {
  const char* name;
  const char* rowidType;           // declared type and constraint of ROWID
  std::vector<const char*> types;  // the other columns, in kColumns order
};

// The columns a message record, its filing and its later-version facts read; the last six
// are added by ALTER TABLE after the first rows.
const std::vector<const char*> kColumns = {"guid",
                                           "text",
                                           "handle_id",
                                           "service",
                                           "date",
                                           "date_read",
                                           "is_from_me",
                                           "is_sent",
                                           "attributedBody",
                                           "associated_message_guid",
                                           "associated_message_type",
                                           "thread_originator_guid",
                                           "date_edited",
                                           "date_retracted",
                                           "message_summary_info"};
constexpr size_t kAddedLater = 6;

const Variant kIos{"iOS types",
                   "INTEGER PRIMARY KEY AUTOINCREMENT",
                   {"TEXT", "TEXT", "INTEGER", "TEXT", "INTEGER", "INTEGER", "INTEGER", "INTEGER",
                    "BLOB", "TEXT", "INTEGER", "TEXT", "INTEGER", "INTEGER", "BLOB"}};
// INT PRIMARY KEY is no rowid alias: the column stores its values. REAL columns show whole
// numbers as reals; INT and BIGINT have integer affinity but are not the word INTEGER.
const Variant kOther{"other types",
                     "INT PRIMARY KEY",
                     {"", "TEXT", "", "VARCHAR(10)", "REAL", "NUMERIC", "BOOLEAN", "INT", "",
                      "TEXT", "DOUBLE", "TEXT", "BIGINT", "FLOAT", ""}};

constexpr int kRows = 240;

// The kind of value row r holds in column c (of kColumns): each column meets every kind.
size_t KindOf(int64_t r, size_t c) {
  static const size_t kinds = ValueKinds().size();
  return static_cast<size_t>(r + 5 * static_cast<int64_t>(c)) % kinds;
}

// The message table of the variant with every kind of value in every column (KindOf), its chats and
// handles, and deletions as a device leaves them: a run of neighbouring rows and single rows
// between.
std::string Build(const TempDir& dir, const Variant& v) {
  const std::string path = dir.File("sms.db");
  fixtures::OpenOptions options;
  options.pageSize = 1024;  // long values overflow
  Database db(path, options);
  std::string create = std::string("CREATE TABLE message (ROWID ") + v.rowidType;
  for (size_t c = 0; c + kAddedLater < kColumns.size(); ++c)
    create += std::string(", ") + kColumns[c] + " " + v.types[c];
  db.Exec(create + ")");
  db.Exec(
      "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, id TEXT);"
      "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, style INTEGER, "
      "chat_identifier TEXT, account_login TEXT, display_name TEXT);"
      "CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER);"
      "CREATE TABLE chat_handle_join (chat_id INTEGER, handle_id INTEGER)");
  for (int64_t h : {1, 17, 127, 32767})
    db.Prepare("INSERT INTO handle VALUES (?, ?)")
        .BindAll({Value::Int(h), Value::Text("+86139001390" + std::to_string(h))})
        .Run();
  db.Exec(
      "INSERT INTO chat VALUES (1, 45, '+8613800138000', 'e:me@example.com', NULL);"
      "INSERT INTO chat VALUES (2, 43, 'chat123456', 'p:+8613700000000', 'Family');"
      "INSERT INTO chat VALUES (3, 45, '12', '', '');"
      "INSERT INTO chat_handle_join VALUES (2, 1), (2, 17), (1, 127)");

  const std::vector<Value> kinds = ValueKinds();
  auto insertRows = [&](int from, int to, size_t columns) {
    std::string sql = "INSERT INTO message (ROWID";
    for (size_t c = 0; c < columns; ++c) sql += std::string(", ") + kColumns[c];
    sql += ") VALUES (?";
    for (size_t c = 0; c < columns; ++c) sql += ", ?";
    auto insert = db.Prepare(sql + ")");
    auto join = db.Prepare("INSERT INTO chat_message_join VALUES (?, ?)");
    for (int r = from; r < to; ++r) {
      std::vector<Value> values{Value::Int(r)};
      for (size_t c = 0; c < columns; ++c) values.push_back(kinds[KindOf(r, c)]);
      insert.BindAll(values);
      insert.Run();
      if (r % 4 != 0) {
        join.BindAll({Value::Int(r % 3 + 1), Value::Int(r)});
        join.Run();
      }
    }
  };
  db.Exec("BEGIN");
  insertRows(1, kRows / 3, kColumns.size() - kAddedLater);
  for (size_t c = kColumns.size() - kAddedLater; c < kColumns.size(); ++c)
    db.Exec(std::string("ALTER TABLE message ADD COLUMN ") + kColumns[c] + " " + v.types[c]);
  insertRows(kRows / 3, kRows + 1, kColumns.size());
  db.Exec("COMMIT");
  db.Exec("DELETE FROM message WHERE ROWID BETWEEN 90 AND 104 OR ROWID % 11 = 3");
  return path;
}

// What a record shows, field by field.
using Shown =
    std::tuple<std::string, std::string, std::string, std::optional<int32_t>, int32_t,
               std::optional<bool>, std::optional<bool>, std::string, std::vector<std::string>>;
Shown ShownOf(const MessageRecord& m) {
  return {m.text,   m.service, m.account(),  m.date,          m.readDate,
          m.fromMe, m.sent,    m.chatName(), m.participants()};
}

using Facts = std::tuple<uint32_t, int64_t, bool, int, bool, std::string, std::string, std::string,
                         std::optional<int32_t>, std::optional<int32_t>>;
std::vector<Facts> FactsOf(ModernFacts& facts) {
  std::vector<Facts> out;
  for (const ModernFacts::Row& r : facts.rows())
    out.emplace_back(r.entry, r.rowid, r.reaction.has_value(),
                     r.reaction ? static_cast<int>(r.reaction->kind) : -1,
                     r.reaction && r.reaction->removal, r.target, r.thread, r.sender, r.edited,
                     r.retracted);
  return out;
}

TEST(LiveCell, EveryValueKindReadsAsSqliteStoresItAndGivesTheRenderedRowsRecords) {
  for (const Variant& variant : {kIos, kOther}) {
    SCOPED_TRACE(variant.name);
    TempDir dir;
    const std::string path = Build(dir, variant);
    SqliteFile file;
    ASSERT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
    const TableInfo* table = FindTable(file, "message");
    ASSERT_NE(table, nullptr);

    // SQLite's values by rowid, rendered the reader's way.
    Database sqlite(path);
    std::vector<int64_t> rowids;
    const RowList sqliteRows = check::SqliteRows(sqlite, "message", &rowids);
    std::map<int64_t, const RowValues*> expected;
    for (size_t k = 0; k < rowids.size(); ++k) expected[rowids[k]] = &sqliteRows[k];

    // The filing tables, read the one way both paths share.
    RowList chatRows, handleRows, joinRows, unused;
    ReadTable(file, "chat", chatRows, unused);
    ReadTable(file, "handle", handleRows, unused);
    ReadTable(file, "chat_message_join", joinRows, unused);
    ChatIndex chats;
    chats.SetChats(chatRows, ChatColumns::Of(FindTable(file, "chat")->columns));
    chats.SetHandles(handleRows, 1);
    for (const RowValues& join : joinRows)
      chats.AddJoin(TextToInt(join[1]), TextToInt(join[0]), joinRows.size());
    chats.AddChatHandle(2, 1);
    chats.AddChatHandle(2, 17);
    chats.AddChatHandle(1, 127);

    const MessageColumns columns = MessageColumns::Of(table->columns);
    const ModernColumns modern = ModernColumns::Of(table->columns);
    const std::vector<ValueRules> rules = ValueRulesOf(table->columns);
    LiveBatch typedBatch, renderedBatch;
    ModernFacts typedFacts, renderedFacts;
    size_t cells = 0, shortRows = 0, overflowing = 0;
    // Per column, the kinds of value read.
    std::vector<std::vector<bool>> kindsSeen(kColumns.size(),
                                             std::vector<bool>(ValueKinds().size(), false));
    LiveCell cell;
    RowValues row;
    for (const PageSet& set : table->pageSets) {
      VisitLeafPages(file, set, [&](const LeafPage& page) {
        // The rendered pass first, the typed pass over the same cells after.
        RowList rendered;
        std::vector<uint64_t> renderedRowids;
        VisitLiveCells(file, page, table->columns, {}, row, [&](const RowValues& r, uint64_t id) {
          rendered.push_back(r);
          renderedRowids.push_back(id);
        });
        size_t at = 0;
        VisitLiveCellValues(file, page, rules, cell, [&](const LiveCell& c) {
          ASSERT_LT(at, rendered.size());
          const RowValues& old = rendered[at];
          ASSERT_EQ(c.rowid(), renderedRowids[at]);
          ++at;
          ++cells;
          ASSERT_EQ(c.size(), old.size());
          auto truth = expected.find(static_cast<int64_t>(c.rowid()));
          ASSERT_NE(truth, expected.end()) << "rowid " << c.rowid() << " is not live";
          const RowValues& sqliteRow = *truth->second;
          // Records first, while no text of the cell is rendered yet; the values after, each
          // asked again once the records have asked for it.
          EXPECT_EQ(ShownOf(RecordFromRow(c, columns)), ShownOf(RecordFromRow(old, columns)));
          EXPECT_EQ(ShownOf(RecordFromRow(c, columns)), ShownOf(RecordFromRow(sqliteRow, columns)));
          typedBatch.Add(c, chats, columns);
          renderedBatch.Add(old, chats, columns);
          const uint32_t entry = static_cast<uint32_t>(typedBatch.entries().size() - 1);
          EXPECT_EQ(
              typedFacts.Take(c, entry, typedBatch.entries().back().rowid, columns, modern, chats),
              renderedFacts.Take(old, entry, renderedBatch.entries().back().rowid, columns, modern,
                                 chats));
          if (c.size() < sqliteRow.size()) ++shortRows;
          for (size_t i = 0; i < sqliteRow.size(); ++i) {
            SCOPED_TRACE("rowid " + std::to_string(c.rowid()) + " column " + std::to_string(i));
            if (!c.Has(i)) {
              EXPECT_EQ(sqliteRow[i], "");  // added later: SQLite shows the default, NULL
              continue;
            }
            // Asked out of order and twice: the answers do not depend on what came before.
            const bool empty = c.Empty(i);
            const int64_t number = c.Integer(i);
            EXPECT_EQ(c.Text(i), sqliteRow[i]);
            EXPECT_EQ(c.Text(i), old[i]);
            EXPECT_EQ(empty, old[i].empty());
            EXPECT_EQ(number, TextToInt(old[i]));
            EXPECT_EQ(c.Integer(i), number);
            if (c.SerialType(i) > 12 && !c.Whole(i)) ADD_FAILURE() << "a live value cut short";
          }
          if (c.Has(columns.attributedBody) && c.Content(columns.attributedBody).size() > 1000)
            ++overflowing;
          const int64_t rowidValue = c.Integer(columns.rowid);
          for (size_t k = 0; k < kColumns.size(); ++k)
            if (c.Has(k + 1)) kindsSeen[k][KindOf(rowidValue, k)] = true;
        });
        EXPECT_EQ(at, rendered.size());
      });
    }
    EXPECT_EQ(cells, expected.size());
    EXPECT_GT(shortRows, 0u);
    EXPECT_GT(overflowing, 0u);
    for (size_t k = 0; k < kColumns.size(); ++k)
      EXPECT_EQ(std::count(kindsSeen[k].begin(), kindsSeen[k].end(), false), 0) << kColumns[k];

    // Filed the same: rowids, addresses, every field a user sees, and the later-version facts.
    ASSERT_EQ(typedBatch.entries().size(), renderedBatch.entries().size());
    for (size_t e = 0; e < typedBatch.entries().size(); ++e) {
      const LiveBatch::Entry& a = typedBatch.entries()[e];
      const LiveBatch::Entry& b = renderedBatch.entries()[e];
      EXPECT_EQ(a.rowid, b.rowid);
      EXPECT_EQ(typedBatch.addresses()[a.address], renderedBatch.addresses()[b.address]);
      EXPECT_EQ(ShownOf(a.record), ShownOf(b.record));
    }
    EXPECT_EQ(FactsOf(typedFacts), FactsOf(renderedFacts));
    EXPECT_EQ(typedFacts.guidHashes(), renderedFacts.guidHashes());
    EXPECT_FALSE(typedFacts.rows().empty());
  }
}

// A cell whose record header is damaged is skipped and counted by the typed pass exactly as
// by the rendered one, and the rest of the page is still read.
// The rowids of the message table's live cells the typed or the rendered pass reads, and how
// many cells each counts as damaged.
std::pair<std::vector<uint64_t>, uint64_t> ReadRowids(const std::string& path, bool typed) {
  SqliteFile file;
  EXPECT_EQ(OpenDatabase("", file, path), OpenStatus::Opened);
  const TableInfo* table = FindTable(file, "message");
  if (table == nullptr) return {};
  const std::vector<ValueRules> rules = ValueRulesOf(table->columns);
  LiveCell cell;
  RowValues row;
  std::vector<uint64_t> rowids;
  const uint64_t before = Damage(file).cells;
  for (const PageSet& set : table->pageSets)
    VisitLeafPages(file, set, [&](const LeafPage& page) {
      if (typed)
        VisitLiveCellValues(file, page, rules, cell,
                            [&](const LiveCell& c) { rowids.push_back(c.rowid()); });
      else
        VisitLiveCells(file, page, table->columns, {}, row,
                       [&](const RowValues&, uint64_t id) { rowids.push_back(id); });
    });
  return {rowids, Damage(file).cells - before};
}

// A cell whose record header is damaged, or that holds more values than the table has
// columns, is skipped and counted by the typed pass exactly as by the rendered one, and every
// other cell is still read.
TEST(LiveCell, DamagedCellsAreSkippedAndCountedAsTheRenderedPassDoes) {
  TempDir dir;
  const std::string path = Build(dir, kIos);
  size_t liveRows = 0;
  std::vector<uint64_t> olderRows;  // written before the last column was added
  {
    Database db(path);
    liveRows = static_cast<size_t>(db.QueryInt("SELECT count(*) FROM message"));
    for (const fixtures::Row& r : db.Query("SELECT ROWID FROM message WHERE ROWID < " +
                                           std::to_string(kRows / 3) + " ORDER BY ROWID"))
      olderRows.push_back(static_cast<uint64_t>(r[0].integer));
  }

  // Two cells of one leaf get a record header size of 1 and of 0 (too small).
  std::string bytes = check::ReadBytes(path);
  {
    SqliteFile intact;
    ASSERT_EQ(OpenDatabase("", intact, path), OpenStatus::Opened);
    int32_t leaf = 0;
    std::vector<uint16_t> offsets;
    for (const PageSet& set : FindTable(intact, "message")->pageSets)
      VisitLeafPages(intact, set, [&](const LeafPage& page) {
        if (leaf == 0 && page.liveOffsets.size() >= 3) {
          leaf = page.pageNo;
          offsets = page.liveOffsets;
        }
      });
    ASSERT_NE(leaf, 0);
    auto headerSizeAt = [&](uint16_t offset) {
      size_t at = static_cast<size_t>(leaf - 1) * 1024 + offset;
      for (int varint = 0; varint < 2; ++varint)  // payload length, rowid
        while (static_cast<unsigned char>(bytes[at++]) & 0x80) {
        }
      return at;
    };
    bytes[headerSizeAt(offsets[1])] = 1;
    bytes[headerSizeAt(offsets[2])] = 0;
  }
  check::WriteBytes(dir.File("headers.db"), bytes);

  // The catalogue made to declare one column fewer: every row written after that column was
  // added holds one value too many.
  check::WriteBytes(dir.File("narrowed.db"), check::ReadBytes(path));
  {
    Database db(dir.File("narrowed.db"));
    std::string sql = db.QueryText("SELECT sql FROM sqlite_master WHERE name = 'message'");
    const std::string last = ", message_summary_info BLOB";
    ASSERT_NE(sql.find(last), std::string::npos) << sql;
    sql.erase(sql.find(last), last.size());
    db.Exec("PRAGMA writable_schema = ON");
    db.Prepare("UPDATE sqlite_master SET sql = ? WHERE name = 'message'")
        .BindAll({Value::Text(sql)})
        .Run();
  }

  for (const char* name : {"headers.db", "narrowed.db"}) {
    SCOPED_TRACE(name);
    const auto [rendered, renderedDamage] = ReadRowids(dir.File(name), false);
    const auto [typed, typedDamage] = ReadRowids(dir.File(name), true);
    EXPECT_EQ(typed, rendered);
    EXPECT_EQ(typedDamage, renderedDamage);
    EXPECT_EQ(typed.size() + typedDamage, liveRows);
    if (std::string(name) == "headers.db") EXPECT_EQ(typedDamage, 2u);
    if (std::string(name) == "narrowed.db") {
      std::vector<uint64_t> sorted = typed;
      std::sort(sorted.begin(), sorted.end());
      EXPECT_EQ(sorted, olderRows);
    }
  }
}

}  // namespace
}  // namespace vantrel
