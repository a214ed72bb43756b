// TXT files: the block and line layouts, GBK bytes (the 300-byte call heading,
// the middle dots of the deleted-messages key) checked against Python's GBK
// codec, UTF-8 output, and the same encoding for every file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "ExportSamples.h"
#include "ExportTestSupport.h"
#include "export/Exporter.h"

namespace vantrel {
namespace {

using namespace vantrel::testing;

const std::string kRule = std::string(102, '-') + "\r\n";
const std::string kHeading = "通话记录清单\r\n" + kRule + "时间" + std::string(23, ' ') +
                             "电话号码" + std::string(17, ' ') + "类型" + std::string(11, ' ') +
                             "通话时长 \r\n" + kRule;

class TxtExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
  }
  ExportOptions Gbk() const { return ExportOptions{"GBK"}; }
  ExportOptions Utf8() const { return ExportOptions{"UTF-8"}; }
  Collections data = SampleCollections();
  TempFolder dir;
};

TEST_F(TxtExportTest, CallListInGbkHasThe300ByteHeadingAndRightAlignedNumbers) {
  const std::string path = dir.File("calls.txt");
  ASSERT_TRUE(ExportCurrentCategory(data, Category::LiveCalls, ExportFormat::Txt, path, Gbk()).ok);
  const std::string bytes = ReadAll(path);
  const std::string heading = PythonGbk(kHeading);
  ASSERT_EQ(heading.size(), 300u);
  EXPECT_EQ(bytes.substr(0, 300), heading);

  // Numbers in byte order; 6 characters get 13 spaces, 20 none, 11 get 8.
  // Shanghai is UTC+8: 2012-02-29 12:00 UTC is 20:00 there.
  const std::string lines =
      "2012-02-29 20:00:00" + std::string(13, ' ') + "10,086" + std::string(14, ' ') + "拨打" +
      std::string(11, ' ') + "00:59\r\n" + "1970-01-01 08:00:00" + "12345678901234567890" +
      std::string(14, ' ') + "接听" + std::string(11, ' ') + "00:00\r\n" + "2012-02-29 20:00:00" +
      std::string(8, ' ') + "13800138000" + std::string(14, ' ') + "拨打" + std::string(11, ' ') +
      "01:02:05\r\n" + "2012-02-29 20:01:00" + std::string(8, ' ') + "13800138000" +
      std::string(14, ' ') + "接听" + std::string(11, ' ') + "01:05\r\n";
  EXPECT_EQ(bytes.substr(300), PythonGbk(lines));

  // Deleted calls go after the heading of the chosen file; another node gives the heading alone.
  ASSERT_TRUE(
      ExportCurrentCategory(data, Category::DeletedCalls, ExportFormat::Txt, path, Gbk()).ok);
  EXPECT_EQ(ReadAll(path), heading + PythonGbk("2012-02-28 20:00:00" + std::string(16, ' ') +
                                               "110" + std::string(14, ' ') + "接听" +
                                               std::string(11, ' ') + "00:07\r\n"));
  EXPECT_FALSE(fs::exists(dir.File("calls_Del.txt")));
}

