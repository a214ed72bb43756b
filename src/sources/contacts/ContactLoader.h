// The pieces of the address-book loader (ContactLoader, Loaders.h) worth
// reaching on their own: the column positions it reads, how a stored
// multi-value label is shown, and how the deleted contacts are built from
// carved rows.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "carve/RowReader.h"
#include "sources/contacts/ContactRecord.h"

namespace vantrel {

// Address-book column positions of iOS 6 and iOS 7. ABPerson only grows by
// appended columns in later versions, but the live rows are read by the
// names these positions carry (ContactLoader.cpp), as every loader does.
namespace person_column {  // ABPerson
inline constexpr size_t kRowid = 0;
inline constexpr size_t kFirst = 1;
inline constexpr size_t kLast = 2;
inline constexpr size_t kMiddle = 3;
inline constexpr size_t kFirstPhonetic = 4;
inline constexpr size_t kMiddlePhonetic = 5;
inline constexpr size_t kLastPhonetic = 6;
inline constexpr size_t kOrganization = 7;
inline constexpr size_t kCreationDate = 18;
}  // namespace person_column
namespace multi_value_column {  // ABMultiValue
inline constexpr size_t kUid = 0;
inline constexpr size_t kRecordId = 1;  // the person's rowid
inline constexpr size_t kProperty = 2;  // 3 phone, 4 e-mail, 5 address
inline constexpr size_t kIdentifier = 3;
inline constexpr size_t kLabel = 4;  // rowid of an ABMultiValueLabel row
inline constexpr size_t kValue = 5;
inline constexpr size_t kGuid = 6;  // iOS 7
}  // namespace multi_value_column
namespace multi_value_entry_column {    // ABMultiValueEntry: one part of an address
inline constexpr size_t kParentId = 0;  // the multi-value's UID
inline constexpr size_t kKey = 1;       // rowid of an ABMultiValueEntryKey row
inline constexpr size_t kValue = 2;
}  // namespace multi_value_entry_column
// ABMultiValueLabel and ABMultiValueEntryKey: the text is the only column.
inline constexpr size_t kNameTableValueColumn = 0;

// The label as shown: a system label stored as a word wrapped in punctuation
// and angle brackets ("_$!<Mobile>!$_") shows the word; a label without a "<"
// after its first character, or without a ">" after that, shows whole.
std::string ResolveLabel(const std::string& stored);

// The deleted contacts: for each carved multi-value row (kValue the number,
// kRecordId the owning person's rowid), the number, the name (Last, Middle,
// First joined) of the first of persons with that rowid, or "", and that
// rowid. A row is left out when its value is empty or a value of a live
// contact, and when the same number was already listed with the same owner's
// name or with a name where this one has none; a number first listed without
// a name takes the name of a later copy. A number without a name that is the
// beginning of another listed number found at the very same place (file,
// page, frame, offset) is that record read cut short and is left out.
// found, when given, holds where each deleted multi-value lay: a listed
// number takes the place of the copy it was listed from.
DeletedContactList BuildDeletedContacts(const RowList& deletedMultiValues, const RowList& persons,
                                        const std::set<std::string>& liveValues,
                                        const std::vector<FoundAt>* found = nullptr);

// A deleted person: the copy of its ABPerson record chosen to show, and where
// that copy lay.
struct DeletedPerson {
  RowValues row;  // value 0 the rowid, "" when no copy kept it
  std::optional<FoundAt> found;
};

// The deleted persons among carved ABPerson records (found: where each lay,
// in the same order): records of a rowid no live person has, whose names or
// organisation hold something, and whose creation date (at
// creationDateColumn) no live person shares: an edit leaves the older copy
// of a live card behind, rowid or not. Each person once: copies of one rowid
// are one person, as is a copy without a rowid whose creation date, names
// and organisation equal another's; the copy with the most values wins (a
// rowid known from any copy stays).
std::vector<DeletedPerson> ChooseDeletedPersons(const RowList& carved, const FoundList& found,
                                                const std::set<uint32_t>& livePersons,
                                                const std::set<int64_t>& liveCreationDates,
                                                size_t creationDateColumn);

// Adds the deleted persons to the deleted contacts: a person whose values are
// listed gives its organisation to their lines; any other gets a line of its
// own with an empty value, its name as owner (its organisation when it has no
// name), its organisation, rowid and place.
void AddDeletedPersons(const std::vector<DeletedPerson>& persons, DeletedContactList& listed);

}  // namespace vantrel
