// What a source database family is to the rest of the program: the files of a backup
// it reads, the loader that turns one of them into records, the categories it fills
// in tree order, and what it finds in the backup once everything has loaded. One
// descriptor per folder under sources/; the registry lists them in load order.
#pragma once

#include <vector>

#include "sources/Collections.h"
#include "sources/Loaders.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

class BackupFiles;

// A file of the phone as a backup names it: its domain and its path there.
struct BackupFileRef {
  const char* domain;        // "HomeDomain"
  const char* relativePath;  // "Library/SMS/sms.db"
};

// A category node of a source, in tree order.
struct CategoryNode {
  Category category;
  bool alwaysShown;  // shown even when the load found none of it (else only with records)
};

struct Source {
  RecordKind kind;
  // The word scripts, the command line and the JSON export name the kind by.
  const char* word;
  // The stem of its export files' names ("SMS": SMS.CSV, SMS_Del.txt).
  const char* fileStem;
  // The database's files in a backup folder, preferred first: the first the
  // folder holds is read.
  std::vector<BackupFileRef> backupFiles;
  // Reads an opened database into the source's own collections only.
  LoaderStatus (*load)(const SqliteFile& db, Collections& into);
  std::vector<CategoryNode> nodes;
  // Read on a thread of its own from the start of the load (when the machine
  // has a second processor), and reported in its turn. Each source opens its
  // own reader and fills only its own collections, so any source may be.
  bool ownThread = false;
  // Run once every source has loaded from a backup folder: finds the other
  // files of the backup its records name (null when it has none).
  void (*findFilesInBackup)(const BackupFiles& files, Collections& data) = nullptr;
};

// Every source, in the order a load reads and reports them (the tree's order).
const std::vector<Source>& Sources();
// The source of a kind of record.
const Source& SourceOf(RecordKind kind);

}  // namespace vantrel
