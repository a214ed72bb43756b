// The call store of iOS 8 and later (HomeDomain Library/CallHistoryDB/
// CallHistory.storedata), a Core Data database: one ZCALLRECORD row per call.
// Its columns come and go between versions (ZSERVICE_PROVIDER from iOS 10,
// ZDEVICE_ID gone by iOS 17, ZADDRESS a BLOB up to iOS 11 and text later), so
// every column is taken from the catalogue by name. Group-call participants
// live in a join table whose name and columns embed Core Data entity numbers
// (Z_2REMOTEPARTICIPANTHANDLES on iOS 17): it is found by the shape of its
// name, not by a fixed one.
#pragma once

#include <cstdint>
#include <string>

#include "sources/Loaders.h"
#include "sources/calls/CallRecord.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {

// Seconds between 1970-01-01 and 2001-01-01, both UTC.
inline constexpr int64_t kAppleEpochInUnixSeconds = 978307200;

// ZCALLTYPE as stored: 1 cellular, 8 FaceTime video, 16 FaceTime audio; 0
// (third-party calling apps) and anything else is Other.
CallType CallTypeFromStored(int64_t stored);

// A stored ZDATE (REAL seconds since 2001, as rendered text) as whole Unix
// seconds, the fraction dropped toward the earlier second.
int32_t UnixSecondsFromCallStoreDate(const std::string& stored);

// Live calls from ZCALLRECORD under their ZADDRESS (or, when a group call has
// none, its first participant), in Z_PK order; deleted ones carved from the table's leaf
// pages by the row reader's template carving, then those of the older images
// a write-ahead log leaves (ReadOlderImagesOfTable), each listed once where
// its most complete copy lies, and never when a live call has the same
// number, date, duration and direction.
// TableAbsent when the database has no ZCALLRECORD.
LoaderStatus CallStoreLoader(const SqliteFile& db, CallMap& live, CallMap& deleted);

}  // namespace vantrel
