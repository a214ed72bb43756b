#include "recovery/ContactLoader.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <utility>

#include "recovery/ColumnNames.h"
#include "recovery/ContactCarvers.h"
#include "recovery/Loaders.h"
#include "recovery/PhoneNumber.h"
#include "recovery/RowReader.h"
#include "sqlite/BTree.h"
#include "sqlite/Schema.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

namespace {

namespace pc = person_column;
namespace mvc = multi_value_column;
namespace mvec = multi_value_entry_column;

constexpr char kPropertyAddress[] = "5";

const std::string& At(const RowValues& row, size_t k) {
  static const std::string kEmpty;
  return k < row.size() ? row[k] : kEmpty;
}

// Last, Middle, First joined without separators.
std::string PersonName(const RowValues& person) {
  return At(person, pc::kLast) + At(person, pc::kMiddle) + At(person, pc::kFirst);
}

// A table's column position by name, or the iOS 6/7 position when the
// catalogue does not name it (a table absent from the file: its rows are
// empty anyway).
size_t Named(const TableInfo* table, const char* name, size_t ios7Position) {
  if (table == nullptr) return ios7Position;
  return ColumnPosition(table->columns, name);
}

// The columns the live records are built from, by name.
struct PersonColumns {
  size_t rowid, first, last, middle, firstPhonetic, middlePhonetic, lastPhonetic, organization;
  explicit PersonColumns(const TableInfo* t)
      : rowid(Named(t, "ROWID", pc::kRowid)),
        first(Named(t, "First", pc::kFirst)),
        last(Named(t, "Last", pc::kLast)),
        middle(Named(t, "Middle", pc::kMiddle)),
        firstPhonetic(Named(t, "FirstPhonetic", pc::kFirstPhonetic)),
        middlePhonetic(Named(t, "MiddlePhonetic", pc::kMiddlePhonetic)),
        lastPhonetic(Named(t, "LastPhonetic", pc::kLastPhonetic)),
        organization(Named(t, "Organization", pc::kOrganization)) {}
};
struct MultiValueColumns {
  size_t uid, recordId, property, label, value;
  explicit MultiValueColumns(const TableInfo* t)
      : uid(Named(t, "UID", mvc::kUid)),
        recordId(Named(t, "record_id", mvc::kRecordId)),
        property(Named(t, "property", mvc::kProperty)),
        label(Named(t, "label", mvc::kLabel)),
        value(Named(t, "value", mvc::kValue)) {}
};
struct EntryColumns {
  size_t parentId, key, value;
  explicit EntryColumns(const TableInfo* t)
      : parentId(Named(t, "parent_id", mvec::kParentId)),
        key(Named(t, "key", mvec::kKey)),
        value(Named(t, "value", mvec::kValue)) {}
};

// The text of the k-th row (from 1) of a label or key table in reading order,
// "" when there is none.
std::string NthValue(const RowList& rows, int64_t k, size_t column = kNameTableValueColumn) {
  if (k < 1 || static_cast<uint64_t>(k) > rows.size()) return {};
  return At(rows[static_cast<size_t>(k - 1)], column);
}

uint32_t Key(const std::string& text) {
  return static_cast<uint32_t>(TextToInt(text));
}

// The rowid of the first cell of a leaf page; 0 when the page has none.
uint64_t FirstRowid(const SqliteFile& db, int32_t pageNo, std::vector<uint8_t>& buffer) {
  if (pageNo < 1 || ReadPageNumber(db, static_cast<uint32_t>(pageNo), buffer) != PageRead::Whole)
    return 0;
  const ByteView page(buffer.data(), buffer.size());
  std::vector<uint16_t> offsets;
  ReadCellPointers(page, offsets, db, pageNo == 1);
  CellPayload cell;
  if (offsets.empty() || !AssembleCellPayload(db, page, offsets.front(), cell)) return 0;
  return cell.rowid;
}

// Reads a table with its leaf pages in rowid order, so that its rows come in
// the order they were inserted: labels and address keys are looked up by
// their position, which then is their rowid, and a person's multi-values and
// an address's parts come in the order the device added them (the b-tree walk
// itself visits the right-most subtree first). An absent table reads as empty.
// Leaves that lost every row come last: they hold no live row to order by.
void ReadTableInRowidOrder(const SqliteFile& db, const std::string& name, RowList& live,
                           RowList& carved, const CarveStep& carve = TemplateCarvePage,
                           FoundList* found = nullptr) {
  const TableInfo* table = FindTable(db, name);
  if (!table) return;
  std::vector<uint8_t> buffer;
  for (const PageSet& pageSet : table->pageSets) {
    std::vector<std::pair<uint64_t, int32_t>> pages;
    for (int32_t pageNo : pageSet.leafPages)
      pages.emplace_back(FirstRowid(db, pageNo, buffer), pageNo);
    std::stable_sort(pages.begin(), pages.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    PageSet ordered;
    for (const auto& page : pages) ordered.leafPages.push_back(page.second);
    ReadPageSetRows(db, ordered, live, carved, table->columns, carve, found);
    PageSet emptied;
    emptied.leafPages = pageSet.emptyLeafPages;
    ReadPageSetRows(db, emptied, live, carved, table->columns, carve, found);
  }
}

}  // namespace

std::string ResolveLabel(const std::string& stored) {
  const size_t open = stored.find('<');
  if (open == std::string::npos || open == 0) return stored;
  const size_t close = stored.find('>');
  if (close == std::string::npos || close <= open) return stored;
  return stored.substr(open + 1, close - open - 1);
}

DeletedContactList BuildDeletedContacts(const RowList& deletedMultiValues, const RowList& persons,
                                        const std::set<std::string>& liveValues,
                                        const std::vector<FoundAt>* found) {
  DeletedContactList listed;
  // A person's rowid -> its name; the first row of a rowid wins.
  std::unordered_map<std::string, std::string> names;
  for (const RowValues& person : persons) {
    if (At(person, pc::kRowid).empty()) continue;
    names.emplace(person[pc::kRowid], PersonName(person));
  }
  // Number -> positions of its lines, to list each deleted record once.
  std::unordered_map<std::string, std::vector<size_t>> lines;
  for (size_t r = 0; r < deletedMultiValues.size(); ++r) {
    const RowValues& row = deletedMultiValues[r];
    std::optional<FoundAt> where;
    if (found && r < found->size()) where = (*found)[r];
    const std::string& number = At(row, mvc::kValue);
    if (number.empty() || liveValues.count(number)) continue;
    const std::string& owner = At(row, mvc::kRecordId);
    std::string name;
    if (!owner.empty()) {
      auto found = names.find(owner);
      if (found != names.end()) name = found->second;
    }
    std::vector<size_t>& same = lines[number];
    bool known = false;
    for (size_t at : same) {
      std::string& earlierOwner = listed[at].owner;
      if (earlierOwner == name || name.empty()) {
        known = true;
        break;
      }
      if (earlierOwner.empty()) {
        earlierOwner = name;       // the earlier copy had lost its owner
        listed[at].found = where;  // the copy that gave the name is the one shown
        known = true;
        break;
      }
    }
    if (known) continue;
    same.push_back(listed.size());
    listed.push_back({number, std::move(name), std::move(where)});
  }
  // A number without an owner that is the beginning of another deleted or
  // live number is a copy whose end a newer cell overwrote: it is not listed.
  std::set<std::string> numbers(liveValues);
  for (const DeletedContact& contact : listed) numbers.insert(contact.number);
  DeletedContactList kept;
  for (DeletedContact& contact : listed) {
    if (contact.owner.empty()) {
      auto next = numbers.upper_bound(contact.number);
      if (next != numbers.end() && next->compare(0, contact.number.size(), contact.number) == 0)
        continue;
    }
    kept.push_back(std::move(contact));
  }
  return kept;
}

LoaderStatus ContactLoader(const SqliteFile& db, ContactMap& contacts,
                           std::optional<DeletedContactList>& deleted) {
  const TableInfo* multiValues = FindTable(db, "ABMultiValue");
  if (!multiValues || !FindTable(db, "ABPerson")) return LoaderStatus::TableAbsent;

  // Stage 1: every row the address book still holds or has left behind.
  RowList multiLive, multiDeleted;
  std::vector<FoundAt> multiFound;  // where each of multiDeleted lay
  LoaderStatus result = LoaderStatus::NoPages;
  if (!multiValues->pageSets.empty()) {
    ReadTableInRowidOrder(db, "ABMultiValue", multiLive, multiDeleted, CarveMultiValuePage,
                          &multiFound);
    result = LoaderStatus::Loaded;
  }
  TelephoneNumberCarver(db, multiDeleted, &multiFound);
  RowList personLive, personDeleted;
  ReadTableInRowidOrder(db, "ABPerson", personLive, personDeleted);
  PersonCarver(db, personDeleted);
  PersonCarverOnTablePages(db, personDeleted);
  if (result != LoaderStatus::Loaded || (multiLive.empty() && multiDeleted.empty())) return result;

  const PersonColumns p(FindTable(db, "ABPerson"));
  const MultiValueColumns m(multiValues);
  const EntryColumns e(FindTable(db, "ABMultiValueEntry"));
  const size_t labelValue =
      Named(FindTable(db, "ABMultiValueLabel"), "value", kNameTableValueColumn);
  const size_t keyValue =
      Named(FindTable(db, "ABMultiValueEntryKey"), "value", kNameTableValueColumn);
  const auto name = [&](const RowValues& person) {
    return At(person, p.last) + At(person, p.middle) + At(person, p.first);
  };

  // Stage 2: live persons with their multi-values, then the deleted entry.
  RowList labelLive, labelDeleted, entryLive, entryDeleted, entryKeyLive, entryKeyDeleted;
  ReadTableInRowidOrder(db, "ABMultiValueLabel", labelLive, labelDeleted);
  ReadTableInRowidOrder(db, "ABMultiValueEntry", entryLive, entryDeleted);
  ReadTableInRowidOrder(db, "ABMultiValueEntryKey", entryKeyLive, entryKeyDeleted);

  std::multimap<uint32_t, const RowValues*> byPerson;
  for (const RowValues& row : multiLive) byPerson.emplace(Key(At(row, m.recordId)), &row);
  std::multimap<uint32_t, const RowValues*> entriesByParent;
  for (const RowValues& row : entryLive) entriesByParent.emplace(Key(At(row, e.parentId)), &row);

  // Values still held by a live multi-value of a live person are never
  // listed as deleted, whether or not the person's record shows them (a
  // phone without a label is not shown, yet its stale copies are not deleted).
  std::set<std::string> liveValues;
  std::set<uint32_t> livePersons;
  for (const RowValues& person : personLive)
    if (!person.empty()) livePersons.insert(Key(At(person, p.rowid)));
  for (const RowValues& mv : multiLive) {
    const std::string& value = At(mv, m.value);
    if (livePersons.count(Key(At(mv, m.recordId))) && !value.empty()) liveValues.insert(value);
  }
  for (const RowValues& person : personLive) {
    if (person.empty()) continue;
    const uint32_t id = Key(At(person, p.rowid));
    ContactRecord record;
    record.name = name(person);
    record.phonetic = At(person, p.lastPhonetic) + " " + At(person, p.middlePhonetic) + " " +
                      At(person, p.firstPhonetic);
    record.organization = At(person, p.organization);
    auto range = byPerson.equal_range(id);
    for (auto it = range.first; it != range.second; ++it) {
      const RowValues& mv = *it->second;
      std::string label, value;
      if (At(mv, m.property) == kPropertyAddress) {
        // An address shows its first part, labelled with that part's key.
        auto entry = entriesByParent.find(Key(At(mv, m.uid)));
        if (entry == entriesByParent.end()) continue;
        const RowValues& part = *entry->second;
        label = NthValue(entryKeyLive, TextToInt(At(part, e.key)), keyValue);
        value = At(part, e.value);
      } else {
        if (At(mv, m.label).empty()) continue;  // no label: not shown
        label = ResolveLabel(NthValue(labelLive, TextToInt(At(mv, m.label)), labelValue));
        value = At(mv, m.value);
      }
      record.propertyCodes.push_back(static_cast<int32_t>(TextToInt(At(mv, m.property))));
      record.labels.push_back(label);
      if (record.name.empty()) record.name = value;
      liveValues.insert(value);
      record.values.push_back(std::move(value));
    }
    contacts.emplace(id, std::move(record));
  }
  if (!multiDeleted.empty()) {
    // A deleted number's owner may be a live person (only the number was
    // deleted) or a deleted one; ABPerson rowids are never reused.
    RowList owners = personLive;
    owners.insert(owners.end(), personDeleted.begin(), personDeleted.end());
    deleted = BuildDeletedContacts(multiDeleted, owners, liveValues, &multiFound);
  }
  return result;
}

}  // namespace vantrel
