// vantrel-comparegen: writes the corpus scripts/compare-outputs runs two builds of vantrel-cli
// over: backups of several shapes (iOS 6/7, page sizes 1024/4096/65536, rollback and WAL,
// incremental auto-vacuum, an upgraded call table) and single databases with their logs. Fixed
// seeds, so the same build of the generator always writes the same files.
#include <cstdio>
#include <exception>
#include <string>

#include "fixtures/Fixtures.h"

namespace {

using namespace vantrel::fixtures;

struct Shape {
  const char* name;
  int iosVersion;
  int pageSize;
  JournalMode journal;
  bool incrementalVacuum;
  bool upgradedCalls;
  uint64_t seed;
};

void WriteBackup(const std::string& out, const Shape& shape) {
  BackupOptions options;
  options.seed = shape.seed;
  options.iosVersion = shape.iosVersion;
  options.deviceName = std::string("dev-") + shape.name;
  for (DbOptions* db :
       {static_cast<DbOptions*>(&options.messages), static_cast<DbOptions*>(&options.contacts),
        static_cast<DbOptions*>(&options.calls)}) {
    db->pageSize = shape.pageSize;
    db->journal = shape.journal;
    db->incrementalVacuum = shape.incrementalVacuum;
    db->computeSurvival = false;
    db->deleteFraction = 0.3;
  }
  options.calls.deleteFraction = 0;  // the call limit decides what is deleted
  options.calls.upgradedFromIos6 = shape.upgradedCalls;
  options.messages.messageCount = 400;
  options.contacts.personCount = 80;
  BuildBackup(out + "/" + shape.name, options);
}

void WriteLoggedDatabases(const std::string& out, int ios) {
  const std::string v = std::to_string(ios);
  MessageOptions m;
  ContactOptions c;
  CallOptions k;
  for (DbOptions* db :
       {static_cast<DbOptions*>(&m), static_cast<DbOptions*>(&c), static_cast<DbOptions*>(&k)}) {
    db->iosVersion = ios;
    db->journal = JournalMode::Wal;
    db->computeSurvival = false;
  }
  m.seed = 11 + ios;
  m.deleteFraction = 0.3;
  c.seed = 21 + ios;
  c.deleteFraction = 0.3;
  k.seed = 31 + ios;
  BuildMessagesDb(out + "/wal/sms-ios" + v + ".db", m);
  BuildContactsDb(out + "/wal/ab-ios" + v + ".db", c);
  BuildCallsDb(out + "/wal/calls-ios" + v + ".db", k);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]) == "--help") {
    std::fprintf(stderr, "usage: vantrel-comparegen OUTDIR\n");
    return 2;
  }
  const std::string out = argv[1];
  const Shape shapes[] = {
      {"ios6-4096", 6, 4096, JournalMode::Rollback, false, false, 3},
      {"ios7-1024", 7, 1024, JournalMode::Rollback, false, false, 4},
      {"ios7-65536", 7, 65536, JournalMode::Rollback, false, true, 5},
      {"ios7-4096-vac", 7, 4096, JournalMode::WalCheckpointed, true, false, 6},
      {"ios6-1024", 6, 1024, JournalMode::Rollback, false, false, 7},
  };
  try {
    for (const Shape& shape : shapes) WriteBackup(out, shape);
    for (int ios : {6, 7}) WriteLoggedDatabases(out, ios);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vantrel-comparegen: %s\n", e.what());
    return 1;
  }
  return 0;
}
