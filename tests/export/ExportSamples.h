// The collections the export tests save: Chinese text, commas, quotes, line
// breaks and an emoji in every kind of field a file carries.
#pragma once

#include "sources/Collections.h"

namespace vantrel::testing {

// 2012-02-29 00:00:00 UTC in message time (seconds since 2001-01-01 UTC).
inline constexpr int32_t kLeapDay = 4076 * 86400;
// 2012-02-29 12:00:00 UTC in call time (seconds since 1970-01-01 UTC).
inline constexpr int32_t kLeapDayCall = 1330516800;

// A message as the loader makes it: date 0 and direction 255 are unknown.
inline MessageRecord Message(std::string text, int32_t date, int32_t readDate, uint8_t fromMe) {
  MessageRecord m;
  m.text = std::move(text);
  m.service = "SMS";
  if (date != 0) m.date = date;
  m.readDate = readDate;
  if (fromMe != 255) m.fromMe = m.sent = fromMe != 0;
  return m;
}

inline CallRecord Call(int32_t date, int32_t duration, int32_t flags) {
  CallRecord c;
  c.date = date;
  c.duration = duration;
  c.flags = flags;
  return c;
}

inline Collections SampleCollections() {
  Collections c;
  c.liveMessages["+8613800138000"] = {
      Message("你好，世界, with a comma", kLeapDay, kLeapDay + 60, 1),
      Message("他说\"明天见\"\r\n第二行😀", kLeapDay + 3600, 0, 0)};
  c.liveMessages["10086"] = {Message("", 0, 0, 255)};
  c.liveMessages["a,\"b\""] = {Message("line1\nline2\rline3", kLeapDay - 1, 1, 0)};
  c.deletedMessages = {Message("已删除的短信", kLeapDay + 7200, 0, 0),
                       Message("deleted, \"two\"", 12345, 12400, 1)};

  c.deletedContacts =
      DeletedContactList{{"13912345678", "张三"}, {"+86 10,8888", "李\"四\""}, {"😀", ""}};

  ContactRecord wang;  // two numbers under one label, an e-mail, a label with a comma
  wang.name = "王, \"五\"";
  wang.propertyCodes = {3, 4, 3, 3};
  wang.labels = {"mobile", "home", "_$!<Home>!$_", "mobile"};
  wang.values = {"138 0013 8000", "wang@example.com", "010-1234,5678", "139\r\n0000"};
  c.contacts[5] = wang;

  ContactRecord zhao;  // three phone labels
  zhao.name = "赵六";
  zhao.propertyCodes = {3, 3, 3};
  zhao.labels = {"work", "iPhone", "住宅"};
  zhao.values = {"1", "2", "3"};
  c.contacts[7] = zhao;

  ContactRecord many;  // twelve phone labels: more than the file's ten phone columns
  many.name = "Many";
  for (int i = 0; i < 12; ++i) {
    many.propertyCodes.push_back(3);
    many.labels.push_back("L" + std::to_string(10 + i));
    many.values.push_back(std::to_string(i));
  }
  c.contacts[9] = many;

  c.liveCalls["13800138000"] = {Call(kLeapDayCall, 3725, 1), Call(kLeapDayCall + 60, 65, 0)};
  c.liveCalls["12345678901234567890"] = {Call(0, 0, 2)};
  c.liveCalls["10,086"] = {Call(kLeapDayCall, 59, 3)};
  c.deletedCalls["110"] = {Call(kLeapDayCall - 86400, 7, 0)};
  return c;
}

}  // namespace vantrel::testing
