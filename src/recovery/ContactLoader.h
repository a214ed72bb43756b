// The pieces of the address-book loader (ContactLoader, Loaders.h) worth
// reaching on their own: how a stored multi-value label is shown, and how the
// deleted-contacts entry (key 0) is built from carved rows.
//
// Address-book columns read by position:
//   ABPerson        0 ROWID, 1 First, 2 Last, 3 Middle, 4 FirstPhonetic,
//                   5 MiddlePhonetic, 6 LastPhonetic, 7 Organization
//   ABMultiValue    0 UID, 1 record_id (the person), 2 property (3 phone,
//                   4 e-mail, 5 address), 3 identifier, 4 label (rowid of an
//                   ABMultiValueLabel row), 5 value, 6 guid (iOS 7)
//   ABMultiValueEntry      0 parent_id (multi-value UID), 1 key, 2 value
//   ABMultiValueLabel, ABMultiValueEntryKey   0 value
#pragma once

#include <set>
#include <string>

#include "recovery/Records.h"

namespace vantrel {

// The label as shown: a system label stored as a word wrapped in punctuation
// and angle brackets ("_$!<Mobile>!$_") shows the word; a label without a "<"
// after its first character, or without a ">" after that, shows whole.
std::string ResolveLabel(const std::string& stored);

// The deleted-contacts entry: name kDeletedContactsName; for each carved
// multi-value row (value 5 the number, value 1 the owning person's rowid),
// labels gets the number and values the name (Last, Middle, First joined) of
// the first of persons with that rowid in value 0, or "". A row is left out
// when its value is empty or a value of a live contact, and when the same
// number was already listed with the same owner's name or with a name where
// this one has none; a number first listed without a name takes the name of
// a later copy. A number without a name that is the beginning of another
// listed or live number is a damaged copy and is left out.
ContactRecord BuildDeletedContacts(const RowList& deletedMultiValues, const RowList& persons,
                                   const std::set<std::string>& liveValues);

}  // namespace vantrel
