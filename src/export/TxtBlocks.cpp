// TXT blocks and lines; see TxtBlocks.h.
#include "export/TxtBlocks.h"

#include <algorithm>

#include "export/CategoryNames.h"
#include "export/TimeText.h"

namespace vantrel {

std::string MessageTxtBlock(const std::string& address, const MessageRecord& message) {
  std::string block = "类型:";
  if (message.fromMe) block += *message.fromMe ? "发送" : "接收";
  block += "\r\n号码:";
  block += address;
  block += ";\r\n时间:";
  block += MessageDateText(message.date);
  block += "\r\n短信内容:";
  block += message.text;
  block += "\r\n\r\n";
  return block;
}

std::string ContactTxtBlock(const ContactRecord& contact) {
  std::string block = "BEGIN:" + contact.name + "\r\n";
  const size_t n = std::max(contact.labels.size(), contact.values.size());
  for (size_t i = 0; i < n; ++i) {
    if (i < contact.labels.size()) block += contact.labels[i];
    block += ':';
    if (i < contact.values.size()) block += contact.values[i];
    block += "\r\n";
  }
  block += "END\r\n\r\n";
  return block;
}

std::string DeletedContactTxtLine(const std::string& label, const std::string& value) {
  return label + "," + value + "\r\n";
}

std::string CallListTxtHeading() {
  const std::string rule = std::string(102, '-') + "\r\n";
  std::string h = "通话记录清单\r\n" + rule;
  h += "时间" + std::string(23, ' ') + "电话号码" + std::string(17, ' ') + "类型" +
       std::string(11, ' ') + "通话时长 \r\n";
  h += rule;
  return h;
}

std::string RightAlignedCallNumber(const std::string& number, size_t width) {
  if (width > 18) return number;
  return std::string(19 - width, ' ') + number;
}

std::string CallTxtLine(const std::string& alignedNumber, const CallRecord& call) {
  std::string line = CallDateText(call.date);
  line += alignedNumber;
  line += std::string(14, ' ');
  line += (call.flags & 1) != 0 ? "拨打" : "接听";
  line += std::string(11, ' ');
  line += DurationText(call.duration);
  line += "\r\n";
  return line;
}

std::string MessageTraceTxtBlock(const MessageTrace& trace) {
  std::string block = "GUID:" + trace.guid + "\r\nROWID:";
  if (trace.rowid != 0) block += std::to_string(trace.rowid);
  block += "\r\n短信内容:内容已丢失 (content lost)\r\n位置:" + trace.found.file + " 页 " +
           std::to_string(trace.found.page) + " 偏移 " + std::to_string(trace.found.offset) + " " +
           PlaceWord(trace.found.place) + "\r\n\r\n";
  return block;
}

}  // namespace vantrel
