#include "export/HtmlReport.h"

#include <cstdio>

#include "export/CategoryNames.h"
#include "export/JsonExport.h"
#include "export/TimeText.h"
#include "model/Conversations.h"
#include "platform/Text.h"

namespace vantrel {
namespace {

constexpr char kStyle[] = R"(
body { font-family: "Noto Sans CJK SC", "WenQuanYi Micro Hei", sans-serif; margin: 2em; color: #222; }
h1 { font-size: 1.6em; margin-bottom: 0.2em; }
h2 { border-bottom: 2px solid #ccc; padding-bottom: 0.2em; margin-top: 2em; }
table { border-collapse: collapse; margin: 0.5em 0; }
th, td { border: 1px solid #ccc; padding: 0.25em 0.6em; text-align: left; vertical-align: top; }
th { background: #f0f0f0; }
td.hash { font-family: monospace; font-size: 0.85em; word-break: break-all; }
td.num { text-align: right; }
.facts th { width: 10em; }
.conversation { border: 1px solid #ddd; border-radius: 6px; margin: 1em 0; padding: 0.5em 1em; page-break-inside: avoid; }
.conversation h3 { margin: 0.3em 0; }
.conversation .address { color: #666; font-weight: normal; font-size: 0.9em; }
.msg { margin: 0.4em 0; padding: 0.4em 0.7em; border-radius: 8px; max-width: 75%; }
.msg.in { background: #eee; }
.msg.out { background: #dcf0ff; margin-left: auto; }
.msg.unknown { background: #f6f6f6; border: 1px dashed #bbb; }
.msg.deleted { border: 2px solid #d9534f; }
.msg .meta { font-size: 0.8em; color: #666; }
.msg .text { white-space: pre-wrap; word-wrap: break-word; }
.badge { background: #d9534f; color: #fff; border-radius: 3px; padding: 0 0.3em; font-size: 0.8em; }
tr.deleted td { background: #fdecea; }
)";

// What the report calls a recovered record.
constexpr char kRecoveredBadge[] = "已恢复";

void AppendEscaped(std::string_view text, std::string& out) {
  std::string normalised;
  if (!IsValidUtf8(text)) {
    AppendNormalisedUtf8(text, normalised);
    text = normalised;
  }
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\r':
        out += "&#13;";  // a bare one would be read as a line feed
        break;
      default:
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') || c == 0x7f)
          out += "\xEF\xBF\xBD";
        else
          out.push_back(c);
    }
  }
}

class Html {
 public:
  Html& Raw(std::string_view markup) {
    out_ += markup;
    return *this;
  }
  Html& Text(std::string_view text) {
    AppendEscaped(text, out_);
    return *this;
  }
  // <tag class="...">text</tag>
  Html& Element(std::string_view tag, std::string_view text, std::string_view cls = {}) {
    out_ += '<';
    out_ += tag;
    if (!cls.empty()) {
      out_ += " class=\"";
      out_ += cls;
      out_ += '"';
    }
    out_ += '>';
    Text(text);
    out_ += "</";
    out_ += tag;
    out_ += '>';
    return *this;
  }
  std::string& str() { return out_; }

 private:
  std::string out_;
};

std::string SizeText(uint64_t bytes) {
  return std::to_string(bytes);
}

// A party as the report shows it: "张伟 (13800138000)", or the address alone.
std::string PartyText(const std::string& address, const std::string& names) {
  if (names.empty()) return address;
  if (address.empty()) return names;
  return names + " (" + address + ")";
}

void TitleBlock(Html& html, const ReportFacts& facts) {
  html.Raw("<h1>Vantrel 备份报告</h1>\n<table class=\"facts\">\n");
  auto row = [&](std::string_view label, const std::string& value) {
    html.Raw("<tr>").Element("th", label).Element("td", value.empty() ? "—" : value).Raw("</tr>\n");
  };
  row("设备", facts.device);
  row("iOS 版本", facts.iosVersion);
  row("备份日期", facts.backupDate);
  row("备份位置", facts.folder);
  row("报告时间", IsoLocalTime(facts.generatedAt));
  row("时区", TimeZoneText(facts.generatedAt));
  row("Vantrel 版本", VantrelVersion());
  html.Raw("</table>\n");
}

void SourcesTable(Html& html, const ReportFacts& facts) {
  html.Raw(
      "<h2>数据来源</h2>\n<table class=\"sources\">\n<tr><th>类别</th><th>手机中的文件</th>"
      "<th>备份中的文件</th><th>大小（字节）</th><th>SHA-256</th></tr>\n");
  auto row = [&](const std::string& kind, const std::string& phoneFile, const std::string& path,
                 uint64_t size, const std::string& sha) {
    html.Raw("<tr>").Element("td", kind).Element("td", phoneFile).Element("td", path);
    html.Element("td", SizeText(size), "num")
        .Element("td", sha.empty() ? "（无法读取）" : sha, "hash");
    html.Raw("</tr>\n");
  };
  for (const ReportSource& s : facts.sources) {
    const std::string phoneFile = s.domain.empty() ? "" : s.domain + "/" + s.relativePath;
    row(s.kind, phoneFile, s.path, s.size, s.sha256);
    if (!s.walPath.empty())
      row(s.kind, phoneFile.empty() ? "" : phoneFile + "-wal", s.walPath, s.walSize, s.walSha256);
  }
  html.Raw("</table>\n");
}

void CountsTable(Html& html, const Collections& data) {
  html.Raw("<h2>数量</h2>\n<table class=\"counts\">\n");
  for (Category category : kAllCategories) {
    html.Raw("<tr>")
        .Element("th", std::string(KindName(KindOf(category))) + "/" + CategoryName(category))
        .Element("td", std::to_string(RecordCount(data, category)), "num")
        .Raw("</tr>\n");
  }
  html.Raw("</table>\n");
}

std::string Direction(const MessageRecord& m) {
  if (!m.fromMe) return "unknown";
  return *m.fromMe ? "out" : "in";
}

void ConversationSection(Html& html, const Conversation& c) {
  const std::string title = ConversationTitle(c);
  html.Raw("<section class=\"conversation\">\n<h3>").Text(title);
  if (!c.address.empty() && c.address != title)
    html.Raw(" <span class=\"address\">").Text(c.address).Raw("</span>");
  html.Raw("</h3>\n");
  if (c.group && !c.participants.empty()) {
    std::string list;
    for (const std::string& p : c.participants) list += (list.empty() ? "" : ", ") + p;
    html.Element("p", "成员：" + list, "members").Raw("\n");
  }
  std::string meta = std::to_string(c.messages.size()) + " 条消息";
  if (c.deletedCount) meta += "，其中 " + std::to_string(c.deletedCount) + " 条为恢复的已删除消息";
  html.Element("p", meta, "summary").Raw("\n");
  for (const ConversationMessage& cm : c.messages) {
    const MessageRecord& m = *cm.record;
    std::string cls = "msg " + Direction(m);
    if (cm.deleted) cls += " deleted";
    html.Raw("<div class=\"").Raw(cls).Raw("\">\n<div class=\"meta\">");
    if (cm.deleted) html.Element("span", kRecoveredBadge, "badge").Raw(" ");
    const std::string date = MessageDateText(m.date);
    html.Text(date.empty() ? "日期未知" : date);
    html.Text(m.fromMe ? (*m.fromMe ? " · 发出" : " · 收到") : " · 方向未知");
    if (!m.service.empty()) html.Text(" · " + m.service);
    html.Raw("</div>\n");
    html.Element("div", m.text, "text").Raw("\n</div>\n");
  }
  html.Raw("</section>\n");
}

void ContactsSection(Html& html, const Collections& data) {
  html.Raw(
      "<h2>通讯录</h2>\n<table class=\"contacts\">\n<tr><th>姓名</th><th>拼音</th>"
      "<th>单位</th><th>号码与地址</th></tr>\n");
  for (const auto& [rowid, c] : data.contacts) {
    html.Raw("<tr>").Element("td", c.name).Element("td", c.phonetic).Element("td", c.organization);
    html.Raw("<td>");
    const size_t n = std::min(c.labels.size(), c.values.size());
    for (size_t i = 0; i < n; ++i) {
      if (i) html.Raw("<br/>");
      html.Text(c.labels[i].empty() ? c.values[i] : c.labels[i] + ": " + c.values[i]);
    }
    html.Raw("</td></tr>\n");
  }
  html.Raw("</table>\n");
  if (data.deletedContacts && !data.deletedContacts->empty()) {
    html.Raw(
        "<h3>恢复的已删除号码</h3>\n<table class=\"deleted-contacts\">\n<tr><th>号码</th>"
        "<th>原联系人</th></tr>\n");
    for (const DeletedContact& c : *data.deletedContacts)
      html.Raw("<tr class=\"deleted\">")
          .Element("td", c.number)
          .Element("td", c.owner)
          .Raw("</tr>\n");
    html.Raw("</table>\n");
  }
}

void CallRows(Html& html, const CallMap& calls, bool deleted, const ContactNames& names) {
  for (const auto& [number, list] : calls) {
    const std::string party = PartyText(number, names.NameOf(number));
    for (const CallRecord& c : list) {
      html.Raw(deleted ? "<tr class=\"deleted\">" : "<tr>");
      html.Element("td", deleted ? kRecoveredBadge : "");
      html.Element("td", party).Element("td", CallDateText(c.date));
      html.Element("td", (c.flags & 1) ? "呼出" : (c.answered == 0 ? "未接" : "呼入"));
      html.Element("td", ListDurationText(c.duration), "num").Raw("</tr>\n");
    }
  }
}

void CallsSection(Html& html, const Collections& data, const ContactNames& names) {
  html.Raw(
      "<h2>通话记录</h2>\n<table class=\"calls\">\n<tr><th></th><th>号码</th><th>时间</th>"
      "<th>类型</th><th>时长</th></tr>\n");
  CallRows(html, data.liveCalls, false, names);
  CallRows(html, data.deletedCalls, true, names);
  html.Raw("</table>\n");
}

// The deleted messages only the GUID index names, when asked for: one row
// each, GUID, rowid and where the entry lies; their words are lost.
void TracesSection(Html& html, const MessageTraceList& traces) {
  html.Raw("<h2>短信：仅存索引</h2>\n");
  if (traces.empty()) {
    html.Element("p", "没有仅存索引的短信。").Raw("\n");
    return;
  }
  html.Raw(
      "<table class=\"traces\">\n<tr><th>GUID</th><th>ROWID</th><th>内容</th><th>位置</th>"
      "</tr>\n");
  for (const MessageTrace& t : traces) {
    html.Raw("<tr>");
    html.Element("td", t.guid);
    html.Element("td", t.rowid != 0 ? std::to_string(t.rowid) : std::string());
    html.Element("td", "内容已丢失 (content lost)");
    html.Element("td", t.found.file + " 页 " + std::to_string(t.found.page) + " 偏移 " +
                           std::to_string(t.found.offset) + " " + PlaceWord(t.found.place));
    html.Raw("</tr>\n");
  }
  html.Raw("</table>\n");
}

}  // namespace

std::string HtmlEscaped(std::string_view text) {
  std::string out;
  AppendEscaped(text, out);
  return out;
}

std::string HtmlReportDocument(const Collections& data, const ReportFacts& facts,
                               const ContactNames& names, bool withTraces) {
  Html html;
  html.Raw(
      "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"zh-CN\">\n<head>\n"
      "<meta charset=\"utf-8\"/>\n<title>");
  html.Text("Vantrel 备份报告 — " + (facts.device.empty() ? facts.folder : facts.device));
  html.Raw("</title>\n<style>").Raw(kStyle).Raw("</style>\n</head>\n<body>\n");
  TitleBlock(html, facts);
  SourcesTable(html, facts);
  CountsTable(html, data);
  html.Raw("<h2>短信</h2>\n");
  const std::vector<Conversation> conversations = GroupConversations(data, names);
  if (conversations.empty()) html.Element("p", "没有消息。").Raw("\n");
  for (const Conversation& c : conversations) ConversationSection(html, c);
  if (withTraces) TracesSection(html, data.messageTraces);
  ContactsSection(html, data);
  CallsSection(html, data, names);
  html.Raw("</body>\n</html>\n");
  return std::move(html.str());
}

ExportResult ExportHtmlReport(const Collections& data, const ReportFacts& facts,
                              const std::string& folder, bool withTraces) {
  return WriteWholeFile(folder + "/" + kHtmlFileName,
                        HtmlReportDocument(data, facts, ContactNames(data), withTraces));
}

}  // namespace vantrel
