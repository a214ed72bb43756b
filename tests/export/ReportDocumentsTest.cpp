// The JSON and HTML writers on the texts recovered records really hold:
// quotes, backslashes, control characters, a zero byte, bytes that are not
// UTF-8, markup. Python's json and xml parsers read the output back; what
// they read must be what a person typed, with U+FFFD only where Python's own
// UTF-8 decoder puts one.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ExportTestSupport.h"
#include "export/HtmlReport.h"
#include "export/JsonExport.h"
#include "export/JsonWriter.h"

namespace vantrel {
namespace {

using testing::FromHex;
using testing::RunPython;
using testing::TempFolder;
using testing::WriteAll;

std::string Hex(const std::string& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += {kHex[c >> 4], kHex[c & 15]};
  return out;
}

// Texts as the carver may give them.
const std::vector<std::string> kTexts = {
    "plain",
    "quote \" backslash \\ slash /",
    "tab\tline\nreturn\rbell\x07"
    "escape\x1b"
    "delete\x7f",
    std::string("zero\0byte", 9),
    "中文 😀 ＯＫ",
    "cut \xE4\xB8 short",
    "stray \xff\xfe bytes",
    "<script>alert('x')</script> & &amp;",
    "",
};

// What Python makes of the same bytes (errors="replace" gives U+FFFD per
// bad sequence, as a reader of our files would see it), one per text.
std::vector<std::string> PythonDecoded(const std::vector<std::string>& texts) {
  std::string program = "for h in [";
  for (const std::string& text : texts) program += "'" + Hex(text) + "',";
  program += "]:\n  print(bytes.fromhex(h).decode('utf-8', 'replace').encode('utf-8').hex())\n";
  std::vector<std::string> decoded;
  std::istringstream lines(RunPython(program));
  for (std::string line; std::getline(lines, line);) decoded.push_back(FromHex(line));
  return decoded;
}

TEST(JsonWriter, EveryTextReadsBackAsWritten) {
  JsonWriter json;
  json.BeginObject();
  json.Key("texts");
  json.BeginArray();
  for (const std::string& text : kTexts) json.String(text);
  json.EndArray();
  json.Key("empty");
  json.BeginObject();
  json.EndObject();
  json.Member("negative", int64_t{-5});
  json.Member("big", uint64_t{18446744073709551615ULL});
  json.Member("yes", true);
  json.Key("nothing");
  json.Null();
  json.EndObject();
  TempFolder dir;
  WriteAll(dir.File("doc.json"), json.text());
  const std::string read = RunPython(
      "import json\n"
      "d = json.load(open('" +
      dir.File("doc.json") +
      "', encoding='utf-8'))\n"
      "for t in d['texts']: print(t.encode('utf-8').hex())\n"
      "print(d['empty'], d['negative'], d['big'], d['yes'], d['nothing'])\n");
  std::string want;
  for (const std::string& text : PythonDecoded(kTexts)) want += Hex(text) + "\n";
  want += "{} -5 18446744073709551615 True None\n";
  EXPECT_EQ(read, want);
}

TEST(HtmlReport, TextsAreTextWhateverTheyHold) {
  Collections data;
  for (size_t i = 0; i < kTexts.size(); ++i) {
    MessageRecord m;
    m.text = kTexts[i];
    m.date = static_cast<int32_t>(400000000 + i);
    m.fromMe = i % 2 == 0;
    data.liveMessages["<b>13800138000</b>"].push_back(m);
  }
  ContactRecord c;
  c.name = "Tom & \"Jerry\" <tj>";
  c.propertyCodes = {3};
  c.labels = {"Mobile"};
  c.values = {"<b>13800138000</b>"};
  data.contacts[1] = c;
  ReportFacts facts;
  facts.device = "<iPhone> & 'co'";
  facts.generatedAt = 1700000000;
  const std::string html = HtmlReportDocument(data, facts, ContactNames(data));
  TempFolder dir;
  WriteAll(dir.File("r.html"), html);
  // Parsed strictly as XML; every message text comes back, once, as text.
  const std::string read = RunPython(
      "import xml.etree.ElementTree as ET\n"
      "root = ET.parse('" +
      dir.File("r.html") +
      "').getroot()\n"
      "ns = '{http://www.w3.org/1999/xhtml}'\n"
      "print(sorted({e.tag.replace(ns, '') for e in root.iter()}))\n"
      "for e in root.iter(ns + 'div'):\n"
      "  if e.get('class') == 'text': print(''.join(e.itertext()).encode('utf-8').hex())\n"
      "print(''.join(root.find(ns + 'head').find(ns + 'title').itertext()))\n"
      "print([''.join(h.itertext()) for h in root.iter(ns + 'h3')][0])\n");
  std::string want =
      "['body', 'div', 'h1', 'h2', 'h3', 'head', 'html', 'meta', 'p', 'section', 'span', "
      "'style', 'table', 'td', 'th', 'title', 'tr']\n";
  for (const std::string& shown : PythonDecoded(kTexts)) {
    // A zero byte and other control characters are no text for a reader:
    // they show as U+FFFD; the rest exactly as Python decodes it.
    std::string cleaned;
    for (char ch : shown) {
      const auto u = static_cast<unsigned char>(ch);
      cleaned += (u < 0x20 && ch != '\n' && ch != '\t' && ch != '\r') || u == 0x7f
                     ? std::string("\xEF\xBF\xBD")
                     : std::string(1, ch);
    }
    want += Hex(cleaned) + "\n";
  }
  want += "Vantrel 备份报告 — <iPhone> & 'co'\n";
  want += "Tom & \"Jerry\" <tj> <b>13800138000</b>\n";
  EXPECT_EQ(read, want);
  EXPECT_EQ(HtmlEscaped("a<b>&\"'"), "a&lt;b&gt;&amp;&quot;&#39;");
}

}  // namespace
}  // namespace vantrel
