// The HTML report: one self-contained file, Report.html, that a person opens
// in any browser or prints (no network, no scripts): the backup's facts and
// the time the report was made, the database files read with their SHA-256,
// the count of each category, every conversation as a thread with recovered
// messages marked, the contacts and the calls. The markup is well-formed XML
// as well, and every text from the backup is escaped.
#pragma once

#include <string>
#include <string_view>

#include "export/Exporter.h"
#include "export/ReportFacts.h"
#include "model/ContactNames.h"
#include "sources/Collections.h"

namespace vantrel {

inline constexpr char kHtmlFileName[] = "Report.html";

// Text for an HTML element or attribute: & < > " ' as references, control
// characters other than line breaks and tabs as U+FFFD, bytes that are not
// UTF-8 as U+FFFD.
std::string HtmlEscaped(std::string_view text);

// The whole document; withTraces adds a section for the deleted messages
// only the GUID index names, after the conversations.
std::string HtmlReportDocument(const Collections& data, const ReportFacts& facts,
                               const ContactNames& names, bool withTraces = false);

// Writes the document to folder/Report.html.
ExportResult ExportHtmlReport(const Collections& data, const ReportFacts& facts,
                              const std::string& folder, bool withTraces = false);

}  // namespace vantrel
