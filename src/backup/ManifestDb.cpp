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

}  // namespace

ManifestDbList ReadManifestDb(const std::string& path) {
  ManifestDbList list;
  if (!IsRegularFile(path)) return list;
  if (!HasSqliteHeader(path)) {
    ReadOnlyFile file;
    list.status = file.Open(path) ? ManifestDbStatus::NotSqlite : ManifestDbStatus::Unreadable;
    return list;
  }
  const std::string wal = path + "-wal";
  SqliteFile db;
  if (OpenDatabase(IsRegularFile(wal) ? wal : std::string(), db, path) == OpenStatus::NotOpened)
    return list;
  const TableInfo* table = FindTable(db, "Files");
  if (!table) {
    list.status = ManifestDbStatus::NoFilesTable;
    return list;
  }
  list.status = ManifestDbStatus::Ok;
  const size_t idColumn = ColumnPosition(table->columns, "fileID");
  const size_t domainColumn = ColumnPosition(table->columns, "domain");
  const size_t pathColumn = ColumnPosition(table->columns, "relativePath");
  const size_t flagsColumn = ColumnPosition(table->columns, "flags");
  const size_t fileColumn = ColumnPosition(table->columns, "file");

  CellPayload cell;
  RecordHeader header;
  std::vector<RawValue> values;
  for (const PageSet& set : table->pageSets) {
    VisitLeafPages(db, set, [&](const LeafPage& page) {
      for (uint16_t offset : page.liveOffsets) {
        if (!AssembleCellPayload(db, page.tree.bytes, offset, cell) ||
            !DecodeRecordHeader(cell, header)) {
          ++list.damagedRows;
          continue;
        }
        values.clear();
        bool damaged = false;
        for (size_t k = 0; k < header.serialTypes.size(); ++k) {
          const std::optional<CellColumn> value = ColumnOfCell(cell, header, k);
          if (!value->whole) {
            damaged = true;
            break;
          }
          values.push_back(ReadValue(value->serialType, value->content));
        }
        if (damaged) {
          ++list.damagedRows;
          continue;
        }
        auto text = [&](size_t column) -> std::string {
          return column < values.size() ? values[column].bytes : std::string();
        };
        FileEntry e;
        e.fileId = text(idColumn);
        e.domain = text(domainColumn);
        e.relativePath = text(pathColumn);
        if (flagsColumn < values.size())
          e.flags = static_cast<uint32_t>(values[flagsColumn].integer);
        e.kind = e.flags == 1   ? FileKind::File
                 : e.flags == 2 ? FileKind::Directory
                 : e.flags == 4 ? FileKind::SymbolicLink
                                : FileKind::Unknown;
        const MbFile record = DecodeMbFile(text(fileColumn));
        if (!record.decoded) {
          ++list.undecodedRecords;
        } else {
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
        }
        list.entries.push_back(std::move(e));
      }
    });
  }
  return list;
}

}  // namespace vantrel
