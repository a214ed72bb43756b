// CSV lines; see CsvRows.h.
#include "export/CsvRows.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>
#include <map>

#include "export/CategoryNames.h"
#include "export/TimeText.h"

namespace vantrel {

namespace {

// Whether text holds a comma, a quote or a line break. One pass, sixteen
// bytes at a time: most fields are a few bytes long, and a library search per
// character cost more in calls than in bytes looked at.
bool NeedsQuotes(std::string_view text) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i comma = _mm_set1_epi8(','), quote = _mm_set1_epi8('"');
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, comma), _mm_cmpeq_epi8(v, quote)),
                                      _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
    if (_mm_movemask_epi8(hits) != 0) return true;
  }
#endif
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
  }
  return false;
}

void AppendCsvField(std::string& out, std::string_view text) {
  if (!NeedsQuotes(text)) {
    out.append(text);
    return;
  }
  // Quoted, each quote doubled: the stretches between quotes copied whole.
  out.push_back('"');
  for (size_t from = 0; from < text.size();) {
    const size_t quote = text.find('"', from);
    const size_t end = quote == std::string_view::npos ? text.size() : quote + 1;
    out.append(text.substr(from, end - from));
    if (quote != std::string_view::npos) out.push_back('"');
    from = end;
  }
  out.push_back('"');
}

}  // namespace

std::string CsvField(std::string_view text) {
  std::string out;
  AppendCsvField(out, text);
  return out;
}

std::string MessageCsvRow(const std::string& address, const MessageRecord& message) {
  std::string row;
  row.reserve(address.size() + message.text.size() + 40);
  AppendCsvField(row, address);
  row += ',';
  row += MessageDateText(message.date);
  row += ',';
  AppendCsvField(row, message.text);
  // An unknown direction is an empty field, never a guess.
  row += !message.fromMe ? ",," : *message.fromMe ? ",send," : ",recv,";
  row += message.readDate != 0 ? "read\r\n" : "unread\r\n";
  return row;
}

std::string DeletedContactCsvRow(const std::string& label, const std::string& value) {
  return CsvField(label) + "," + CsvField(value) + "\r\n";
}

std::string ContactsCsvHeader() {
  std::string h =
      "Name,Given Name,Additional Name,Family Name,Yomi Name,Given Name Yomi,"
      "Additional Name Yomi,Family Name Yomi,Name Prefix,Name Suffix,Nickname,Birthday,"
      "Notes,Group Membership";
  auto add = [&h](const std::string& group, int count, std::initializer_list<const char*> parts) {
    for (int i = 1; i <= count; ++i)
      for (const char* part : parts) h += "," + group + " " + std::to_string(i) + " - " + part;
  };
  add("E-mail", 5, {"Type", "Value"});
  add("IM", 5, {"Type", "Service", "Value"});
  add("Phone", 10, {"Type", "Value"});
  add("Address", 5,
      {"Type", "Formatted", "Street", "City", "PO Box", "Region", "Postal Code", "Country"});
  add("Organization", 1, {"Name", "Title", "Department"});
  add("Website", 5, {"Type", "Value"});
  add("Event", 3, {"Type", "Value"});
  h += "\r\n";
  return h;
}

std::string ContactCsvRow(const ContactRecord& contact) {
  const std::string name = CsvField(contact.name);
  std::string row = name + ",,," + name;
  row.append(kContactCsvFirstPhoneColumn - 3, ',');

  // Phone numbers (property 3) by label; a label seen again gathers its numbers.
  std::map<std::string, std::string> phones;
  for (size_t i = 0; i < contact.propertyCodes.size(); ++i) {
    if (contact.propertyCodes[i] != 3) continue;
    const std::string label = i < contact.labels.size() ? contact.labels[i] : std::string();
    const std::string value = i < contact.values.size() ? contact.values[i] : std::string();
    auto [it, inserted] = phones.try_emplace(label, value);
    if (!inserted) it->second += " ::: " + value;
  }
  for (const auto& [label, value] : phones) {
    row += CsvField(label);
    row += ',';
    row += CsvField(value);
    row += ',';
  }
  // Empty pairs up to Phone 10, then the address, organisation, website and
  // event columns, all empty.
  for (int i = static_cast<int>(phones.size()); i < kContactCsvPhonePairs; ++i) row += ",,";
  row.append(kContactCsvColumns - 1 - kContactCsvFirstPhoneColumn - 2 * kContactCsvPhonePairs, ',');
  row += "\r\n";
  return row;
}

std::string CallCsvRow(const std::string& number, const CallRecord& call) {
  std::string row = CsvField(number);
  row += ',';
  row += CallDateText(call.date);
  row += ',';
  row += DurationText(call.duration);
  row += (call.flags & 1) != 0 ? ",callout\r\n" : ",callin\r\n";
  return row;
}

std::string MessageTraceCsvRow(const MessageTrace& trace) {
  return CsvField(trace.guid) + ',' + (trace.rowid != 0 ? std::to_string(trace.rowid) : "") +
         ",content lost," + CsvField(trace.found.file) + ',' + std::to_string(trace.found.page) +
         ',' + std::to_string(trace.found.offset) + ',' + PlaceWord(trace.found.place) + ',' +
         std::to_string(trace.found.frame) + "\r\n";
}

}  // namespace vantrel
