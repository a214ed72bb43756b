#include "recovery/ContactLoader.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <utility>

#include "recovery/ContactCarvers.h"
#include "recovery/Loaders.h"
#include "recovery/PhoneNumber.h"
#include "recovery/RowReader.h"
#include "sqlite/BTree.h"
#include "sqlite/Schema.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

namespace {

constexpr char kPropertyAddress[] = "5";

const std::string& At(const RowValues& row, size_t k) {
  static const std::string kEmpty;
  return k < row.size() ? row[k] : kEmpty;
}

// Last, Middle, First joined without separators.
std::string PersonName(const RowValues& person) {
  return At(person, 2) + At(person, 3) + At(person, 1);
}

// Position 0 of the k-th row (from 1) in reading order, "" when there is none.
std::string NthValue(const RowList& rows, int64_t k) {
  if (k < 1 || static_cast<uint64_t>(k) > rows.size()) return {};
  return At(rows[static_cast<size_t>(k - 1)], 0);
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
// itself visits the right-most subtree first). -2 when the table is absent.
int ReadTableInRowidOrder(const SqliteFile& db, const std::string& name, RowList& live,
                          RowList& carved, const CarveStep& carve = TemplateCarvePage) {
  const TableInfo* table = FindTable(db, name);
  if (!table) return -2;
  std::vector<uint8_t> buffer;
  for (const PageSet& pageSet : table->pageSets) {
    std::vector<std::pair<uint64_t, int32_t>> pages;
    for (int32_t pageNo : pageSet.leafPages)
      pages.emplace_back(FirstRowid(db, pageNo, buffer), pageNo);
    std::stable_sort(pages.begin(), pages.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    PageSet ordered;
    for (const auto& page : pages) ordered.leafPages.push_back(page.second);
    ReadPageSetRows(db, ordered, live, carved, table->columns, carve);
  }
  return 0;
}

}  // namespace

std::string ResolveLabel(const std::string& stored) {
  const size_t open = stored.find('<');
  if (open == std::string::npos || open == 0) return stored;
  const size_t close = stored.find('>');
  if (close == std::string::npos || close <= open) return stored;
  return stored.substr(open + 1, close - open - 1);
}

ContactRecord BuildDeletedContacts(const RowList& deletedMultiValues, const RowList& persons,
                                   const std::set<std::string>& liveValues) {
  ContactRecord entry;
  entry.name = kDeletedContactsName;
  // A person's rowid -> its name; the first row of a rowid wins.
  std::unordered_map<std::string, std::string> names;
  for (const RowValues& person : persons) {
    if (person.empty() || person[0].empty()) continue;
    names.emplace(person[0], PersonName(person));
  }
  // Number -> positions of its lines, to list each deleted record once.
  std::unordered_map<std::string, std::vector<size_t>> lines;
  for (const RowValues& row : deletedMultiValues) {
    const std::string& number = At(row, 5);
    if (number.empty() || liveValues.count(number)) continue;
    const std::string& owner = At(row, 1);
    std::string name;
    if (!owner.empty()) {
      auto found = names.find(owner);
      if (found != names.end()) name = found->second;
    }
    std::vector<size_t>& same = lines[number];
    bool listed = false;
    for (size_t at : same) {
      if (entry.values[at] == name || name.empty()) {
        listed = true;
        break;
      }
      if (entry.values[at].empty()) {
        entry.values[at] = name;  // the earlier copy had lost its owner
        listed = true;
        break;
      }
    }
    if (listed) continue;
    same.push_back(entry.labels.size());
    entry.labels.push_back(number);
    entry.values.push_back(std::move(name));
  }
  // A number without an owner that is the beginning of another deleted or
  // live number is a copy whose end a newer cell overwrote: it is not listed.
  std::set<std::string> numbers(entry.labels.begin(), entry.labels.end());
  numbers.insert(liveValues.begin(), liveValues.end());
  ContactRecord kept;
  kept.name = entry.name;
  for (size_t i = 0; i < entry.labels.size(); ++i) {
    const std::string& number = entry.labels[i];
    if (entry.values[i].empty()) {
      auto next = numbers.upper_bound(number);
      if (next != numbers.end() && next->compare(0, number.size(), number) == 0) continue;
    }
    kept.labels.push_back(number);
    kept.values.push_back(entry.values[i]);
  }
  return kept;
}

int ContactLoader(const SqliteFile& db, ContactMap& contacts) {
  const TableInfo* multiValues = FindTable(db, "ABMultiValue");
  if (!multiValues || !FindTable(db, "ABPerson")) return -2;

  // Stage 1: every row the address book still holds or has left behind.
  RowList multiLive, multiDeleted;
  int result = -1;
  if (!multiValues->pageSets.empty()) {
    ReadTableInRowidOrder(db, "ABMultiValue", multiLive, multiDeleted, CarveMultiValuePage);
    result = 0;
  }
  TelephoneNumberCarver(db, multiDeleted);
  RowList personLive, personDeleted;
  ReadTableInRowidOrder(db, "ABPerson", personLive, personDeleted);
  PersonCarver(db, personDeleted);
  PersonCarverOnTablePages(db, personDeleted);
  if (result < 0 || (multiLive.empty() && multiDeleted.empty())) return result;

  // Stage 2: live persons with their multi-values, then the deleted entry.
  RowList labelLive, labelDeleted, entryLive, entryDeleted, entryKeyLive, entryKeyDeleted;
  ReadTableInRowidOrder(db, "ABMultiValueLabel", labelLive, labelDeleted);
  ReadTableInRowidOrder(db, "ABMultiValueEntry", entryLive, entryDeleted);
  ReadTableInRowidOrder(db, "ABMultiValueEntryKey", entryKeyLive, entryKeyDeleted);

  std::multimap<uint32_t, const RowValues*> byPerson;
  for (const RowValues& row : multiLive) byPerson.emplace(Key(At(row, 1)), &row);
  std::multimap<uint32_t, const RowValues*> entriesByParent;
  for (const RowValues& row : entryLive) entriesByParent.emplace(Key(At(row, 0)), &row);

  // Values still held by a live multi-value of a live person are never
  // listed as deleted, whether or not the person's record shows them (a
  // phone without a label is not shown, yet its stale copies are not deleted).
  std::set<std::string> liveValues;
  std::set<uint32_t> livePersons;
  for (const RowValues& person : personLive)
    if (!person.empty()) livePersons.insert(Key(person[0]));
  for (const RowValues& mv : multiLive)
    if (livePersons.count(Key(At(mv, 1))) && !At(mv, 5).empty()) liveValues.insert(At(mv, 5));
  for (const RowValues& person : personLive) {
    if (person.empty()) continue;
    const uint32_t id = Key(person[0]);
    ContactRecord record;
    record.name = PersonName(person);
    record.phonetic = At(person, 6) + " " + At(person, 5) + " " + At(person, 4);
    record.organization = At(person, 7);
    auto range = byPerson.equal_range(id);
    for (auto it = range.first; it != range.second; ++it) {
      const RowValues& mv = *it->second;
      std::string label, value;
      if (At(mv, 2) == kPropertyAddress) {
        // An address shows its first part, labelled with that part's key.
        auto entry = entriesByParent.find(Key(At(mv, 0)));
        if (entry == entriesByParent.end()) continue;
        const RowValues& e = *entry->second;
        label = NthValue(entryKeyLive, TextToInt(At(e, 1)));
        value = At(e, 2);
      } else {
        if (At(mv, 4).empty()) continue;  // no label: not shown
        label = ResolveLabel(NthValue(labelLive, TextToInt(At(mv, 4))));
        value = At(mv, 5);
      }
      record.propertyCodes.push_back(static_cast<int32_t>(TextToInt(At(mv, 2))));
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
    contacts.emplace(0, BuildDeletedContacts(multiDeleted, owners, liveValues));
  }
  return result;
}

}  // namespace vantrel