TEST_F(TxtExportTest, MessageBlocksInGbkKeepTheMiddleDotsAndEndInAnEmptyLine) {
  const std::string chosen = dir.File("SMS.txt");
  ASSERT_TRUE(
      ExportCurrentCategory(data, Category::DeletedMessages, ExportFormat::Txt, chosen, Gbk()).ok);
  EXPECT_FALSE(fs::exists(chosen));
  const std::string bytes = ReadAll(dir.File("SMS_Del.txt"));
  // "号码:" then "+86" and three middle dots, GBK A1 A4 each.
  const std::string key = PythonGbk("号码:") + "+86\xA1\xA4\xA1\xA4\xA1\xA4;\r\n";
  EXPECT_NE(bytes.find(key), std::string::npos);
  // Two messages: eight text lines, each block closed by an empty line.
  size_t lineEnds = 0, textLines = 0;
  for (size_t start = 0, p = bytes.find("\r\n"); p != std::string::npos;
       start = p + 2, p = bytes.find("\r\n", start)) {
    ++lineEnds;
    if (p > start) ++textLines;
  }
  EXPECT_EQ(textLines, 8u);
  EXPECT_EQ(lineEnds, 10u);
  EXPECT_EQ(bytes.substr(bytes.size() - 4), "\r\n\r\n");
  const std::string expected =
      "类型:接收\r\n号码:+86···;\r\n时间:2012-02-29 10:00:00\r\n短信内容:已删除的短信\r\n\r\n"
      "类型:发送\r\n号码:+86···;\r\n时间:2001-01-01 11:25:45\r\n短信内容:deleted, "
      "\"two\"\r\n\r\n";
  EXPECT_EQ(bytes, PythonGbk(expected));

  // Live messages, key order; the emoji GBK cannot hold becomes '?'; nothing is escaped.
  ASSERT_TRUE(
      ExportCurrentCategory(data, Category::LiveMessages, ExportFormat::Txt, chosen, Gbk()).ok);
  const std::string live = ReadAll(chosen);
  EXPECT_NE(live.find(PythonGbk("短信内容:他说\"明天见\"\r\n第二行?\r\n\r\n")), std::string::npos);
  EXPECT_EQ(live.find("\xF0\x9F"), std::string::npos);
  EXPECT_EQ(live.substr(0, PythonGbk("类型:接收\r\n号码:+8613800138000;").size()),
            PythonGbk("类型:发送\r\n号码:+8613800138000;"));
}

TEST_F(TxtExportTest, ContactsUseTheChosenEncodingForLiveAndDeletedFiles) {
  const std::string chosen = dir.File("Contacts.txt");
  ASSERT_TRUE(
      ExportCurrentCategory(data, Category::DeletedContacts, ExportFormat::Txt, chosen, Gbk()).ok);
  // No byte-order mark, no UTF-16: the same GBK as every other text file.
  EXPECT_EQ(ReadAll(dir.File("Contacts_Del.txt")),
            PythonGbk("Phone,name\r\n13912345678,张三\r\n+86 10,8888,李\"四\"\r\n😀,\r\n"));

  ASSERT_TRUE(
      ExportCurrentCategory(data, Category::LiveContacts, ExportFormat::Txt, chosen, Gbk()).ok);
  std::string expected =
      "BEGIN:王, \"五\"\r\nmobile:138 0013 8000\r\nhome:wang@example.com\r\n"
      "_$!<Home>!$_:010-1234,5678\r\nmobile:139\r\n0000\r\nEND\r\n\r\n"
      "BEGIN:赵六\r\nwork:1\r\niPhone:2\r\n住宅:3\r\nEND\r\n\r\nBEGIN:Many\r\n";
  for (int i = 0; i < 12; ++i)
    expected += "L" + std::to_string(10 + i) + ":" + std::to_string(i) + "\r\n";
  expected += "END\r\n\r\n";
  EXPECT_EQ(ReadAll(chosen), PythonGbk(expected));

  // UTF-8: the text exactly as held, emoji included.
  ASSERT_TRUE(
      ExportCurrentCategory(data, Category::DeletedContacts, ExportFormat::Txt, chosen, Utf8()).ok);
  EXPECT_EQ(ReadAll(dir.File("Contacts_Del.txt")),
            "Phone,name\r\n13912345678,张三\r\n+86 10,8888,李\"四\"\r\n😀,\r\n");
}

