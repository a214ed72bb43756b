#include "sources/contacts/ContactLoader.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <map>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "carve/RowReader.h"
#include "sources/Loaders.h"
#include "sources/contacts/ContactCarvers.h"
#include "sources/contacts/PhoneNumber.h"
#include "sqlite/BTree.h"
#include "sqlite/ColumnNames.h"
#include "sqlite/ColumnRules.h"
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
// The live rows of a page set (values of columns wanted does not flag left
// "", every column rendered when it is empty), then carve's rows.
void ReadRows(const SqliteFile& db, const PageSet& pageSet, const std::vector<ColumnDef>& columns,
              const std::vector<bool>& wanted, RowList& live, RowList& carved,
              const CarveStep& carve, FoundList* found) {
  RowValues row;
  VisitLeafPages(db, pageSet, [&](const LeafPage& page) {
    VisitLiveCells(db, page, columns, wanted, row,
                   [&](const RowValues& values, uint64_t) { live.push_back(values); });
    if (carve) carve(db, page, columns, carved, found);
  });
}

// The columns at positions, as ReadRows wants them; positions past the
// table's columns are none of its.
std::vector<bool> Wanted(const TableInfo* table, std::initializer_list<size_t> positions) {
  std::vector<bool> wanted(table ? table->columns.size() : 0, false);
  for (size_t at : positions)
    if (at < wanted.size()) wanted[at] = true;
  return wanted;
}

