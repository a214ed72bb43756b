// The JSON export: one UTF-8 document, Vantrel.json, holding the backup's
// facts, the database files read (with SHA-256), and every record with all
// its fields named: deleted ones flagged, with where their bytes were found
// when known; dates as local ISO 8601 with offset beside the stored value.
// docs/vantrel-export.schema.json describes the document; docs/json-export.md
// explains it.
#pragma once

#include <string>

#include "export/Exporter.h"
#include "export/ReportFacts.h"
#include "model/ContactNames.h"
#include "sources/Collections.h"

namespace vantrel {

inline constexpr char kJsonFileName[] = "Vantrel.json";
// The document's "format" and "formatVersion"; the version grows when a
// field changes meaning, not when one is added.
inline constexpr char kJsonFormatName[] = "vantrel-export";
inline constexpr int kJsonFormatVersion = 1;

// The whole document; withTraces adds the messageTraces array (absent
// otherwise): the deleted messages only the GUID index names.
std::string JsonDocument(const Collections& data, const ReportFacts& facts,
                         const ContactNames& names, bool withTraces = false);

// Writes the document to folder/Vantrel.json.
ExportResult ExportJson(const Collections& data, const ReportFacts& facts,
                        const std::string& folder, bool withTraces = false);

// Writes text as one UTF-8 file at path, every write checked.
ExportResult WriteWholeFile(const std::string& path, const std::string& text);

// The word a record kind is called by in the JSON and HTML files and the
// command line: "messages", "contacts", "calls".
const char* KindWord(RecordKind kind);

}  // namespace vantrel
