// vantrel-fuzz-corpus: writes the seed inputs of the database fuzz targets into
// OUTDIR/database and OUTDIR/database_wal: small message, address-book and call
// databases of both iOS versions made by the real SQLite engine (1024-byte
// pages, a few rows, some deleted), and for the log target each database
// followed by the separator and its write-ahead log (also of trimmed copies
// holding only the tables a loader reads). Fixed seeds: the same command gives
// the same databases; only the logs' salts, which SQLite draws at random, differ.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "DamageSupport.h"
#include "fixtures/Fixtures.h"

namespace fx = vantrel::fixtures;
namespace fs = std::filesystem;

namespace {

constexpr char kWalSeparator[] = "--VANTREL-WAL--";

void Write(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

template <class Options>
void Small(Options& o, int ios, fx::JournalMode journal) {
  o.iosVersion = ios;
  o.pageSize = 1024;
  o.seed = 7 + ios;
  o.journal = journal;
  o.computeSurvival = false;
  o.deleteFraction = 0.3;
}

// Builds one database of each kind in dir for the iOS version and journal mode.
void BuildAll(const std::string& dir, int ios, fx::JournalMode journal) {
  fx::MessageOptions m;
  Small(m, ios, journal);
  m.messageCount = 14;
  m.oneToOneChats = 2;
  m.groupMembers = 2;
  m.longTexts = 1;
  m.nullTexts = 1;
  fx::BuildMessagesDb(dir + "/messages.db", m);
  fx::ContactOptions c;
  Small(c, ios, journal);
  c.personCount = 5;
  fx::BuildContactsDb(dir + "/contacts.db", c);
  fx::CallOptions k;
  Small(k, ios, journal);
  k.deleteFraction = 0;
  k.callCount = 10;
  k.keepNewest = 6;
  k.upgradedFromIos6 = ios == 7;
  k.legacyRows = 4;
  fx::BuildCallsDb(dir + "/calls.db", k);
}

// A copy of a built database keeping only the tables the loader of its kind
// reads (no indexes, no triggers), vacuumed to a few pages, then with some rows
// deleted so their bytes lie in freeblocks: seeds the fuzzer gets through fast.
std::string Trimmed(const std::string& built, const std::string& scratch,
                    const std::vector<std::string>& keep) {
  std::filesystem::copy_file(built, scratch, fs::copy_options::overwrite_existing);
  fs::remove(scratch + "-wal");  // a log left by an earlier copy would be replayed
  fs::remove(scratch + "-shm");
  fx::OpenOptions o;
  o.create = false;
  o.autoVacuum = "";
  {
    fx::Database db(scratch, o);
    for (const fx::Row& row : db.Query("SELECT type, name FROM sqlite_master WHERE type IN "
                                       "('trigger','view','index') AND name NOT LIKE 'sqlite_%'"))
      db.Exec("DROP " + row[0].AsText() + " IF EXISTS \"" + row[1].AsText() + "\"");
    for (const fx::Row& row : db.Query("SELECT name FROM sqlite_master WHERE type='table' AND "
                                       "name NOT LIKE 'sqlite_%'")) {
      const std::string name = row[0].AsText();
      if (std::find(keep.begin(), keep.end(), name) == keep.end())
        db.Exec("DROP TABLE \"" + name + "\"");
    }
    db.Exec("VACUUM");
    for (const std::string& table : keep)
      db.Exec("DELETE FROM \"" + table + "\" WHERE rowid % 3 = 2");
  }
  return fx::ReadFileBytes(scratch);
}

// The trimmed copy switched to a write-ahead log, with more of its rows deleted
// there: the database, the separator and the log, as the log target reads them.
std::string TrimmedWithLog(const std::string& scratch, const std::vector<std::string>& keep) {
  fx::OpenOptions o;
  o.create = false;
  o.autoVacuum = "";
  {
    fx::Database db(scratch, o);
    db.Exec("PRAGMA journal_mode = WAL");
    for (const std::string& table : keep)
      db.Exec("DELETE FROM \"" + table + "\" WHERE rowid % 3 = 1");
    db.Exec("DELETE FROM \"" + keep.front() + "\" WHERE rowid % 5 = 0");
  }
  return fx::ReadFileBytes(scratch) + kWalSeparator + fx::ReadFileBytes(scratch + "-wal");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]) == "--help") {
    std::fprintf(stderr, "usage: vantrel-fuzz-corpus OUTDIR\n");
    return 2;
  }
  try {
    const fs::path out = argv[1];
    fs::create_directories(out / "database");
    fs::create_directories(out / "database_wal");
    for (int ios : {6, 7}) {
      const std::string tag = "ios" + std::to_string(ios);
      {
        fx::TempDir dir("vantrel-corpus");
        BuildAll(dir.path(), ios, fx::JournalMode::Rollback);
        for (const char* kind : {"messages", "contacts", "calls"})
          Write(out / "database" / (std::string(kind) + "-" + tag + ".db"),
                fx::ReadFileBytes(dir.File(std::string(kind) + ".db")));
        const std::string scratch = dir.File("trimmed.db");
        Write(out / "database" / ("messages-" + tag + "-trimmed.db"),
              Trimmed(dir.File("messages.db"), scratch,
                      {"message", "handle", "chat", "chat_message_join", "chat_handle_join"}));
        Write(out / "database" / ("contacts-" + tag + "-trimmed.db"),
              Trimmed(dir.File("contacts.db"), scratch,
                      {"ABPerson", "ABMultiValue", "ABMultiValueLabel", "ABMultiValueEntry",
                       "ABMultiValueEntryKey"}));
        Write(out / "database" / ("calls-" + tag + "-trimmed.db"),
              Trimmed(dir.File("calls.db"), scratch, {"call"}));
        Write(out / "database_wal" / ("calls-" + tag + "-trimmed.db+wal"),
              TrimmedWithLog(scratch, {"call"}));
        const std::vector<std::string> messageTables = {"message", "handle", "chat",
                                                        "chat_message_join"};
        Trimmed(dir.File("messages.db"), scratch, messageTables);
        Write(out / "database_wal" / ("messages-" + tag + "-trimmed.db+wal"),
              TrimmedWithLog(scratch, messageTables));
        const std::vector<std::string> contactTables = {"ABPerson", "ABMultiValue",
                                                        "ABMultiValueLabel"};
        Trimmed(dir.File("contacts.db"), scratch, contactTables);
        Write(out / "database_wal" / ("contacts-" + tag + "-trimmed.db+wal"),
              TrimmedWithLog(scratch, contactTables));
      }
      {
        fx::TempDir dir("vantrel-corpus");
        BuildAll(dir.path(), ios, fx::JournalMode::Wal);
        for (const char* kind : {"messages", "contacts", "calls"}) {
          const std::string db = dir.File(std::string(kind) + ".db");
          Write(out / "database_wal" / (std::string(kind) + "-" + tag + ".db+wal"),
                fx::ReadFileBytes(db) + kWalSeparator + fx::ReadFileBytes(db + "-wal"));
        }
      }
    }
    // Regression input: cells sharing one long overflow chain (once minutes to load).
    {
      fx::TempDir dir("vantrel-corpus");
      fx::CallOptions k;
      k.pageSize = 512;
      k.computeSurvival = false;
      k.callCount = 12;
      k.keepNewest = 12;
      fx::BuildCallsDb(dir.File("calls.db"), k);
      Write(out / "database" / "crafted-shared-overflow-chain.db",
            vantrel::robust::CraftSharedOverflowChain(dir.File("calls.db"), 16, 96));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vantrel-fuzz-corpus: %s\n", e.what());
    return 1;
  }
  return 0;
}
