#include "ui/DetailText.h"

#include <cstdlib>

namespace vantrel {
namespace {

void AddLine(std::string& out, const char* label, const std::string& value) {
  out += label;
  out += value;
  out += '\n';
}

}  // namespace

std::string DetailText(const RecordTableModel& list, int row, const ContactMap& contacts) {
  auto cell = [&](int column) { return list.CellText(row, column); };
  std::string out;
  switch (list.recordKind()) {
    case RecordKind::Messages:
      AddLine(out, "短信内容： ", cell(0));
      AddLine(out, "号码地址： ", cell(5));
      AddLine(out, "接收时间： ", cell(1));
      AddLine(out, "读取时间： ", cell(2));
      AddLine(out, "类型： ", cell(3));
      AddLine(out, "服务： ", cell(4));
      break;
    case RecordKind::Contacts: {
      const std::string key = cell(2);
      if (key.empty()) {
        // A deleted-contact row: owner and carved value on one line.
        out = cell(1) + ": " + cell(0);
        break;
      }
      const auto it = contacts.find(static_cast<uint32_t>(std::strtoul(key.c_str(), nullptr, 10)));
      if (it == contacts.end()) break;
      const ContactRecord& c = it->second;
      AddLine(out, "姓名：", c.name);
      if (!c.phonetic.empty()) AddLine(out, "拼音：", c.phonetic);
      if (!c.organization.empty()) AddLine(out, "单位：", c.organization);
      for (size_t i = 0; i < c.labels.size(); ++i) {
        out += c.labels[i];
        out += ": ";
        if (i < c.values.size()) out += c.values[i];
        out += '\n';
      }
      break;
    }
    case RecordKind::Calls:
      AddLine(out, "号码： ", cell(0));
      AddLine(out, "时间： ", cell(1));
      AddLine(out, "通话时间： ", cell(2));
      AddLine(out, "类型： ", cell(3));
      break;
  }
  return out;
}

}  // namespace vantrel
