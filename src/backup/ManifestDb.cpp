// Reading Manifest.db's Files table cell by cell. The row reader renders every
// value as text, which would cut the archived `file` blob at its first zero
// byte, so this reader takes the raw values of each live cell itself, through
// the same b-tree walk and cell assembly the row reader uses.
#include "backup/ManifestDb.h"

#include <cstdint>

#include "backup/KeyedArchive.h"
#include "carve/RowReader.h"
#include "platform/ReadOnlyFile.h"
#include "sqlite/BTree.h"
#include "sqlite/ColumnNames.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

constexpr char kSqliteMagic[] = "SQLite format 3";  // 16 bytes with its terminating zero

// One raw record value.
struct RawValue {
  enum class Type { Null, Integer, Real, Text, Blob } type = Type::Null;
  int64_t integer = 0;
  std::string bytes;
};

RawValue ReadValue(uint64_t serialType, ByteView content) {
  RawValue v;
  if (serialType >= 12) {
    v.type = serialType % 2 ? RawValue::Type::Text : RawValue::Type::Blob;
    v.bytes.assign(content.AsString());
    return v;
  }
  if (serialType == 0 || serialType == 10 || serialType == 11) return v;
  if (serialType == 8 || serialType == 9) {
    v.type = RawValue::Type::Integer;
    v.integer = serialType == 9;
    return v;
  }
  if (serialType == 7) {
    v.type = RawValue::Type::Real;
    return v;
  }
  v.type = RawValue::Type::Integer;
  v.integer = BigEndianInteger(content);
  return v;
}

bool HasSqliteHeader(const std::string& path) {
  ReadOnlyFile file;
  char head[16] = {};
  return file.Open(path) && file.ReadExact(0, head, sizeof head) &&
         std::string_view(head, 16) == std::string_view(kSqliteMagic, 16);
}

// The Files table of the database at path (and its log), opened into db;
// nullptr when there is none, list.status then saying why.
const TableInfo* OpenFilesTable(const std::string& path, SqliteFile& db, ManifestDbList& list) {
  if (!IsRegularFile(path)) return nullptr;
  if (!HasSqliteHeader(path)) {
    ReadOnlyFile file;
    list.status = file.Open(path) ? ManifestDbStatus::NotSqlite : ManifestDbStatus::Unreadable;
    return nullptr;
  }
  const std::string wal = path + "-wal";
  if (OpenDatabase(IsRegularFile(wal) ? wal : std::string(), db, path) == OpenStatus::NotOpened)
    return nullptr;
  const TableInfo* table = FindTable(db, "Files");
  list.status = table ? ManifestDbStatus::Ok : ManifestDbStatus::NoFilesTable;
  return table;
}

// The Files columns an entry is made of, by name.
struct FilesColumns {
  size_t id, domain, path, flags, file;
  explicit FilesColumns(const std::vector<ColumnDef>& columns)
      : id(ColumnPosition(columns, "fileID")),
        domain(ColumnPosition(columns, "domain")),
        path(ColumnPosition(columns, "relativePath")),
        flags(ColumnPosition(columns, "flags")),
        file(ColumnPosition(columns, "file")) {}
};

// The raw values of the live cell at offset into values; false when the cell
// is damaged: it cannot be assembled, its header does not decode, or a value
// is cut short.
bool ReadCellValues(const SqliteFile& db, const LeafPage& page, uint16_t offset, CellPayload& cell,
                    RecordHeader& header, std::vector<RawValue>& values) {
  if (!AssembleCellPayload(db, page.tree.bytes, offset, cell) || !DecodeRecordHeader(cell, header))
    return false;
  values.clear();
  for (size_t k = 0; k < header.serialTypes.size(); ++k) {
    const std::optional<CellColumn> value = ColumnOfCell(cell, header, k);
    if (!value->whole) return false;
    values.push_back(ReadValue(value->serialType, value->content));
  }
  return true;
}

// What the archived MBFile record of a row says of its file; false when it
// is no readable archive.
bool TakeFileRecord(const std::string& archived, FileEntry& e) {
  const MbFile record = DecodeMbFile(archived);
  if (!record.decoded) return false;
  e.size = record.size;
  e.mode = record.mode;
  e.inode = record.inode;
  e.userId = record.userId;
  e.groupId = record.groupId;
  e.modified = record.lastModified;
  e.statusChanged = record.lastStatusChange;
  e.birth = record.birth;
  e.protectionClass = record.protectionClass;
  e.linkTarget = record.target;
  e.hasEncryptionKey = record.hasEncryptionKey;
  e.encryptionKey = record.encryptionKey;
  if (e.kind == FileKind::Unknown) e.kind = KindOfMode(record.mode);
  return true;
}

// A row of Files as an entry; a row whose record does not decode is counted
// in list.undecodedRecords.
FileEntry EntryOfRow(const std::vector<RawValue>& values, const FilesColumns& c,
                     ManifestDbList& list) {
  auto text = [&](size_t column) -> std::string {
    return column < values.size() ? values[column].bytes : std::string();
  };
  FileEntry e;
  e.fileId = text(c.id);
  e.domain = text(c.domain);
  e.relativePath = text(c.path);
  if (c.flags < values.size()) e.flags = static_cast<uint32_t>(values[c.flags].integer);
  e.kind = e.flags == 1   ? FileKind::File
           : e.flags == 2 ? FileKind::Directory
           : e.flags == 4 ? FileKind::SymbolicLink
                          : FileKind::Unknown;
  if (!TakeFileRecord(text(c.file), e)) ++list.undecodedRecords;
  return e;
}

}  // namespace

ManifestDbList ReadManifestDb(const std::string& path) {
  ManifestDbList list;
  SqliteFile db;
  const TableInfo* table = OpenFilesTable(path, db, list);
  if (!table) return list;
  const FilesColumns columns(table->columns);
  CellPayload cell;
  RecordHeader header;
  std::vector<RawValue> values;
  for (const PageSet& set : table->pageSets) {
    VisitLeafPages(db, set, [&](const LeafPage& page) {
      for (uint16_t offset : page.liveOffsets) {
        if (!ReadCellValues(db, page, offset, cell, header, values)) {
          ++list.damagedRows;
          continue;
        }
        list.entries.push_back(EntryOfRow(values, columns, list));
      }
    });
  }
  return list;
}

}  // namespace vantrel
