// Fuzz target: the input is a database file and, after a separator, its
// write-ahead log. Both are written beside each other and the database is read
// through the log by every loader and by the row reader on every table.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  static const std::string path = fuzz::ScratchPath("input.db");
  static const std::string walPath = path + "-wal";
  std::string_view dbBytes, walBytes;
  fuzz::SplitDatabaseAndLog(std::string_view(reinterpret_cast<const char*>(data), size), dbBytes,
                            walBytes);
  fuzz::WriteFile(path, dbBytes);
  fuzz::WriteFile(walPath, walBytes);
  SqliteFile db;
  if (OpenDatabase(walPath, db, path) == OpenStatus::NotOpened) return 0;
  fuzz::RunEveryReader(db);
  return 0;
}
