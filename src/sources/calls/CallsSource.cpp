#include "sources/calls/CallsSource.h"

#include "sources/calls/CallStore.h"

namespace vantrel {
namespace {

// A calls database is either the call store of iOS 8+ or the iOS 6/7 table.
LoaderStatus LoadCalls(const SqliteFile& db, Collections& into) {
  const LoaderStatus store = CallStoreLoader(db, into.liveCalls, into.deletedCalls);
  if (store != LoaderStatus::TableAbsent) return store;
  return CallLoader(db, into.liveCalls, into.deletedCalls);
}

}  // namespace

Source CallsSource() {
  // A phone upgraded from iOS 7 keeps its old call_history.db beside the call
  // store, frozen at the upgrade: its calls are stale, so the store is read
  // when it is there. Read on a thread of its own while the messages load.
  return {.kind = RecordKind::Calls,
          .word = "calls",
          .fileStem = "Call_history",
          .backupFiles = {{"HomeDomain", "Library/CallHistoryDB/CallHistory.storedata"},
                          {"WirelessDomain", "Library/CallHistory/call_history.db"}},
          .load = LoadCalls,
          .nodes = {{Category::DeletedCalls, true}, {Category::LiveCalls, true}},
          .ownThread = true};
}

}  // namespace vantrel
