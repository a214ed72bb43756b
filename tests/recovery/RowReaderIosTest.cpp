// The row reader on iOS 6 and iOS 7 shaped databases (messages, address book, call history)
// as the fixture builders make them with the real SQLite engine: every table's live rows equal
// SQLite's, with and without a write-ahead log; and the generic carving step brings back the
// deleted rows whose bytes are still on the table's leaf pages. The recall is printed.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "recovery/RowReader.h"
#include "sqlite/ReaderCheck.h"

namespace vantrel {
namespace {

using fixtures::JournalMode;
using fixtures::Stage;
using fixtures::TempDir;

std::string ModeName(JournalMode mode) {
  return mode == JournalMode::Wal ? "wal" : mode == JournalMode::Rollback ? "rollback" : "ckpt";
}

// A deleted row to look for among the carved rows: the values it must show at the given
// columns, and a text whose bytes tell whether the row survives on a leaf page.
struct Wanted {
  std::map<size_t, std::string> values;
  std::string needle;
};

struct Recall {
  size_t deleted = 0, onLeaves = 0, found = 0, foundOnLeaves = 0, carved = 0;
  size_t cut = 0;  // found with its last value cut short (a record whose tail was overwritten)
};

Recall Measure(const SqliteFile& file, const std::string& table,
               const std::vector<Wanted>& wanted) {
  Recall r;
  RowList live, carved;
  EXPECT_EQ(ReadTable(file, table, live, carved), 0);
  r.carved = carved.size();
  std::vector<bool> used(carved.size());
  for (const Wanted& w : wanted) {
    ++r.deleted;
    const bool onLeaf = check::OnLeafPage(file, table, w.needle);
    r.onLeaves += onLeaf;
    bool found = false;
    for (size_t i = 0; i < carved.size() && !found; ++i) {
      if (used[i]) continue;
      bool match = true;
      for (const auto& [column, value] : w.values)
        match = match && column < carved[i].size() && carved[i][column] == value;
      if (match) {
        used[i] = found = true;
        ++r.found;
        r.foundOnLeaves += onLeaf;
      }
    }
    // A record found in part: its tail was overwritten by newer cells, or its overflow pages
    // were reused. Every wanted value but the last must be whole; the last (a text) must
    // begin as the carved one does, up to where that one turns into replacement characters,
    // or be missing altogether.
    for (size_t i = 0; i < carved.size() && !found; ++i) {
      const RowValues& row = carved[i];
      if (used[i]) continue;
      bool match = true;
      size_t seen = 0;
      for (const auto& [column, value] : w.values) {
        const bool last = ++seen == w.values.size();
        if (column >= row.size()) {
          match = match && last && column > 0 && column - 1 < row.size();
        } else if (!last) {
          match = match && row[column] == value;
        } else {
          const std::string head = row[column].substr(0, row[column].find("\xEF\xBF\xBD"));
          match = match && value.rfind(head, 0) == 0;
        }
      }
      if (match) {
        used[i] = found = true;
        ++r.cut;
        r.foundOnLeaves += onLeaf;
      }
    }
  }
  return r;
}

void Report(const std::string& name, const Recall& r) {
  std::printf(
      "[ recall   ] %-34s deleted %3zu, found whole %3zu (recall %.3f), in part %zu; on leaf "
      "pages %3zu, found %3zu; carved rows %zu\n",
      name.c_str(), r.deleted, r.found, r.deleted ? double(r.found) / r.deleted : 1.0, r.cut,
      r.onLeaves, r.foundOnLeaves, r.carved);
  // Every deleted row whose bytes are still on a leaf page comes back.
  EXPECT_EQ(r.foundOnLeaves, r.onLeaves) << name;
}

template <typename T>
bool DeletedForSqlite(const T& row) {
  return row.deleted && row.deletedIn != Stage::WalUncommitted;
}

struct Config {
  int ios;
  JournalMode journal;
  int pageSize;
};

std::string Name(const char* kind, const Config& c) {
  return std::string(kind) + " ios" + std::to_string(c.ios) + " " + ModeName(c.journal) + " " +
         std::to_string(c.pageSize);
}

std::string WalOf(const std::string& path, const Config& c) {
  return c.journal == JournalMode::Wal ? path + "-wal" : "";
}

TEST(RowReaderIos, Messages) {
  for (const Config c :
       {Config{6, JournalMode::Rollback, 4096}, Config{7, JournalMode::Wal, 4096},
        Config{7, JournalMode::Rollback, 1024}, Config{7, JournalMode::Rollback, 65536}}) {
    const std::string name = Name("messages", c);
    SCOPED_TRACE(name);
    TempDir dir;
    fixtures::MessageOptions options;
    options.iosVersion = c.ios;
    options.journal = c.journal;
    options.pageSize = c.pageSize;
    const fixtures::MessagesTruth truth = fixtures::BuildMessagesDb(dir.File("sms.db"), options);
    check::ExpectSameTables(truth.path, WalOf(truth.path, c));
    SqliteFile file;
    ASSERT_EQ(OpenDatabase(WalOf(truth.path, c), file, truth.path), 0);
    std::vector<Wanted> wanted;
    for (const fixtures::MessageTruth& m : truth.messages)
      if (DeletedForSqlite(m)) wanted.push_back({{{1, m.guid}, {2, m.Text()}}, m.guid});
    Report(name, Measure(file, "message", wanted));
  }
}

TEST(RowReaderIos, Contacts) {
  for (const Config c : {Config{6, JournalMode::Rollback, 4096}, Config{7, JournalMode::Wal, 4096},
                         Config{7, JournalMode::Rollback, 4096}}) {
    const std::string name = Name("contacts", c);
    SCOPED_TRACE(name);
    TempDir dir;
    fixtures::ContactOptions options;
    options.iosVersion = c.ios;
    options.journal = c.journal;
    options.pageSize = c.pageSize;
    const fixtures::ContactsTruth truth = fixtures::BuildContactsDb(dir.File("ab.db"), options);
    check::ExpectSameTables(truth.path, WalOf(truth.path, c));
    SqliteFile file;
    ASSERT_EQ(OpenDatabase(WalOf(truth.path, c), file, truth.path), 0);
    std::vector<Wanted> persons, values;
    for (const fixtures::PersonTruth& p : truth.persons) {
      if (DeletedForSqlite(p))
        persons.push_back(
            {{{1, p.first}, {2, p.last}, {3, p.middle}}, p.first + p.last + p.middle});
      for (const fixtures::MultiValueTruth& v : p.multiValues)
        if ((DeletedForSqlite(v) || DeletedForSqlite(p)) && v.value)
          values.push_back({{{1, std::to_string(v.recordId)}, {5, *v.value}}, *v.value});
    }
    Report(name + " ABPerson", Measure(file, "ABPerson", persons));
    Report(name + " ABMultiValue", Measure(file, "ABMultiValue", values));
  }
}

TEST(RowReaderIos, Calls) {
  for (const Config c : {Config{6, JournalMode::Rollback, 4096}, Config{7, JournalMode::Wal, 4096},
                         Config{7, JournalMode::Rollback, 4096}}) {
    for (bool upgraded : {false, true}) {
      if (upgraded && c.ios == 6) continue;
      const std::string name = Name("calls", c) + (upgraded ? " upgraded" : "");
      SCOPED_TRACE(name);
      TempDir dir;
      fixtures::CallOptions options;
      options.iosVersion = c.ios;
      options.journal = c.journal;
      options.pageSize = c.pageSize;
      options.upgradedFromIos6 = upgraded;
      const fixtures::CallsTruth truth = fixtures::BuildCallsDb(dir.File("calls.db"), options);
      check::ExpectSameTables(truth.path, WalOf(truth.path, c));
      SqliteFile file;
      ASSERT_EQ(OpenDatabase(WalOf(truth.path, c), file, truth.path), 0);
      std::vector<Wanted> wanted;
      for (const fixtures::CallTruth& call : truth.calls)
        if (DeletedForSqlite(call))
          wanted.push_back({{{1, call.address}, {2, std::to_string(call.date)}}, call.address});
      Report(name, Measure(file, "call", wanted));
    }
  }
}

}  // namespace
}  // namespace vantrel
