// Who a message or call address belongs to, by the address book: live
// contacts' telephone numbers and e-mail addresses, and the numbers of deleted
// persons whose owner was recovered. The window, the command-line tool and the
// exports show these names beside the numbers.
//
// Numbers are matched by their significant digits, conservatively: a wrong
// name beside a number misleads more than no name. Blanks, dashes, dots and
// brackets do not count; an international prefix ("+", "00") and leading
// trunk zeros are dropped. Two numbers then match when their digits agree, or
// when one is the other with a country code (one to three digits) in front
// and it was written in international form, or with 86 in front; the shorter
// needs eight digits at least. Shorter numbers (10086, 110, local numbers)
// match only digit for digit. E-mail addresses match ignoring ASCII case.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sources/Collections.h"

namespace vantrel {

// What stands between two names of one address ("张伟 / 王芳").
inline constexpr std::string_view kNameSeparator = " / ";

// Whether two addresses name the same party by the rules above.
bool SameAddress(std::string_view a, std::string_view b);

class ContactNames {
 public:
  ContactNames() = default;
  // The telephone numbers (property 3) and e-mail addresses (property 4) of
  // every live contact, in rowid order, then the deleted numbers whose owner
  // is known. A contact without a name is known by its organisation.
  explicit ContactNames(const Collections& data);

  // Adds one address of a contact; an empty name or address is ignored.
  void Add(std::string_view address, std::string_view name);

  // The distinct names of the contacts holding address, in the order added.
  std::vector<std::string> NamesOf(std::string_view address) const;
  // The same joined by kNameSeparator; "" when none.
  std::string NameOf(std::string_view address) const;

  bool empty() const { return entries_.empty(); }

 private:
  struct Entry {
    std::string digits;  // significant digits, or the lower-case e-mail address
    bool international = false;
    std::string name;
  };
  std::vector<Entry> entries_;
  // Last seven digits (or the whole short number, or the e-mail) -> entries.
  std::unordered_map<std::string, std::vector<size_t>> byTail_;
};

}  // namespace vantrel