// wanted: the columns whose live values are read (ReadRows); every one when
// empty.
void ReadTableInRowidOrder(const SqliteFile& db, const std::string& name, RowList& live,
                           RowList& carved, const CarveStep& carve = TemplateCarvePage,
                           FoundList* found = nullptr, const std::vector<bool>& wanted = {}) {
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
    ReadRows(db, ordered, table->columns, wanted, live, carved, carve, found);
    PageSet emptied;
    emptied.leafPages = pageSet.emptyLeafPages;
    ReadRows(db, emptied, table->columns, wanted, live, carved, carve, found);
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

namespace {

// A person's rowid -> its row; the first row of a rowid wins. The name is
// joined only for the owners looked up.
using PersonsByRowid = std::unordered_map<std::string_view, const RowValues*>;

PersonsByRowid IndexPersonsByRowid(const std::vector<const RowValues*>& persons) {
  PersonsByRowid names;
  names.reserve(persons.size());
  for (const RowValues* person : persons) {
    if (At(*person, pc::kRowid).empty()) continue;
    names.emplace((*person)[pc::kRowid], person);
  }
  return names;
}

// The name of the person whose rowid text is owner; "" when none is known.
std::string OwnerName(const PersonsByRowid& names, const std::string& owner) {
  if (owner.empty()) return {};
  auto found = names.find(owner);
  return found != names.end() ? PersonName(*found->second) : std::string();
}

void SetOwnerRowid(DeletedContact& line, int64_t ownerRowid) {
  if (ownerRowid > 0 && ownerRowid <= UINT32_MAX)
    line.ownerRowid = static_cast<uint32_t>(ownerRowid);
}

// Whether one of the earlier lines of a number (same) already lists this
// copy: it names the same owner, or this copy names none. An earlier line
// that had lost its owner takes this copy's owner and place instead.
bool JoinEarlierLine(DeletedContactList& listed, const std::vector<size_t>& same,
                     const std::string& name, const std::optional<FoundAt>& where,
                     int64_t ownerRowid) {
  for (size_t at : same) {
    DeletedContact& earlier = listed[at];
    if (earlier.owner == name || name.empty()) return true;
    if (earlier.owner.empty()) {
      earlier.owner = name;   // the earlier copy had lost its owner
      earlier.found = where;  // the copy that gave the name is the one shown
      SetOwnerRowid(earlier, ownerRowid);
      return true;
    }
  }
  return false;
}

// One line per deleted number and owner, in the order the copies come; a
// value still live is none.
template <typename Values>
DeletedContactList ListDeletedNumbers(const RowList& deletedMultiValues,
                                      const PersonsByRowid& names, const Values& liveValues,
                                      const std::vector<FoundAt>* found) {
  DeletedContactList listed;
  // Number -> positions of its lines, to list each deleted record once.
  std::unordered_map<std::string, std::vector<size_t>> lines;
  for (size_t r = 0; r < deletedMultiValues.size(); ++r) {
    const RowValues& row = deletedMultiValues[r];
    std::optional<FoundAt> where;
    if (found && r < found->size()) where = (*found)[r];
    const std::string& number = At(row, mvc::kValue);
    if (number.empty() || liveValues.count(number)) continue;
    const std::string& owner = At(row, mvc::kRecordId);
    const int64_t ownerRowid = TextToInt(owner);
    std::string name = OwnerName(names, owner);
    std::vector<size_t>& same = lines[number];
    if (JoinEarlierLine(listed, same, name, where, ownerRowid)) continue;
    same.push_back(listed.size());
    DeletedContact line;
    line.number = number;
    line.owner = std::move(name);
    line.found = std::move(where);
    SetOwnerRowid(line, ownerRowid);
    listed.push_back(std::move(line));
  }
  return listed;
}

// Whether contact, a number without an owner, begins another deleted number
// read from the very same bytes (same file, page, frame and offset): then it
// is that record cut short by a newer cell. A number that merely begins
// another one elsewhere, or a live one, is a record of its own.
bool IsCutCopy(const DeletedContact& contact,
               const std::multimap<std::string, const DeletedContact*>& byNumber) {
  if (!contact.owner.empty() || !contact.found) return false;
  for (auto next = byNumber.upper_bound(contact.number);
       next != byNumber.end() && next->first.compare(0, contact.number.size(), contact.number) == 0;
       ++next) {
    const std::optional<FoundAt>& other = next->second->found;
    if (other && other->file == contact.found->file && other->page == contact.found->page &&
        other->frame == contact.found->frame && other->offset == contact.found->offset)
      return true;
  }
  return false;
}

// The lines without the cut copies (IsCutCopy).
DeletedContactList DropCutCopies(DeletedContactList listed) {
  std::multimap<std::string, const DeletedContact*> byNumber;
  for (const DeletedContact& contact : listed) byNumber.emplace(contact.number, &contact);
  std::vector<bool> cut(listed.size(), false);
  for (size_t k = 0; k < listed.size(); ++k) cut[k] = IsCutCopy(listed[k], byNumber);
  DeletedContactList kept;
  for (size_t k = 0; k < listed.size(); ++k)
    if (!cut[k]) kept.push_back(std::move(listed[k]));
  return kept;
}

// BuildDeletedContacts over persons given by pointer: the loader names owners
// from several lists without copying their rows into one. Any set of strings
// with count() serves as liveValues (the loader's is a hash set).
template <typename Values>
DeletedContactList BuildDeletedContactsOf(const RowList& deletedMultiValues,
                                          const std::vector<const RowValues*>& persons,
                                          const Values& liveValues,
                                          const std::vector<FoundAt>* found) {
  const PersonsByRowid names = IndexPersonsByRowid(persons);
  return DropCutCopies(ListDeletedNumbers(deletedMultiValues, names, liveValues, found));
}

}  // namespace

DeletedContactList BuildDeletedContacts(const RowList& deletedMultiValues, const RowList& persons,
                                        const std::set<std::string>& liveValues,
                                        const std::vector<FoundAt>* found) {
  std::vector<const RowValues*> rows;
  rows.reserve(persons.size());
  for (const RowValues& person : persons) rows.push_back(&person);
  return BuildDeletedContactsOf(deletedMultiValues, rows, liveValues, found);
}

std::vector<DeletedPerson> ChooseDeletedPersons(const RowList& carved, const FoundList& found,
                                                const std::set<uint32_t>& livePersons,
                                                const std::set<int64_t>& liveCreationDates,
                                                size_t creationDateColumn) {
  // Values 1 to 7 are what a person line shows; the more of the record is
  // there, the better the copy.
  const auto filled = [](const RowValues& row) {
    size_t count = 0;
    for (const std::string& value : row) count += !value.empty();
    return count;
  };
  const auto shows = [](const RowValues& row) {
    for (size_t k = pc::kFirst; k <= pc::kOrganization; ++k)
      if (!At(row, k).empty()) return true;
    return false;
  };
  // A person is one rowid; a copy whose rowid was lost is told apart by its
  // creation date and names, which an edit of the card keeps or changes
  // together with the record.
  const auto identity = [&](const RowValues& row) {
    std::string key = At(row, creationDateColumn);
    for (size_t k = pc::kFirst; k <= pc::kOrganization; ++k) key += '\x1F' + At(row, k);
    return key;
  };
  std::vector<DeletedPerson> chosen;
  std::map<uint32_t, size_t> byRowid;
  std::map<std::string, size_t> byIdentity;  // of the chosen, rowid known or not
  const auto consider = [&](size_t k, bool withRowid) {
    const RowValues& row = carved[k];
    const int64_t rowid = TextToInt(At(row, pc::kRowid));
    if (withRowid != (rowid > 0) || rowid > UINT32_MAX || !shows(row)) return;
    // A copy of a live person (an older version its edits left behind) is
    // no deleted person, whether or not its rowid survived.
    if (livePersons.count(static_cast<uint32_t>(rowid))) return;
    const int64_t created = TextToInt(At(row, creationDateColumn));
    if (created != 0 && liveCreationDates.count(created)) return;
    DeletedPerson copy{row, k < found.size() ? std::optional<FoundAt>(found[k]) : std::nullopt};
    const std::string key = identity(row);
    size_t* slot = nullptr;
    if (withRowid) {
      auto [at, added] = byRowid.emplace(static_cast<uint32_t>(rowid), chosen.size());
      if (!added) slot = &at->second;
    } else {
      auto at = byIdentity.find(key);
      if (at != byIdentity.end()) slot = &at->second;
    }
    if (slot == nullptr) {
      byIdentity.emplace(key, chosen.size());
      chosen.push_back(std::move(copy));
    } else if (filled(row) > filled(chosen[*slot].row)) {
      // The more complete copy wins; a rowid once known is kept.
      const std::string rowidText = chosen[*slot].row.at(pc::kRowid);
      byIdentity.emplace(key, *slot);
      chosen[*slot] = std::move(copy);
      if (!rowidText.empty()) chosen[*slot].row.at(pc::kRowid) = rowidText;
    }
  };
  // Copies with a rowid first, so a copy without one joins the person it is.
  for (size_t k = 0; k < carved.size(); ++k) consider(k, true);
  for (size_t k = 0; k < carved.size(); ++k) consider(k, false);
  return chosen;
}

void AddDeletedPersons(const std::vector<DeletedPerson>& persons, DeletedContactList& listed) {
  // Lines of their own are appended only after the loop: appending while it
  // runs could move the lines the pointers below name.
  DeletedContactList own;
  std::multimap<uint32_t, DeletedContact*> lines;
  for (DeletedContact& line : listed)
    if (line.ownerRowid != 0) lines.emplace(line.ownerRowid, &line);
  for (const DeletedPerson& person : persons) {
    const int64_t rowid = TextToInt(At(person.row, pc::kRowid));
    const std::string& organization = At(person.row, pc::kOrganization);
    bool hasLines = false;
    if (rowid > 0) {
      auto range = lines.equal_range(static_cast<uint32_t>(rowid));
      for (auto it = range.first; it != range.second; ++it) {
        hasLines = true;
        it->second->organization = organization;
      }
    }
    if (hasLines) continue;
    std::string name = PersonName(person.row);
    DeletedContact line;
    line.owner = name.empty() ? organization : std::move(name);
    line.found = person.found;
    line.organization = organization;
    if (rowid > 0) line.ownerRowid = static_cast<uint32_t>(rowid);
    own.push_back(std::move(line));
  }
  listed.insert(listed.end(), std::make_move_iterator(own.begin()),
                std::make_move_iterator(own.end()));
}

namespace {

// The columns of ABPerson and ABMultiValue the records are built from.
struct AddressBookColumns {
  PersonColumns p;
  MultiValueColumns m;
  size_t creationDate;
  AddressBookColumns(const TableInfo* persons, const TableInfo* multiValues)
      : p(persons),
        m(multiValues),
        creationDate(Named(persons, "CreationDate", pc::kCreationDate)) {}
};

// Every row the address book still holds or has left behind.
struct AddressBookRows {
  RowList multiLive, multiDeleted;
  std::vector<FoundAt> multiFound;  // where each of multiDeleted lay
  RowList personLive, personDeleted, personCarved;
  FoundList personFound;  // where each of personCarved lay
};

// ABMultiValue's live rows and what its own pages keep of deleted ones:
// Loaded, or NoPages when the table has no pages. Of the live rows only the
// columns the records use are read: the others (guids, sort keys, dates of
// change) name nothing the records show.
LoaderStatus ReadMultiValueRows(const SqliteFile& db, const TableInfo* multiValues,
                                const MultiValueColumns& m, AddressBookRows& rows) {
  if (multiValues->pageSets.empty()) return LoaderStatus::NoPages;
  ReadTableInRowidOrder(db, "ABMultiValue", rows.multiLive, rows.multiDeleted, CarveMultiValuePage,
                        &rows.multiFound,
                        Wanted(multiValues, {m.uid, m.recordId, m.property, m.label, m.value}));
  return LoaderStatus::Loaded;
}

// ABPerson's live rows, and the rows its free space keeps.
void ReadPersonRows(const SqliteFile& db, const TableInfo* persons, const AddressBookColumns& c,
                    AddressBookRows& rows) {
  // The table's free space is carved only to name owners, and a row carved
  // there names one only by its value 0: a rowid alias reads there as NULL,
  // "" (RenderValue gives a carved NULL no rowid), which names nobody. With
  // such a first column (as the address book has) nothing is carved.
  const bool rowidAliasFirst =
      persons && !persons->columns.empty() && IsRowidAlias(persons->columns[0]);
  const PersonColumns& p = c.p;
  // pc's first eight positions: deleted numbers' owners are named by them.
  ReadTableInRowidOrder(
      db, "ABPerson", rows.personLive, rows.personDeleted,
      rowidAliasFirst ? CarveStep() : CarveStep(TemplateCarvePage), nullptr,
      Wanted(persons,
             {p.rowid, p.first, p.last, p.middle, p.firstPhonetic, p.middlePhonetic, p.lastPhonetic,
              p.organization, c.creationDate, pc::kRowid, pc::kFirst, pc::kLast, pc::kMiddle,
              pc::kFirstPhonetic, pc::kMiddlePhonetic, pc::kLastPhonetic, pc::kOrganization}));
}

// The live persons, and the values still held by a live multi-value of a
// live person: those are never listed as deleted, whether or not the
// person's record shows them (a phone without a label is not shown, yet its
// stale copies are not deleted). Known before the carving, they spare the
// phone carver looking for where such numbers lay.
struct LiveOwners {
  std::set<uint32_t> persons;
  std::unordered_set<std::string> values;
};

LiveOwners LiveOwnersOf(const AddressBookRows& rows, const AddressBookColumns& c) {
  LiveOwners live;
  for (const RowValues& person : rows.personLive)
    if (!person.empty()) live.persons.insert(Key(At(person, c.p.rowid)));
  for (const RowValues& mv : rows.multiLive) {
    const std::string& value = At(mv, c.m.value);
    if (live.persons.count(Key(At(mv, c.m.recordId))) && !value.empty()) live.values.insert(value);
  }
  return live;
}

// The rowids of the persons the live read gave (by the same rowid text): the
// table's live records come along with its freed ones when its pages are
// carved, and would only be dropped again later, as live persons and as
// owners named first by the live rows.
std::unordered_set<uint64_t> PersonsReadLive(const RowList& personLive,
                                             const std::set<uint32_t>& livePersons) {
  std::unordered_set<uint64_t> readLive;
  for (const RowValues& person : personLive) {
    const std::string& text = At(person, pc::kRowid);
    const int64_t rowid = TextToInt(text);
    if (rowid > 0 && std::to_string(rowid) == text &&
        (rowid > UINT32_MAX || livePersons.count(static_cast<uint32_t>(rowid))))
      readLive.insert(static_cast<uint64_t>(rowid));
  }
  return readLive;
}

// The deleted numbers, e-mail addresses and persons the carvers find
// wherever the file keeps them.
void CarveDeletedRows(const SqliteFile& db, const LiveOwners& live, AddressBookRows& rows) {
  TelephoneNumberCarver(db, rows.multiDeleted, &rows.multiFound, &live.values);
  EmailCarver(db, rows.multiDeleted, &rows.multiFound);
  PersonCarver(db, rows.personCarved, &rows.personFound);
  const std::unordered_set<uint64_t> readLive = PersonsReadLive(rows.personLive, live.persons);
  PersonCarverOnTablePages(db, rows.personCarved, &rows.personFound, &readLive);
}

// The tables that name a multi-value's label and an address's parts. Only
// their live rows name anything: their free space is not carved.
struct NameTables {
  EntryColumns e;
  size_t labelValue, keyValue;
  RowList labelLive, entryLive, entryKeyLive;
  std::multimap<uint32_t, const RowValues*> entriesByParent;  // into entryLive

  explicit NameTables(const SqliteFile& db)
      : e(FindTable(db, "ABMultiValueEntry")),
        labelValue(Named(FindTable(db, "ABMultiValueLabel"), "value", kNameTableValueColumn)),
        keyValue(Named(FindTable(db, "ABMultiValueEntryKey"), "value", kNameTableValueColumn)) {
    RowList none;
    ReadTableInRowidOrder(db, "ABMultiValueLabel", labelLive, none, CarveStep());
    ReadTableInRowidOrder(db, "ABMultiValueEntry", entryLive, none, CarveStep());
    ReadTableInRowidOrder(db, "ABMultiValueEntryKey", entryKeyLive, none, CarveStep());
    for (const RowValues& row : entryLive) entriesByParent.emplace(Key(At(row, e.parentId)), &row);
  }
  NameTables(const NameTables&) = delete;
  NameTables& operator=(const NameTables&) = delete;
};

// The label and value a live multi-value shows: an address its first part,
// labelled with that part's key; anything else its value, by its label.
// False when it shows nothing (an address without parts, a value without a
// label).
bool ShownValue(const RowValues& mv, const MultiValueColumns& m, const NameTables& names,
                std::string& label, std::string& value) {
  if (At(mv, m.property) == kPropertyAddress) {
    auto entry = names.entriesByParent.find(Key(At(mv, m.uid)));
    if (entry == names.entriesByParent.end()) return false;
    const RowValues& part = *entry->second;
    label = NthValue(names.entryKeyLive, TextToInt(At(part, names.e.key)), names.keyValue);
    value = At(part, names.e.value);
    return true;
  }
  if (At(mv, m.label).empty()) return false;
  label = ResolveLabel(NthValue(names.labelLive, TextToInt(At(mv, m.label)), names.labelValue));
  value = At(mv, m.value);
  return true;
}

// Files each live person into contacts with the multi-values it shows; every
// value shown joins liveValues.
void FileLivePersons(const AddressBookRows& rows, const AddressBookColumns& c,
                     const NameTables& names, ContactMap& contacts,
                     std::unordered_set<std::string>& liveValues) {
  const PersonColumns& p = c.p;
  std::multimap<uint32_t, const RowValues*> byPerson;
  for (const RowValues& row : rows.multiLive) byPerson.emplace(Key(At(row, c.m.recordId)), &row);
  for (const RowValues& person : rows.personLive) {
    if (person.empty()) continue;
    const uint32_t id = Key(At(person, p.rowid));
    ContactRecord record;
    record.name = At(person, p.last) + At(person, p.middle) + At(person, p.first);
    record.phonetic = At(person, p.lastPhonetic) + " " + At(person, p.middlePhonetic) + " " +
                      At(person, p.firstPhonetic);
    record.organization = At(person, p.organization);
    auto range = byPerson.equal_range(id);
    for (auto it = range.first; it != range.second; ++it) {
      const RowValues& mv = *it->second;
      std::string label, value;
      if (!ShownValue(mv, c.m, names, label, value)) continue;
      record.propertyCodes.push_back(static_cast<int32_t>(TextToInt(At(mv, c.m.property))));
      record.labels.push_back(label);
      if (record.name.empty()) record.name = value;
      liveValues.insert(value);
      record.values.push_back(std::move(value));
    }
    contacts.emplace(id, std::move(record));
  }
}

// The deleted persons, each by its most complete copy, and the deleted
// values with their owners; deleted stays empty when there are none.
void ListDeleted(const AddressBookRows& rows, const LiveOwners& live, size_t creationDate,
                 std::optional<DeletedContactList>& deleted) {
  std::set<int64_t> liveCreationDates;
  for (const RowValues& person : rows.personLive) {
    const int64_t created = TextToInt(At(person, creationDate));
    if (created != 0) liveCreationDates.insert(created);
  }
  const std::vector<DeletedPerson> deletedPersons = ChooseDeletedPersons(
      rows.personCarved, rows.personFound, live.persons, liveCreationDates, creationDate);
  if (rows.multiDeleted.empty() && deletedPersons.empty()) return;
  // A deleted number's owner may be a live person (only the number was
  // deleted) or a deleted one; ABPerson rowids are never reused. A deleted
  // person is named by its chosen copy.
  std::vector<const RowValues*> owners;
  owners.reserve(rows.personLive.size() + deletedPersons.size() + rows.personCarved.size() +
                 rows.personDeleted.size());
  for (const RowValues& person : rows.personLive) owners.push_back(&person);
  for (const DeletedPerson& person : deletedPersons) owners.push_back(&person.row);
  for (const RowValues& person : rows.personCarved) owners.push_back(&person);
  for (const RowValues& person : rows.personDeleted) owners.push_back(&person);
  deleted = BuildDeletedContactsOf(rows.multiDeleted, owners, live.values, &rows.multiFound);
  AddDeletedPersons(deletedPersons, *deleted);
}

}  // namespace

LoaderStatus ContactLoader(const SqliteFile& db, ContactMap& contacts,
                           std::optional<DeletedContactList>& deleted) {
  const TableInfo* multiValues = FindTable(db, "ABMultiValue");
  const TableInfo* persons = FindTable(db, "ABPerson");
  if (!multiValues || !persons) return LoaderStatus::TableAbsent;

  // Stage 1: every row the address book still holds or has left behind.
  const AddressBookColumns columns(persons, multiValues);
  AddressBookRows rows;
  const LoaderStatus result = ReadMultiValueRows(db, multiValues, columns.m, rows);
  ReadPersonRows(db, persons, columns, rows);
  LiveOwners live = LiveOwnersOf(rows, columns);
  CarveDeletedRows(db, live, rows);
  if (result != LoaderStatus::Loaded || (rows.multiLive.empty() && rows.multiDeleted.empty()))
    return result;

  // Stage 2: live persons with their multi-values, then the deleted entry.
  const NameTables names(db);
  FileLivePersons(rows, columns, names, contacts, live.values);
  ListDeleted(rows, live, columns.creationDate, deleted);
  return result;
}

}  // namespace vantrel
