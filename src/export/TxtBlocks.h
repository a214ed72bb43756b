// The blocks and lines of the TXT files, as UTF-8 text (the file converts them
// to the chosen code page). Nothing is escaped; every line ends in CR LF.
#pragma once

#include <string>

#include "sources/Collections.h"

namespace vantrel {

inline constexpr char kDeletedContactsTxtHeader[] = "Phone,name\r\n";

// "类型:发送|接收", "号码:<address>;", "时间:<date>", "短信内容:<text>", then an empty line.
std::string MessageTxtBlock(const std::string& address, const MessageRecord& message);

// "BEGIN:<name>", one "label:value" line per multi-value in list order, "END", an empty line.
std::string ContactTxtBlock(const ContactRecord& contact);

// "label,value" of one carved deleted contact.
std::string DeletedContactTxtLine(const std::string& label, const std::string& value);

// The fixed heading of a call list (300 bytes in GBK): title, a rule of 102
// hyphens, the column names, another rule.
std::string CallListTxtHeading();

// The number right-aligned to 19 columns: (19 - width) spaces before it when its
// width is at most 18, else the number as it is. width is the number's width in
// the file (its byte count in a code page such as GBK).
std::string RightAlignedCallNumber(const std::string& number, size_t width);

// date, the aligned number, "拨打"/"接听", duration, spaced to the heading's columns.
std::string CallTxtLine(const std::string& alignedNumber, const CallRecord& call);

// One deleted message of which only its GUID index entry is left, as a block:
// its GUID and rowid, that its content is lost, where the entry was found.
std::string MessageTraceTxtBlock(const MessageTrace& trace);

}  // namespace vantrel
