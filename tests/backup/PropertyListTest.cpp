// Property lists in both forms and the backup's three top-level lists: what a reader gets from
// XML and from the binary form libplist writes of the same list, what odd encodings and damage
// give, and the typed facts of Info.plist, Manifest.plist and Status.plist.
#include "backup/PropertyList.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cmath>

#include "backup/BackupPlists.h"
#include "backup/PlistText.h"
#include "fixtures/Fixtures.h"

namespace vantrel {
namespace {

using namespace std::string_literals;
using testing::PlistText;
using testing::WriteBytes;

// A list with every kind of value, nested containers included.
const std::string kEveryKind = PlistText({
    {"Name", "<string>张伟的 iPhone &amp; more</string>"},
    {"Count", "<integer>-42</integer>"},
    {"Big", "<integer>9000000000</integer>"},
    {"Ratio", "<real>0.5</real>"},
    {"Yes", "<true/>"},
    {"No", "<false/>"},
    {"When", "<date>2021-02-03T04:05:06Z</date>"},
    {"Blob", "<data>AAEC/w==</data>"},
    {"Lockdown",
     "<dict><key>ProductVersion</key><string>14.3</string>"
     "<key>Inner</key><dict><key>Deep</key><integer>7</integer></dict></dict>"},
    {"List", "<array><string>a</string><integer>2</integer><array/></array>"},
});

// Seconds since 1970 of a UTC civil time, by the fixtures' own calendar.
double Unix(int y, int mo, int d, int h, int mi, int s) {
  return static_cast<double>(fixtures::UnixSeconds(y, mo, d, h, mi, s));
}

void ExpectEveryKind(const PlistDocument& doc) {
  ASSERT_EQ(doc.status, PlistStatus::Ok);
  const PlistValue& r = doc.root;
  ASSERT_TRUE(r.IsDict());
  EXPECT_EQ(r.keys.size(), 10u);
  EXPECT_EQ(r.StringAt("Name"), "张伟的 iPhone & more");
  EXPECT_EQ(r.IntAt("Count"), -42);
  EXPECT_EQ(r.IntAt("Big"), 9000000000);
  EXPECT_DOUBLE_EQ(r.Find("Ratio")->real, 0.5);
  EXPECT_TRUE(r.BoolAt("Yes"));
  EXPECT_FALSE(r.BoolAt("No", true));
  EXPECT_EQ(r.Find("When")->kind, PlistValue::Kind::Date);
  EXPECT_DOUBLE_EQ(r.Find("When")->real, Unix(2021, 2, 3, 4, 5, 6));
  EXPECT_EQ(r.DateTextAt("When"), "2021-02-03T04:05:06Z");
  EXPECT_EQ(r.DataAt("Blob"), std::string("\x00\x01\x02\xff", 4));
  const PlistValue* deep = r.Find({"Lockdown", "Inner", "Deep"});
  ASSERT_NE(deep, nullptr);
  EXPECT_EQ(deep->integer, 7);
  EXPECT_EQ(r.Find({"Lockdown", "ProductVersion"})->bytes, "14.3");
  EXPECT_EQ(r.Find({"Lockdown", "Missing"}), nullptr);
  const PlistValue* list = r.Find("List");
  ASSERT_TRUE(list && list->IsArray());
  ASSERT_EQ(list->items.size(), 3u);
  EXPECT_EQ(list->items[0].bytes, "a");
  EXPECT_EQ(list->items[1].integer, 2);
  EXPECT_TRUE(list->items[2].IsArray());
  // Typed reads of the wrong kind fall back.
  EXPECT_EQ(r.StringAt("Count", "none"), "none");
  EXPECT_EQ(r.IntAt("Name", -1), -1);
}

std::string Utf16Le(const std::string& utf8) {
  iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
  std::string out(utf8.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size(), outLeft = out.size();
  char* dst = out.data();
  iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return "\xFF\xFE" + out;
}

TEST(PropertyList, BothFormsOfOneListReadTheSame) {
  ExpectEveryKind(LoadPropertyList(kEveryKind));
  EXPECT_EQ(LoadPropertyList(kEveryKind).form, PlistForm::Xml);
  const std::string binary = fixtures::BinaryPlistFromXml(kEveryKind);
  ASSERT_EQ(binary.substr(0, 8), "bplist00");
  ExpectEveryKind(LoadPropertyList(binary));
  EXPECT_EQ(LoadPropertyList(binary).form, PlistForm::Binary);

  // UTF-16 with a byte-order mark, as some writers leave Info.plist.
  std::string utf16 = kEveryKind;
  utf16.replace(utf16.find("UTF-8"), 5, "UTF-16");
  ExpectEveryKind(LoadPropertyList(Utf16Le(utf16)));
}

TEST(PropertyList, OddAndDamagedInputGivesAStatusNeverACrash) {
  EXPECT_EQ(LoadPropertyList("").status, PlistStatus::Empty);
  EXPECT_EQ(LoadPropertyList("hello").status, PlistStatus::NotAPlist);
  EXPECT_EQ(LoadPropertyList("<html><body/></html>").status, PlistStatus::NotAPlist);
  // The root must be <plist>: a bare dictionary is no property list, though markup the
  // tolerant reader passes over may come first.
  EXPECT_EQ(LoadPropertyList("<dict><key>a</key><string>b</string></dict>").status,
            PlistStatus::NotAPlist);
  EXPECT_EQ(LoadPropertyList("<b/><plist><dict/></plist>").status, PlistStatus::NotAPlist);
  EXPECT_EQ(LoadPropertyList("<!-- x --></a><plist><dict><key>a</key><string>b</string></dict>"
                             "</plist>")
                .root.StringAt("a"),
            "b");
  EXPECT_EQ(LoadPropertyList("bplist15xxxxxxxx").status, PlistStatus::NotAPlist);

  // A hand-edited list libplist refuses (an unclosed <string>): the top dictionary's values
  // are still read, the way discovery has always read Info.plist.
  const std::string broken =
      "<?xml version=\"1.0\"?><plist><dict><key>Device Name</key><string>Ann's phone"
      "<key>Product Version</key><string>9.3.6</string>"
      "<key>Last Backup Date</key><date>2016-05-01T10:00:00Z</date></dict></plist>";
  const PlistDocument tolerated = LoadPropertyList(broken);
  EXPECT_EQ(tolerated.status, PlistStatus::Tolerated);
  EXPECT_EQ(tolerated.root.StringAt("Product Version"), "9.3.6");
  EXPECT_EQ(tolerated.root.DateTextAt("Last Backup Date"), "2016-05-01T10:00:00Z");

  // Every cut and every flipped byte of a binary list.
  const std::string binary = fixtures::BinaryPlistFromXml(kEveryKind);
  for (size_t cut = 0; cut < binary.size(); ++cut) {
    EXPECT_NE(LoadPropertyList(binary.substr(0, cut)).status, PlistStatus::Ok) << cut;
    std::string damaged = binary;
    damaged[cut] = static_cast<char>(damaged[cut] ^ 0x5A);
    (void)LoadPropertyList(damaged);
  }
}

TEST(PropertyList, NestingDeeperThanTheBoundIsCutNotFollowed) {
  std::string xml = "<?xml version=\"1.0\"?><plist>";
  const int depth = kMaxPlistDepth + 20;
  for (int i = 0; i < depth; ++i) xml += "<array>";
  xml += "<string>bottom</string>";
  for (int i = 0; i < depth; ++i) xml += "</array>";
  xml += "</plist>";
  for (const std::string& bytes : {xml, fixtures::BinaryPlistFromXml(xml)}) {
    const PlistDocument doc = LoadPropertyList(bytes);
    EXPECT_EQ(doc.status, PlistStatus::Truncated);
    int levels = 0;
    for (const PlistValue* v = &doc.root; v->IsArray() && !v->items.empty(); v = &v->items[0])
      ++levels;
    EXPECT_EQ(levels, kMaxPlistDepth);
  }
}

// A binary list written byte by byte from the format: objects, then a one-byte offset table,
// then the trailer (offset size 1, reference size 1, object count, top 0, table offset).
std::string Bplist(const std::vector<std::string>& objects) {
  std::string out = "bplist00";
  std::vector<size_t> offsets;
  for (const std::string& o : objects) {
    offsets.push_back(out.size());
    out += o;
  }
  const size_t table = out.size();
  for (size_t o : offsets) out += static_cast<char>(o);
  out += std::string(6, '\0') + "\x01\x01";
  for (uint64_t v : {uint64_t{objects.size()}, uint64_t{0}, uint64_t{table}})
    for (int i = 7; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

TEST(PropertyList, ListsThatWouldExplodeOrOverflowAreRefused) {
  // 40 arrays, each holding the next one twice: 200 bytes whose tree has 2^40 leaves.
  std::vector<std::string> chain;
  for (int i = 0; i < 40; ++i)
    chain.push_back({'\xA2', static_cast<char>(i + 1), static_cast<char>(i + 1)});
  chain.push_back("\x10\x07");
  EXPECT_EQ(LoadPropertyList(Bplist(chain)).status, PlistStatus::TooComplex);
  // The same chain with one reference each is a plain nested list.
  for (int i = 0; i < 40; ++i) chain[i] = {'\xA1', static_cast<char>(i + 1)};
  EXPECT_EQ(LoadPropertyList(Bplist(chain)).status, PlistStatus::Ok);

  // An array holding itself, and strings holding a zero character (ASCII and UTF-16).
  EXPECT_EQ(LoadPropertyList(Bplist({"\xA1\x00"s})).status, PlistStatus::TooComplex);
  EXPECT_EQ(LoadPropertyList(Bplist({"\xD1\x01\x02",
                                     "\x53"
                                     "a\0b"s,
                                     "\x09"}))
                .status,
            PlistStatus::TooComplex);
  EXPECT_EQ(LoadPropertyList(Bplist({"\x62\x00\x41\x00\x00"s})).status, PlistStatus::TooComplex);
  EXPECT_EQ(LoadPropertyList(Bplist({"\xD1\x01\x02",
                                     "\x53"
                                     "abc",
                                     "\x09"}))
                .root.BoolAt("abc"),
            true);

  // XML nested far deeper than any real list, and a zero character reference: never handed to
  // libplist, read tolerantly instead.
  std::string deep =
      "<?xml version=\"1.0\"?><plist><dict><key>Product Version</key>"
      "<string>9.3</string><key>x</key>";
  for (int i = 0; i < 100000; ++i) deep += "<array>";
  for (int i = 0; i < 100000; ++i) deep += "</array>";
  deep += "</dict></plist>";
  const PlistDocument doc = LoadPropertyList(deep);
  EXPECT_EQ(doc.status, PlistStatus::Tolerated);
  EXPECT_EQ(doc.root.StringAt("Product Version"), "9.3");
  EXPECT_EQ(LoadPropertyList(PlistText({{"a&#0;b", "<string>x&#x000;</string>"}})).status,
            PlistStatus::Tolerated);
}

TEST(PropertyList, IsoDatesBothWays) {
  for (const char* text : {"1970-01-01T00:00:00Z", "2001-01-01T00:00:00Z", "2014-07-17T19:15:04Z",
                           "2024-02-29T23:59:59Z", "1969-12-31T23:59:59Z"}) {
    double seconds = 0;
    ASSERT_TRUE(ParseIsoDate(text, seconds)) << text;
    EXPECT_EQ(IsoDateText(seconds), text);
  }
  double seconds = 0;
  ASSERT_TRUE(ParseIsoDate("2014-07-17T19:15:04Z", seconds));
  EXPECT_EQ(seconds, Unix(2014, 7, 17, 19, 15, 4));
  EXPECT_FALSE(ParseIsoDate("yesterday", seconds));
  EXPECT_FALSE(ParseIsoDate("2014-13-01T00:00:00Z", seconds));
}

class BackupPlistsTest : public ::testing::TestWithParam<bool> {};

// Info.plist, Manifest.plist and Status.plist of a backup, in the XML form and (parameter true)
// in the binary form: the same facts, taken from what the builder was told to write.
TEST_P(BackupPlistsTest, FactsOfTheThreeListsInEitherForm) {
  fixtures::TempDir dir("vantrel-plists");
  fixtures::BackupOptions options;
  options.includeMessages = options.includeContacts = options.includeCalls = false;
  options.deviceName = "Ann's iPhone <2>";
  options.productVersion = "14.3";
  options.productType = "iPhone9,3";
  options.lastBackupDate = "2021-01-12T08:30:45Z";
  options.layout = fixtures::ManifestLayout::ManifestDb;
  options.encipherManifestDb = true;
  options.writeStatusPlist = true;
  options.binaryPlists = GetParam();
  const fixtures::BackupTruth truth = fixtures::BuildBackup(dir.path(), options);
  const PlistForm form = GetParam() ? PlistForm::Binary : PlistForm::Xml;

  const InfoPlistFacts info = ReadInfoPlist(truth.folder);
  EXPECT_EQ(info.status, PlistStatus::Ok);
  EXPECT_EQ(info.form, form);
  EXPECT_EQ(info.deviceName, options.deviceName);
  EXPECT_EQ(info.productVersion, options.productVersion);
  EXPECT_EQ(info.IosMajor(), 14);
  EXPECT_EQ(info.productType, options.productType);
  EXPECT_EQ(info.buildVersion, options.buildVersion);
  EXPECT_EQ(info.lastBackupDate, options.lastBackupDate);

  const ManifestPlistFacts manifest = ReadManifestPlist(truth.folder);
  EXPECT_EQ(manifest.status, PlistStatus::Ok);
  EXPECT_TRUE(manifest.isEncrypted);
  EXPECT_EQ(manifest.date, options.lastBackupDate);
  EXPECT_EQ(manifest.productVersion, options.productVersion);
  EXPECT_EQ(manifest.deviceName, options.deviceName);
  EXPECT_EQ(manifest.version, "10.0");
  // The wrapped key of Manifest.db: class 4 (little-endian), then 40 bytes.
  ASSERT_EQ(manifest.manifestKey.size(), 44u);
  EXPECT_EQ(manifest.manifestKey.substr(0, 4), std::string("\x04\x00\x00\x00", 4));

  const StatusPlistFacts status = ReadStatusPlist(truth.folder);
  EXPECT_EQ(status.status, PlistStatus::Ok);
  EXPECT_EQ(status.form, form);
  EXPECT_EQ(status.version, "3.3");
  EXPECT_EQ(status.date, options.lastBackupDate);
  EXPECT_FALSE(status.isFullBackup);
  EXPECT_EQ(status.snapshotState, "finished");
  EXPECT_EQ(status.backupState, "new");
  EXPECT_EQ(status.uuid.size(), 32u);

  fixtures::TempDir empty("vantrel-plists-none");
  EXPECT_FALSE(ReadStatusPlist(empty.path()).isFullBackup);
  EXPECT_EQ(ReadInfoPlist(empty.path()).status, PlistStatus::NotAPlist);
}

INSTANTIATE_TEST_SUITE_P(Forms, BackupPlistsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Binary" : "Xml"; });

}  // namespace
}  // namespace vantrel
