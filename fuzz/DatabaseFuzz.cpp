// Fuzz target: the input bytes are a database file. It is opened with the
// product's reader and run through the message, contact and call loaders and
// the row reader on every table of its catalogue, and read as a backup's
// Manifest.db (its file records decoded as keyed archives).
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "backup/ManifestDb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  static const std::string path = fuzz::ScratchPath("input.db");
  fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
  ReadManifestDb(path);
  SqliteFile db;
  if (OpenDatabase("", db, path) == OpenStatus::NotOpened) return 0;
  fuzz::RunEveryReader(db);
  return 0;
}
