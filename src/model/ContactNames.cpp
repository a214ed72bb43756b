#include "model/ContactNames.h"

#include <algorithm>
#include <cctype>

namespace vantrel {
namespace {

// Eight digits: a mainland landline without its area code. A seven-digit
// local number is not matched against a full one: its area code is unknown.
constexpr size_t kMinMatchDigits = 8;

constexpr size_t kMaxCountryCodeDigits = 3;

struct AddressKey {
  std::string digits;
  bool international = false;
  bool email = false;
};

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Full-width digits (U+FF10..U+FF19) count as digits: some address books hold
// numbers typed with a Chinese input method.
AddressKey KeyOf(std::string_view address) {
  AddressKey key;
  address = Trim(address);
  if (address.find('@') != std::string_view::npos) {
    key.email = true;
    key.digits.reserve(address.size());
    for (char c : address) key.digits.push_back(AsciiLower(c));
    return key;
  }
  bool seenDigit = false;
  for (size_t i = 0; i < address.size(); ++i) {
    const auto c = static_cast<unsigned char>(address[i]);
    char digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<char>(c);
    } else if (c == 0xEF && i + 2 < address.size() &&
               static_cast<unsigned char>(address[i + 1]) == 0xBC) {
      const auto low = static_cast<unsigned char>(address[i + 2]);
      if (low >= 0x90 && low <= 0x99) digit = static_cast<char>('0' + (low - 0x90));
      if (digit != 0) i += 2;
      if (low == 0x8B && !seenDigit) key.international = true;  // full-width plus
    } else if (c == '+' && !seenDigit) {
      key.international = true;
    } else if (std::isalpha(c)) {
      // Letters make it no telephone number ("chat1234", a sender name):
      // only the same text matches.
      key.email = true;
      key.digits.assign(address);
      for (char& ch : key.digits) ch = AsciiLower(ch);
      return key;
    }
    if (digit == 0) continue;
    seenDigit = true;
    key.digits.push_back(digit);
  }
  if (!key.international && key.digits.size() > 2 && key.digits.compare(0, 2, "00") == 0) {
    key.international = true;
    key.digits.erase(0, 2);
  }
  // Trunk zeros: 010-8888 8888 and +86 10 8888 8888 are one number. A short
  // number keeps its zeros: 0110 is not the police.
  const size_t zeros = key.digits.find_first_not_of('0');
  if (zeros != std::string::npos && key.digits.size() - zeros >= kMinMatchDigits)
    key.digits.erase(0, zeros);
  return key;
}

std::string TailOf(const AddressKey& key) {
  if (key.email || key.digits.size() < kMinMatchDigits) return (key.email ? "@" : "#") + key.digits;
  return key.digits.substr(key.digits.size() - kMinMatchDigits);
}

bool Matches(const std::string& a, bool aInternational, const std::string& b, bool bInternational) {
  if (a == b) return true;
  const bool aLonger = a.size() > b.size();
  const std::string& longer = aLonger ? a : b;
  const std::string& shorter = aLonger ? b : a;
  const bool longerInternational = aLonger ? aInternational : bInternational;
  if (shorter.size() < kMinMatchDigits) return false;
  const size_t extra = longer.size() - shorter.size();
  if (extra > kMaxCountryCodeDigits) return false;
  if (longer.compare(extra, shorter.size(), shorter) != 0) return false;
  return longerInternational || longer.compare(0, extra, "86") == 0;
}

bool MatchesKeys(const AddressKey& a, const AddressKey& b) {
  if (a.email || b.email) return a.email == b.email && a.digits == b.digits;
  if (a.digits.empty() || b.digits.empty()) return false;
  return Matches(a.digits, a.international, b.digits, b.international);
}

}  // namespace

bool SameAddress(std::string_view a, std::string_view b) {
  return MatchesKeys(KeyOf(a), KeyOf(b));
}

ContactNames::ContactNames(const Collections& data) {
  constexpr int32_t kPhone = 3;
  constexpr int32_t kEmail = 4;
  for (const auto& [rowid, contact] : data.contacts) {
    const size_t n = std::min(contact.propertyCodes.size(), contact.values.size());
    // The loader shows a person saved without a name by its first value; that
    // is no name to put beside the number.
    const bool named =
        !contact.name.empty() && std::find(contact.values.begin(), contact.values.begin() + n,
                                           contact.name) == contact.values.begin() + n;
    const std::string& name = named ? contact.name : contact.organization;
    for (size_t i = 0; i < n; ++i) {
      if (contact.propertyCodes[i] == kPhone || contact.propertyCodes[i] == kEmail)
        Add(contact.values[i], name);
    }
  }
  if (data.deletedContacts) {
    for (const DeletedContact& contact : *data.deletedContacts) Add(contact.number, contact.owner);
  }
}

void ContactNames::Add(std::string_view address, std::string_view name) {
  if (name.empty()) return;
  AddressKey key = KeyOf(address);
  if (key.digits.empty()) return;
  const std::string tail = TailOf(key);
  std::vector<size_t>& list = byTail_[tail];
  for (size_t index : list) {
    const Entry& known = entries_[index];
    if (known.digits == key.digits && known.name == name) return;
  }
  list.push_back(entries_.size());
  entries_.push_back({std::move(key.digits), key.international, std::string(name)});
}

std::vector<std::string> ContactNames::NamesOf(std::string_view address) const {
  std::vector<std::string> names;
  const AddressKey key = KeyOf(address);
  if (key.digits.empty()) return names;
  auto found = byTail_.find(TailOf(key));
  if (found == byTail_.end()) return names;
  std::vector<size_t> hits;
  for (size_t index : found->second) {
    const Entry& entry = entries_[index];
    AddressKey other{entry.digits, entry.international, key.email};
    if (MatchesKeys(key, other)) hits.push_back(index);
  }
  std::sort(hits.begin(), hits.end());  // the order added
  for (size_t index : hits) {
    const std::string& name = entries_[index].name;
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

std::string ContactNames::NameOf(std::string_view address) const {
  std::string joined;
  for (const std::string& name : NamesOf(address)) {
    if (!joined.empty()) joined += kNameSeparator;
    joined += name;
  }
  return joined;
}

}  // namespace vantrel
