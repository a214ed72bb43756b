#include "sources/calls/CallStore.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <string_view>
#include <tuple>
#include <vector>

#include "carve/OlderImages.h"
#include "carve/RowReader.h"
#include "sources/messages/MessageFiling.h"
#include "sqlite/Schema.h"

namespace vantrel {
namespace {

constexpr char kCallRecordTable[] = "ZCALLRECORD";
constexpr char kHandleTable[] = "ZHANDLE";

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The position of the first column whose name ends with tail, or kNoColumn.
size_t ColumnEndingWith(const std::vector<ColumnDef>& columns, std::string_view tail) {
  for (size_t k = 0; k < columns.size(); ++k)
    if (EndsWith(columns[k].name, tail)) return k;
  return kNoColumn;
}

const std::string* At(const RowValues& row, size_t k) {
  return k < row.size() ? &row[k] : nullptr;
}

struct CallColumns {
  size_t pk, date, duration, originated, answered, callType, address;

  explicit CallColumns(const std::vector<ColumnDef>& c)
      : pk(ColumnPosition(c, "Z_PK")),
        date(ColumnPosition(c, "ZDATE")),
        duration(ColumnPosition(c, "ZDURATION")),
        originated(ColumnPosition(c, "ZORIGINATED")),
        answered(ColumnPosition(c, "ZANSWERED")),
        callType(ColumnPosition(c, "ZCALLTYPE")),
        address(ColumnPosition(c, "ZADDRESS")) {}
};

CallRecord MakeRecord(const RowValues& row, const CallColumns& c) {
  CallRecord record;
  if (const std::string* date = At(row, c.date)) record.date = UnixSecondsFromCallStoreDate(*date);
  if (const std::string* duration = At(row, c.duration))
    record.duration = static_cast<int32_t>(std::max<int64_t>(0, TextToInt(*duration)));
  if (const std::string* originated = At(row, c.originated))
    record.flags = TextToInt(*originated) == 1 ? 1 : 0;
  if (const std::string* answered = At(row, c.answered); answered && !answered->empty())
    record.answered = TextToInt(*answered) != 0 ? 1 : 0;
  if (const std::string* type = At(row, c.callType); type && !type->empty())
    record.type = CallTypeFromStored(TextToInt(*type));
  return record;
}

// Call Z_PK -> the values of its remote participants' handles, sorted. The
// join table is the one named Z_<n>REMOTEPARTICIPANTHANDLES, its call column
// the one ending REMOTEPARTICIPANTCALLS and its handle column the other.
std::map<int64_t, std::vector<std::string>> ReadParticipants(const SqliteFile& db) {
  std::map<int64_t, std::vector<std::string>> byCall;
  const TableInfo* handles = FindTable(db, kHandleTable);
  if (handles == nullptr) return byCall;
  const size_t handlePk = ColumnPosition(handles->columns, "Z_PK");
  const size_t handleValue = ColumnPosition(handles->columns, "ZVALUE");
  if (handlePk == kNoColumn || handleValue == kNoColumn) return byCall;
  for (const SchemaTable& schema : db.schemaTables) {
    if (schema.name.rfind("Z_", 0) != 0 || !EndsWith(schema.name, "REMOTEPARTICIPANTHANDLES"))
      continue;
    const TableInfo* join = FindTable(db, schema.name);
    if (join == nullptr) continue;
    const size_t callColumn = ColumnEndingWith(join->columns, "REMOTEPARTICIPANTCALLS");
    const size_t handleColumn = ColumnEndingWith(join->columns, "REMOTEPARTICIPANTHANDLES");
    if (callColumn == kNoColumn || handleColumn == kNoColumn) continue;

    RowList handleRows, joinRows, unused;
    ReadTable(db, kHandleTable, handleRows, unused);
    ReadTable(db, schema.name, joinRows, unused);
    std::map<int64_t, std::string> valueOf;
    for (const RowValues& row : handleRows)
      if (const std::string* pk = At(row, handlePk))
        if (const std::string* value = At(row, handleValue))
          valueOf.emplace(TextToInt(*pk), *value);
    for (const RowValues& row : joinRows) {
      const std::string* call = At(row, callColumn);
      const std::string* handle = At(row, handleColumn);
      if (call == nullptr || handle == nullptr) continue;
      auto value = valueOf.find(TextToInt(*handle));
      if (value == valueOf.end() || value->second.empty()) continue;
      byCall[TextToInt(*call)].push_back(value->second);
    }
    break;
  }
  for (auto& [call, values] : byCall) std::sort(values.begin(), values.end());
  return byCall;
}

using CallKey = std::tuple<std::string, int32_t, int32_t, int32_t>;

// The values a copy of a row holds: a carved copy may be cut short or have
// lost its rowid.
size_t Filled(const RowValues& row) {
  size_t count = 0;
  for (const std::string& value : row) count += !value.empty();
  return count;
}

}  // namespace

CallType CallTypeFromStored(int64_t stored) {
  switch (stored) {
    case 1:
      return CallType::Phone;
    case 8:
      return CallType::FaceTimeVideo;
    case 16:
      return CallType::FaceTimeAudio;
    default:
      return CallType::Other;
  }
}

int32_t UnixSecondsFromCallStoreDate(const std::string& stored) {
  if (stored.empty()) return 0;
  const double seconds = std::floor(std::strtod(stored.c_str(), nullptr));
  if (!std::isfinite(seconds)) return 0;
  const double unix = seconds + static_cast<double>(kAppleEpochInUnixSeconds);
  if (unix < INT32_MIN || unix > INT32_MAX) return 0;
  return static_cast<int32_t>(unix);
}

LoaderStatus CallStoreLoader(const SqliteFile& db, CallMap& live, CallMap& deleted) {
  const TableInfo* table = FindTable(db, kCallRecordTable);
  if (table == nullptr) return LoaderStatus::TableAbsent;
  if (table->pageSets.empty()) return LoaderStatus::NoPages;
  const CallColumns columns(table->columns);
  RowList liveRows, carvedRows;
  FoundList carvedFound;
  ReadTable(db, kCallRecordTable, liveRows, carvedRows, TemplateCarvePage, &carvedFound);
  carvedFound.resize(carvedRows.size());
  // With a log: the calls the file's older images and the log's older frames keep.
  ReadOlderImagesOfTable(db, kCallRecordTable, carvedRows, carvedFound);
  const std::map<int64_t, std::vector<std::string>> participants = ReadParticipants(db);

  // The b-tree walk does not give rows in key order; calls are listed in the
  // order the phone recorded them.
  if (columns.pk != kNoColumn)
    std::stable_sort(liveRows.begin(), liveRows.end(), [&](const RowValues& a, const RowValues& b) {
      const int64_t ka = columns.pk < a.size() ? TextToInt(a[columns.pk]) : 0;
      const int64_t kb = columns.pk < b.size() ? TextToInt(b[columns.pk]) : 0;
      return ka < kb;
    });
  std::set<CallKey> liveKeys;
  for (const RowValues& row : liveRows) {
    CallRecord record = MakeRecord(row, columns);
    if (const std::string* pk = At(row, columns.pk)) {
      auto found = participants.find(TextToInt(*pk));
      if (found != participants.end()) record.participants = found->second;
    }
    std::string number;
    if (const std::string* address = At(row, columns.address)) number = *address;
    if (number.empty() && !record.participants.empty()) number = record.participants.front();
    if (number.empty()) continue;
    liveKeys.insert({number, record.date, record.duration, record.flags});
    live[number].push_back(std::move(record));
  }
  // Carved records: interior and free pages, and older images in the log,
  // keep old copies of live cells, so a copy of a live call is not a deleted
  // one. A call found more than once is listed once, where its most complete
  // copy lies (a whole cell in the log beats a carved copy cut short).
  std::map<CallKey, std::pair<size_t, size_t>> listed;  // -> position in its list, values
  for (size_t r = 0; r < carvedRows.size(); ++r) {
    const RowValues& row = carvedRows[r];
    const std::string* address = At(row, columns.address);
    if (address == nullptr || address->empty()) continue;
    CallRecord record = MakeRecord(row, columns);
    const CallKey key{*address, record.date, record.duration, record.flags};
    if (liveKeys.count(key)) continue;
    std::vector<CallRecord>& calls = deleted[*address];
    auto [at, added] = listed.try_emplace(key, calls.size(), Filled(row));
    if (!added) {
      if (Filled(row) > at->second.second) {
        at->second.second = Filled(row);
        calls[at->second.first].found = carvedFound[r];
      }
      continue;
    }
    record.found = carvedFound[r];
    calls.push_back(std::move(record));
  }
  return LoaderStatus::Loaded;
}

}  // namespace vantrel
