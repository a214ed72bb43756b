// The XML reader on Info.plist-shaped documents: encodings, references,
// value lookup after keys, and tolerance of damaged documents.
#include "backup/XmlDocument.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <random>
#include <string>

#include "backup/Discovery.h"
#include "backup/PlistText.h"
#include "fixtures/Fixtures.h"

namespace vantrel {
namespace {

using testing::DateElement;
using testing::InfoEntries;
using testing::PlistText;
using testing::StringElement;
using testing::WriteBytes;

const std::string kName = "张伟的 iPhone";
const std::string kDate = "2013-05-20T08:12:34Z";
const std::string kVersion = "6.1.3";

// UTF-8 to UTF-16 code units, written independently of the product's converters.
std::u16string ToUtf16(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp;
    int extra;
    if (c < 0x80)
      cp = c, extra = 0;
    else if (c < 0xE0)
      cp = c & 0x1F, extra = 1;
    else if (c < 0xF0)
      cp = c & 0x0F, extra = 2;
    else
      cp = c & 0x07, extra = 3;
    for (int k = 1; k <= extra; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += 1 + extra;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16Bytes(const std::string& utf8, bool bigEndian, bool mark) {
  std::u16string units = ToUtf16(utf8);
  if (mark) units.insert(units.begin(), u'\uFEFF');
  std::string bytes;
  for (char16_t u : units) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    bytes += bigEndian ? hi : lo;
    bytes += bigEndian ? lo : hi;
  }
  return bytes;
}

std::string ToGbk(const std::string& utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  std::string out(utf8.size() * 2 + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size(), outLeft = out.size();
  char* dst = out.data();
  iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

// Writes bytes as the Info.plist of a fresh backup folder and reads the row.
class InfoPlistTest : public ::testing::Test {
 protected:
  BackupRow Read(const std::string& bytes) {
    const std::string folder = dir_.File("backup" + std::to_string(++count_));
    std::filesystem::create_directories(folder);
    WriteBytes(folder + "/Info.plist", bytes);
    BackupRow row;
    EXPECT_TRUE(ExamineBackupFolder(folder, row));
    EXPECT_EQ(row.folder, folder);
    return row;
  }
  std::string FolderName() const { return "backup" + std::to_string(count_); }

  fixtures::TempDir dir_{"vantrel-xml"};
  int count_ = 0;
};

// One Info.plist in every encoding a writer may leave it in, by label.
std::vector<std::pair<std::string, std::string>> EncodingVariants() {
  const std::string utf8 = PlistText(InfoEntries(kName, kDate, kVersion));
  const std::string undeclared = PlistText(InfoEntries(kName, kDate, kVersion), false);
  std::string gbk = PlistText(InfoEntries(kName, kDate, kVersion));
  gbk.replace(gbk.find("UTF-8"), 5, "gb2312");
  return {
      {"UTF-8 without mark", utf8},
      {"UTF-8 with mark", "\xEF\xBB\xBF" + utf8},
      {"no declaration", undeclared},
      {"UTF-16LE with mark", Utf16Bytes(utf8, false, true)},
      {"UTF-16BE with mark", Utf16Bytes(utf8, true, true)},
      {"UTF-16LE without mark", Utf16Bytes(undeclared, false, false)},
      {"UTF-16BE without mark", Utf16Bytes(undeclared, true, false)},
      {"declared gb2312", ToGbk(gbk)},
  };
}

TEST_F(InfoPlistTest, EveryEncodingGivesTheSameUtf8Row) {
  for (const auto& [label, bytes] : EncodingVariants()) {
    SCOPED_TRACE(label);
    const BackupRow row = Read(bytes);
    EXPECT_EQ(row.deviceName, kName);
    EXPECT_EQ(row.lastBackupDate, kDate);  // exactly as written
    EXPECT_EQ(row.productVersion, kVersion);
  }
}

TEST_F(InfoPlistTest, ReferencesDecodeAndUnknownOnesStayAsWritten) {
  const BackupRow row = Read(PlistText(
      InfoEntries("A&amp;B &lt;3&gt; &#20013;&#x6587; &quot;x&apos; &AMP; &bogus; &amp no&#;end",
                  kDate, kVersion)));
  EXPECT_EQ(row.deviceName, "A&B <3> 中文 \"x' & &bogus; &amp no&#;end");
}

TEST_F(InfoPlistTest, CdataIsKeptRawAndCommentsAreSkipped) {
  const BackupRow row =
      Read(PlistText(InfoEntries("<![CDATA[a<b>&amp;]]><!-- note -->c&#20013;", kDate, kVersion)));
  EXPECT_EQ(row.deviceName, "a<b>&amp;c中");
}

TEST_F(InfoPlistTest, KeysCountOnlyAfterDeviceName) {
  // Version and date before the name are not taken; the row still gets the name.
  BackupRow row = Read(PlistText({{"Last Backup Date", DateElement(kDate)},
                                  {"Product Version", StringElement(kVersion)},
                                  {"Device Name", StringElement(kName)}}));
  EXPECT_EQ(row.deviceName, kName);
  EXPECT_EQ(row.lastBackupDate, "");
  EXPECT_EQ(row.productVersion, "");

  // Reading stops at Product Version: a later date is not taken.
  row = Read(PlistText({{"Device Name", StringElement(kName)},
                        {"Product Version", StringElement(kVersion)},
                        {"ZZZ Last Backup Date", DateElement(kDate)}}));
  EXPECT_EQ(row.productVersion, kVersion);
  EXPECT_EQ(row.lastBackupDate, "");
}

TEST_F(InfoPlistTest, ValueIsTheNextElementOfItsTypeAfterTheKey) {
  const BackupRow row =
      Read(PlistText({{"Device Name", "<integer>5</integer>"},
                      {"Other", StringElement(kName)},
                      {"Last Backup Date", "<string>no</string>" + DateElement(kDate)},
                      {"Product Version", StringElement(kVersion)}}));
  // The first <string> after the key, past an integer and another key.
  EXPECT_EQ(row.deviceName, kName);
  EXPECT_EQ(row.lastBackupDate, kDate);
}

TEST_F(InfoPlistTest, MissingKeysAndUnreadableFilesFallBackToTheFolderName) {
  BackupRow row = Read(PlistText(
      {{"Build Version", StringElement("11D257")}, {"Product Version", StringElement(kVersion)}}));
  EXPECT_EQ(row.deviceName, FolderName());
  EXPECT_EQ(row.productVersion, "");

  row = Read(PlistText({{"Device Name", StringElement(kName)}}));  // no date, no version
  EXPECT_EQ(row.deviceName, kName);
  EXPECT_EQ(row.lastBackupDate, "");
  EXPECT_EQ(row.productVersion, "");

  for (const std::string& bytes : {std::string(), std::string("not xml at all"),
                                   std::string("<plist><dict><key>Device Name</key><str")}) {
    row = Read(bytes);
    EXPECT_EQ(row.deviceName, FolderName());
    EXPECT_EQ(row.lastBackupDate, "");
  }

  // An Info.plist that is a folder cannot be read: still a backup, named by its folder.
  const std::string folder = dir_.File("odd");
  std::filesystem::create_directories(folder + "/Info.plist");
  ASSERT_TRUE(ExamineBackupFolder(folder, row));
  EXPECT_EQ(row.deviceName, "odd");
}

TEST(XmlDocument, ElementWithChildrenHasNoData) {
  XmlDocument doc;
  doc.LoadBytes("<r><a>text<b>x</b>more</a><c>plain</c><d/><e></e></r>");
  ASSERT_TRUE(doc.LocateChild("a"));
  EXPECT_EQ(doc.ChildText(), "");
  ASSERT_TRUE(doc.LocateChild("c"));
  EXPECT_EQ(doc.ChildText(), "plain");
  ASSERT_TRUE(doc.LocateChild("d"));
  EXPECT_EQ(doc.ChildText(), "");
  ASSERT_TRUE(doc.LocateChild("e"));
  EXPECT_EQ(doc.ChildText(), "");
  EXPECT_FALSE(doc.LocateChild("a"));  // the search goes on after the current child
}

TEST(XmlDocument, TwoTopLevelElementsLoadWithTheFirstAsRoot) {
  XmlDocument doc;
  EXPECT_TRUE(doc.LoadBytes("<first><k>1</k></first><second><k>2</k></second>"));
  EXPECT_NE(doc.result().find("root_has_sibling"), std::string::npos);
  ASSERT_TRUE(doc.LocateChild("k"));
  EXPECT_EQ(doc.MainName(), "first");
  EXPECT_EQ(doc.ChildText(), "1");
  ASSERT_TRUE(doc.LocateNext());
  EXPECT_EQ(doc.MainName(), "second");
}

TEST(XmlDocument, NamesMatchOverTheirFullLength) {
  XmlDocument doc;
  doc.LoadBytes("<dict><keys>no</keys><ke>no</ke><Key>case</Key><key>yes</key></dict>");
  ASSERT_TRUE(doc.LocateChild("key"));
  EXPECT_EQ(doc.ChildText(), "yes");
  doc.ResetPosition();
  doc.SetIgnoreCase(true);
  ASSERT_TRUE(doc.LocateChild("key"));
  EXPECT_EQ(doc.ChildText(), "case");
}

TEST(XmlDocument, MismatchedTagsAreRepairedAndLogged) {
  // <br> never ends: what it held follows it; </x> matches nothing and is ignored.
  XmlDocument doc;
  doc.LoadBytes(
      "<plist><dict><key>Device Name</key><br><string>A</string></x>"
      "<key>Product Version</key><string>7.0</string></dict></plist>");
  EXPECT_NE(doc.result().find("unended_start_tag"), std::string::npos);
  EXPECT_NE(doc.result().find("lone_end_tag"), std::string::npos);
  ASSERT_TRUE(doc.LocateChild("dict"));
  ASSERT_TRUE(doc.DescendToChild());
  ASSERT_TRUE(doc.LocateChild("string"));
  EXPECT_EQ(doc.ChildText(), "A");
  ASSERT_TRUE(doc.LocateChild("string"));
  EXPECT_EQ(doc.ChildText(), "7.0");
  EXPECT_EQ(doc.MainName(), "dict");
  EXPECT_FALSE(doc.LocateNext());  // the dictionary has no siblings
}

TEST(XmlDocument, DamagedInputNeverCrashes) {
  std::mt19937 random(7);
  const std::string base = PlistText(InfoEntries(kName, kDate, kVersion));
  for (int round = 0; round < 300; ++round) {
    std::string bytes = base;
    // Cut, and overwrite a few bytes with markup characters and noise.
    bytes.resize(random() % (bytes.size() + 1));
    for (int k = 0; k < 6 && !bytes.empty(); ++k) {
      static const char kNoise[] = "<>/&;![]\"'?-#x\0\xFF\xFE";
      bytes[random() % bytes.size()] = kNoise[random() % (sizeof kNoise - 1)];
    }
    XmlDocument doc;
    doc.LoadBytes(bytes);
    while (doc.LocateChild()) doc.ChildText();
    doc.DescendToChild();
    while (doc.LocateChild()) doc.ChildText();
  }
  // Deep nesting, never closed, and a flood of end tags.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  for (int i = 0; i < 100000; ++i) deep += "</b>";
  XmlDocument doc;
  doc.LoadBytes(deep);
  EXPECT_EQ(doc.ElementCount(), 100000u);
  // Unended elements give up their children: all become siblings of the first.
  EXPECT_FALSE(doc.LocateChild());
  EXPECT_EQ(doc.MainName(), "a");
  int siblings = 1;
  while (doc.LocateNext()) ++siblings;
  EXPECT_EQ(siblings, 100000);
}

// The property-list reader decodes and finds the root without the element table: the same
// text, and the same root, as a load of the document gives.
TEST(XmlDocument, DecodingAndTheRootAloneMatchAWholeLoad) {
  for (const auto& [label, bytes] : EncodingVariants()) {
    SCOPED_TRACE(label);
    XmlDocument doc;
    doc.LoadBytes(bytes);
    EXPECT_EQ(XmlDocument::DecodeText(bytes), doc.text());
  }

  std::vector<std::string> texts = {
      "",
      "no markup at all",
      "<!-- a comment --><?pi x?><!DOCTYPE plist [<!ENTITY a \"<b>\">]><plist/>",
      "<![CDATA[<dict>]]><plist>",
      "</dict><plist>",
      "< plist><dict>",
      "<dict<plist>",
      "<a b='>' c=\"<x>\"/><plist>",
      "<!-- never closed <plist>",
      "<!DOCTYPE never closed <plist>",
      "<?pi never closed <plist>",
      "<plist",
      "text<plist\tversion='1.0'>",
      "<Plist><plist>",
  };
  // And damaged lists, as in DamagedInputNeverCrashes.
  std::mt19937 random(17);
  const std::string base = PlistText(InfoEntries(kName, kDate, kVersion));
  for (int round = 0; round < 300; ++round) {
    std::string bytes = base.substr(0, random() % (base.size() + 1));
    for (int k = 0; k < 6 && !bytes.empty(); ++k) {
      static const char kNoise[] = "<>/&;![]\"'?-#x\0\xFF\xFE";
      bytes[random() % bytes.size()] = kNoise[random() % (sizeof kNoise - 1)];
    }
    texts.push_back(bytes);
  }
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 80));
    XmlDocument doc;
    doc.LoadText(text);
    doc.LocateChild();
    EXPECT_EQ(XmlDocument::FirstElementName(text), doc.MainName());
  }
}

TEST(XmlDocument, MissingFileFailsWithAFileError) {
  XmlDocument doc;
  EXPECT_FALSE(doc.LoadFile("/nonexistent/Info.plist"));
  EXPECT_NE(doc.result().find("file_error"), std::string::npos);
  EXPECT_FALSE(doc.LocateChild());
  EXPECT_EQ(doc.ChildText(), "");
}

}  // namespace
}  // namespace vantrel
