// Reading Manifest.db's Files table cell by cell. The row reader renders every
// value as text, which would cut the archived `file` blob at its first zero
// byte, so this reader takes the raw values of each live cell itself, through
// the same b-tree walk and cell assembly the row reader uses.
#include "backup/ManifestDb.h"

#include <cstdint>

#include "backup/KeyedArchive.h"
#include "platform/ReadOnlyFile.h"
#include "recovery/RowReader.h"
#include "sqlite/BTree.h"
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
  // Big-endian two's complement of 1, 2, 3, 4, 6 or 8 bytes.
  v.type = RawValue::Type::Integer;
  const size_t n = content.size();
  uint64_t u = 0;
  for (size_t i = 0; i < n; ++i) u = (u << 8) | content[i];
  if (n > 0 && n < 8 && (content[0] & 0x80)) u |= ~0ull << (8 * n);
  v.integer = static_cast<int64_t>(u);
  return v;
}

int ColumnIndex(const std::vector<ColumnDef>& columns, const char* name) {
  for (size_t i = 0; i < columns.size(); ++i)
    if (columns[i].name == name) return static_cast<int>(i);
  return -1;
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
  if (OpenDatabase(IsRegularFile(wal) ? wal : std::string(), db, path) == OpenStatus::NotOpened) return list;
  const TableInfo* table = FindTable(db, "Files");
  if (!table) {
    list.status = ManifestDbStatus::NoFilesTable;
    return list;
  }
  list.status = ManifestDbStatus::Ok;
  const int idColumn = ColumnIndex(table->columns, "fileID");
  const int domainColumn = ColumnIndex(table->columns, "domain");
  const int pathColumn = ColumnIndex(table->columns, "relativePath");
  const int flagsColumn = ColumnIndex(table->columns, "flags");
  const int fileColumn = ColumnIndex(table->columns, "file");

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
        const size_t end = cell.lengthOfPayloadVarint + cell.lengthOfRowidVarint +
                           static_cast<size_t>(cell.payloadLength);
        values.clear();
        size_t at = header.bodyOffset;
        bool damaged = false;
        for (uint64_t type : header.serialTypes) {
          const uint64_t size = SerialTypeSize(type);
          if (at > end || size > end - at || !cell.bytes.Contains(at, size)) {
            damaged = true;
            break;
          }
          values.push_back(ReadValue(type, cell.bytes.Sub(at, size)));
          at += size;
        }
        if (damaged) {
          ++list.damagedRows;
          continue;
        }
        auto text = [&](int column) -> std::string {
          return column >= 0 && static_cast<size_t>(column) < values.size() ? values[column].bytes
                                                                            : std::string();
        };
        FileEntry e;
        e.fileId = text(idColumn);
        e.domain = text(domainColumn);
        e.relativePath = text(pathColumn);
        if (flagsColumn >= 0 && static_cast<size_t>(flagsColumn) < values.size())
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