TEST_F(TxtExportTest, AllCategoriesInUtf8AndGbkUseLowerCaseTxtNames) {
  for (const ExportOptions& options : {Utf8(), Gbk()}) {
    TempFolder out;
    const ExportResult r = ExportAllCategories(data, ExportFormat::Txt, out.Path(), options);
    ASSERT_TRUE(r.ok) << r.reason;
    const std::vector<std::string> names = {"SMS_Del.txt",          "SMS.txt",
                                            "Contacts_Del.txt",     "Contacts.txt",
                                            "Call_history_Del.txt", "Call_history.txt"};
    ASSERT_EQ(r.writtenFiles.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(r.writtenFiles[i], out.File(names[i]));
    const bool gbk = options.txtEncoding == "GBK";
    auto encode = [&](const std::string& s) { return gbk ? PythonGbk(s) : s; };
    EXPECT_EQ(ReadAll(out.File("Contacts_Del.txt")).substr(0, 12), "Phone,name\r\n");
    EXPECT_EQ(ReadAll(out.File("Call_history_Del.txt")),
              encode(kHeading + "2012-02-28 20:00:00" + std::string(16, ' ') + "110" +
                     std::string(14, ' ') + "接听" + std::string(11, ' ') + "00:07\r\n"));
    const std::string sms = ReadAll(out.File("SMS.txt"));
    EXPECT_EQ(sms.find(encode("类型:")), 0u);
    if (!gbk) {
      EXPECT_NE(sms.find("第二行😀"), std::string::npos);
    }
  }
}

TEST_F(TxtExportTest, WideCallNumbersAlignByTheirWidthInTheFile) {
  Collections c;
  c.liveCalls["客服"] = {Call(0, 1, 0)};
  for (const ExportOptions& options : {Utf8(), Gbk()}) {
    const std::string path = dir.File("wide.txt");
    ASSERT_TRUE(ExportCurrentCategory(c, Category::LiveCalls, ExportFormat::Txt, path, options).ok);
    // Two Chinese characters take four bytes in GBK, four columns in UTF-8: 15 spaces.
    const std::string line = "1970-01-01 08:00:00" + std::string(15, ' ') + "客服" +
                             std::string(14, ' ') + "接听" + std::string(11, ' ') + "00:01\r\n";
    const bool gbk = options.txtEncoding == "GBK";
    EXPECT_EQ(ReadAll(path), gbk ? PythonGbk(kHeading + line) : kHeading + line);
  }
}

TEST_F(TxtExportTest, UnicodeWithoutByteOrderGetsOneMarkAtTheStart) {
  const std::string text = "Phone,name\r\n13912345678,张三\r\n+86 10,8888,李\"四\"\r\n😀,\r\n";
  TempFolder in;
  WriteAll(in.File("t"), text);
  for (const char* name : {"UTF-16", "utf-16", "UTF-32"}) {
    const std::string chosen = dir.File("c.txt");
    ASSERT_TRUE(ExportCurrentCategory(data, Category::DeletedContacts, ExportFormat::Txt, chosen,
                                      ExportOptions{name})
                    .ok);
    const bool wide = std::string(name) == "UTF-32";
    // Python's 'utf-16' / 'utf-32' codecs put one mark first (little-endian here).
    EXPECT_EQ(ReadAll(dir.File("c_Del.txt")), PythonBytes("open(r'" + in.File("t") +
                                                          "', encoding='utf-8', newline='').read()"
                                                          ".encode('" +
                                                          (wide ? "utf-32" : "utf-16") + "')"))
        << name;
  }
}

TEST_F(TxtExportTest, AnUnknownEncodingFailsBeforeAnyFileIsCreated) {
  const ExportResult r =
      ExportAllCategories(data, ExportFormat::Txt, dir.Path(), ExportOptions{"NO-SUCH-CODESET"});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedFile, dir.File("SMS_Del.txt"));
  EXPECT_NE(r.reason.find("NO-SUCH-CODESET"), std::string::npos);
  EXPECT_TRUE(r.writtenFiles.empty());
  EXPECT_FALSE(fs::exists(dir.File("SMS_Del.txt")));
}

}  // namespace
}  // namespace vantrel
