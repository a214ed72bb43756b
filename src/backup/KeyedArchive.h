// Keyed archives (NSKeyedArchiver) decoded into PlistValue trees, and the one
// archived record the backup layouts need: MBFile, the `file` column of
// Manifest.db.
//
// An archive is a property list (binary in practice) whose top dictionary is
//
//   $archiver  "NSKeyedArchiver"
//   $version   100000
//   $top       {root: UID}               the archived root object(s)
//   $objects   [ "$null", obj1, obj2 ...] every object once; a UID n (binary
//                                        marker 0x8n, or {CF$UID: n} in XML)
//                                        names $objects[n]; 0 is nil
//
// An object is a scalar, or a dictionary of its fields whose values are
// scalars or UIDs, with $class a UID of a class record {$classname,
// $classes}. Foundation's own classes decode to plain values:
//
//   NSString / NSMutableString           NS.string       -> String
//   NSData / NSMutableData               NS.data         -> Data
//   NSDate                               NS.time         -> Date (seconds from 2001)
//   NSArray / NSMutableArray / NSSet...  NS.objects      -> Array
//   NSDictionary / NSMutableDictionary   NS.keys, NS.objects -> Dict
//
// and any other object to a Dict of its fields, references resolved, with
// "$class" holding the class name. A reference back to an object being
// decoded (a cycle) stays an unresolved Uid; nesting is bounded by
// kMaxPlistDepth and the output to 100,000 values, so shared references
// cannot multiply into an enormous tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "backup/PropertyList.h"

namespace vantrel {

enum class ArchiveStatus {
  Ok,
  NotAPlist,     // the bytes are no property list
  NotAnArchive,  // no $objects array
  NoTop,         // no $top dictionary, or it names no object
  Truncated,     // depth or size bound reached, or a reference left unresolved
};

struct ArchiveDocument {
  ArchiveStatus status = ArchiveStatus::NotAPlist;
  PlistValue root;           // the object named by $top's "root" (or its only entry)
  size_t cyclesCut = 0;      // references to an object being decoded, left as Uid
  size_t badReferences = 0;  // UIDs past the end of $objects, decoded as None
};

ArchiveDocument DecodeKeyedArchive(std::string_view bytes);
// The same for an archive already read as a property list.
ArchiveDocument DecodeKeyedArchive(const PlistValue& archive);

// One MBFile record (times are Unix seconds; 0 when the record lacks them).
struct MbFile {
  bool decoded = false;  // an archive whose root is a dictionary of fields
  std::string relativePath;
  std::string target;  // a symbolic link's target
  uint64_t size = 0;
  uint16_t mode = 0;
  uint64_t inode = 0;
  uint32_t userId = 0, groupId = 0;
  int64_t lastModified = 0, lastStatusChange = 0, birth = 0;
  uint8_t protectionClass = 0;
  uint32_t flags = 0;
  bool hasEncryptionKey = false;
  std::string encryptionKey;  // the wrapped per-file key, as archived (its bytes)
};

MbFile DecodeMbFile(std::string_view bytes);

}  // namespace vantrel
