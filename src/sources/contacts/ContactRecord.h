// A person of the address book, and a number or person recovered from its free space.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "carve/FoundAt.h"

namespace vantrel {

struct ContactRecord {
  std::string name;
  std::string phonetic;
  std::string organization;
  std::vector<int32_t> propertyCodes;  // 3 phone, 4 e-mail, 5 address, ...
  std::vector<std::string> labels;     // resolved labels, one per value
  std::vector<std::string> values;
};

// Person rowid -> record.
using ContactMap = std::map<uint32_t, ContactRecord>;

// A number (or e-mail address) carved from a deleted multi-value row, with
// the name of the person it belonged to ("" when that person is not known);
// or a deleted person whose record was found without any such value: number
// "", owner the person's name (its organisation when it has no name).
struct DeletedContact {
  std::string number;
  std::string owner;
  std::optional<FoundAt> found;   // the value's record; a person's own for a person line
  std::string organization = {};  // the owner's, when the owner's record was found
  uint32_t ownerRowid = 0;        // the owner's ABPerson rowid; 0 when not known

  bool operator==(const DeletedContact&) const = default;
};
using DeletedContactList = std::vector<DeletedContact>;

}  // namespace vantrel
