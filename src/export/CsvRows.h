// The lines of the CSV files, as UTF-8 text (the file converts them to UTF-16LE
// after the FF FE mark). Fields holding a comma, a double quote, CR or LF are
// quoted as RFC 4180 does, so every row reads back into the record it came from.
// Every line ends in CR LF.
#pragma once

#include <string>
#include <string_view>

#include "sources/Collections.h"

namespace vantrel {

inline constexpr char kMessagesCsvHeader[] = "PhoneNumber,DateCreated,Content,Type,State\r\n";
inline constexpr char kDeletedContactsCsvHeader[] = "Phone,name\r\n";
inline constexpr char kCallsCsvHeader[] = "PhoneNumber,DateCreated,HoldingTime,CallType\r\n";
inline constexpr char kMessageTracesCsvHeader[] =
    "Guid,Rowid,Content,File,Page,Offset,Place,Frame\r\n";

// Number of columns of the live-contacts header and rows.
inline constexpr int kContactCsvColumns = 118;
// Column of "Phone 1 - Type" (counted from 0) and the number of phone pairs.
inline constexpr int kContactCsvFirstPhoneColumn = 39;
inline constexpr int kContactCsvPhonePairs = 10;

// A field as written: quoted, with its quotes doubled, when it holds ',', '"', CR or LF.
std::string CsvField(std::string_view text);

// address, date, text, "send"/"recv", "read"/"unread".
std::string MessageCsvRow(const std::string& address, const MessageRecord& message);

// The carved value and its owner's name: "label,value".
std::string DeletedContactCsvRow(const std::string& label, const std::string& value);

// The 118 column names of the live-contacts file ("Name,Given Name,...").
std::string ContactsCsvHeader();

// One live contact: the name under Name and Family Name, its phone numbers as
// label/value pairs under Phone 1..10 (labels in byte order; numbers sharing a
// label joined by " ::: "), the other columns empty. A contact with more than
// ten phone labels keeps them all, so its row runs longer than the header.
std::string ContactCsvRow(const ContactRecord& contact);

// number, date, duration, "callout"/"callin".
std::string CallCsvRow(const std::string& number, const CallRecord& call);

// One deleted message of which only its GUID index entry is left: GUID,
// rowid (empty when unknown), "content lost", then where the entry lies.
std::string MessageTraceCsvRow(const MessageTrace& trace);

}  // namespace vantrel
