// Shared pieces of the fuzz targets: a private scratch folder on a memory file
// system (the readers open paths, so each input is written to a file first),
// and the run of every loader and of the row reader over one opened database.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "carve/RowReader.h"
#include "sources/Loaders.h"
#include "sqlite/SqliteFile.h"

namespace vantrel::fuzz {

// A folder of this process, under /dev/shm when it exists, removed at exit.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path base =
        fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path dir = base / ("vantrel-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(dir, ec);
    static struct Remover {
      fs::path dir;
      ~Remover() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
      }
    } remover{dir};
    return dir.string();
  }();
  return folder;
}

inline std::string ScratchPath(const std::string& name) {
  return ScratchFolder() + "/" + name;
}

// Replaces path with exactly these bytes.
inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) __builtin_trap();  // the scratch folder must be writable
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// Everything the product does with an opened database: the three loaders and
// the row reader over every table of the catalogue.
inline void RunEveryReader(const SqliteFile& db) {
  MessageMap liveMessages;
  MessageList deletedMessages;
  MessageLoader(db, liveMessages, deletedMessages);
  ContactMap contacts;
  std::optional<DeletedContactList> deletedContacts;
  ContactLoader(db, contacts, deletedContacts);
  CallMap liveCalls, deletedCalls;
  CallLoader(db, liveCalls, deletedCalls);
  for (const auto& [name, info] : db.tableMap) {
    RowList live, carved;
    ReadTable(db, name, live, carved);
  }
}

// Splits an input into a database and its log at the first separator; no
// separator means no log.
inline constexpr std::string_view kWalSeparator = "--VANTREL-WAL--";

inline void SplitDatabaseAndLog(std::string_view input, std::string_view& db,
                                std::string_view& wal) {
  const size_t at = input.find(kWalSeparator);
  if (at == std::string_view::npos) {
    db = input;
    wal = {};
    return;
  }
  db = input.substr(0, at);
  wal = input.substr(at + kWalSeparator.size());
}

}  // namespace vantrel::fuzz
