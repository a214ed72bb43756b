// Keyed archives written as NSKeyedArchiver lays them out ($archiver, $top, $objects, CF$UID
// references), in XML and in the binary form libplist writes: references resolved, cycles and
// explosions bounded, broken archives named; and MBFile records as the fixtures archive them.
#include "backup/KeyedArchive.h"

#include <gtest/gtest.h>

#include "fixtures/Fixtures.h"

namespace vantrel {
namespace {

std::string Uid(int n) {
  return "<dict><key>CF$UID</key><integer>" + std::to_string(n) + "</integer></dict>";
}
std::string Class(const std::string& name) {
  return "<dict><key>$classname</key><string>" + name + "</string><key>$classes</key><array>" +
         "<string>" + name + "</string><string>NSObject</string></array></dict>";
}
std::string Archive(const std::vector<std::string>& objects, const std::string& top) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>$archiver</key><string>NSKeyedArchiver</string><key>$objects</key><array>";
  for (const std::string& o : objects) xml += o;
  xml += "</array>" + top + "<key>$version</key><integer>100000</integer></dict></plist>";
  return xml;
}
std::string Top(int n) {
  return "<key>$top</key><dict><key>root</key>" + Uid(n) + "</dict>";
}

// Each archive in both forms.
std::vector<ArchiveDocument> Decode(const std::string& xml) {
  return {DecodeKeyedArchive(xml), DecodeKeyedArchive(fixtures::BinaryPlistFromXml(xml))};
}

TEST(KeyedArchive, NestedReferencesResolveToPlainValues) {
  const std::string xml = Archive(
      {
          "<string>$null</string>",
          "<dict><key>$class</key>" + Uid(7) + "<key>name</key>" + Uid(2) + "<key>tags</key>" +
              Uid(3) + "<key>info</key>" + Uid(5) + "<key>nothing</key>" + Uid(0) +
              "<key>count</key><integer>3</integer><key>blob</key>" + Uid(12) + "</dict>",
          "<string>Ann</string>",
          "<dict><key>$class</key>" + Uid(8) + "<key>NS.objects</key><array>" + Uid(2) + Uid(4) +
              "</array></dict>",
          "<string>second</string>",
          "<dict><key>$class</key>" + Uid(9) + "<key>NS.keys</key><array>" + Uid(6) +
              "</array><key>NS.objects</key><array>" + Uid(10) + "</array></dict>",
          "<string>when</string>",
          Class("Person"),
          Class("NSArray"),
          Class("NSDictionary"),
          "<dict><key>$class</key>" + Uid(11) + "<key>NS.time</key><real>500000000.5</real></dict>",
          Class("NSDate"),
          "<dict><key>$class</key>" + Uid(13) + "<key>NS.data</key><data>AAEC/w==</data></dict>",
          Class("NSMutableData"),
      },
      Top(1));
  for (const ArchiveDocument& doc : Decode(xml)) {
    EXPECT_EQ(doc.status, ArchiveStatus::Ok);
    const PlistValue& r = doc.root;
    ASSERT_TRUE(r.IsDict());
    EXPECT_EQ(r.StringAt("$class"), "Person");
    EXPECT_EQ(r.StringAt("name"), "Ann");
    EXPECT_EQ(r.IntAt("count"), 3);
    const PlistValue* tags = r.Find("tags");
    ASSERT_TRUE(tags && tags->IsArray());
    ASSERT_EQ(tags->items.size(), 2u);
    EXPECT_EQ(tags->items[0].bytes, "Ann");
    EXPECT_EQ(tags->items[1].bytes, "second");
    const PlistValue* when = r.Find({"info", "when"});
    ASSERT_NE(when, nullptr);
    EXPECT_EQ(when->kind, PlistValue::Kind::Date);
    EXPECT_DOUBLE_EQ(when->real, 500000000.5 + 978307200);
    EXPECT_EQ(r.Find("nothing")->kind, PlistValue::Kind::None);  // $null
    EXPECT_EQ(r.DataAt("blob"), std::string("\x00\x01\x02\xff", 4));
    EXPECT_EQ(doc.cyclesCut, 0u);
  }
}

TEST(KeyedArchive, CyclesAndExplosionsEndBounded) {
  // Two objects naming each other, and an array holding itself.
  const std::string cycle =
      Archive({"<string>$null</string>",
               "<dict><key>$class</key>" + Uid(3) + "<key>next</key>" + Uid(2) + "</dict>",
               "<dict><key>$class</key>" + Uid(3) + "<key>next</key>" + Uid(1) + "<key>self</key>" +
                   Uid(4) + "</dict>",
               Class("Node"),
               "<dict><key>$class</key>" + Uid(5) + "<key>NS.objects</key><array>" + Uid(4) +
                   "</array></dict>",
               Class("NSArray")},
              Top(1));
  for (const ArchiveDocument& doc : Decode(cycle)) {
    EXPECT_EQ(doc.status, ArchiveStatus::Ok);
    EXPECT_EQ(doc.cyclesCut, 2u);
    const PlistValue* back = doc.root.Find({"next", "next"});
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->kind, PlistValue::Kind::Uid);
    EXPECT_EQ(back->integer, 1);
    const PlistValue* self = doc.root.Find({"next", "self"});
    ASSERT_TRUE(self && self->IsArray() && self->items.size() == 1);
    EXPECT_EQ(self->items[0].kind, PlistValue::Kind::Uid);
  }

  // 40 arrays, each naming the next twice (2^40 paths), then 200 arrays nested one in another.
  for (const auto& [count, twice] : {std::pair{40, true}, std::pair{200, false}}) {
    std::vector<std::string> objects = {"<string>$null</string>", Class("NSArray")};
    for (int i = 0; i < count; ++i) {
      const int next = i + 1 < count ? 3 + i : 0;
      objects.push_back("<dict><key>$class</key>" + Uid(1) + "<key>NS.objects</key><array>" +
                        Uid(next) + (twice ? Uid(next) : "") + "</array></dict>");
    }
    for (const ArchiveDocument& doc : Decode(Archive(objects, Top(2))))
      EXPECT_EQ(doc.status, ArchiveStatus::Truncated) << count;
  }
}

TEST(KeyedArchive, BrokenArchivesAreNamed) {
  const std::vector<std::string> objects = {"<string>$null</string>", "<string>x</string>"};
  for (const ArchiveDocument& doc : Decode(Archive(objects, "")))
    EXPECT_EQ(doc.status, ArchiveStatus::NoTop);
  for (const ArchiveDocument& doc : Decode(Archive(objects, Top(9))))
    EXPECT_EQ(doc.status, ArchiveStatus::NoTop);
  for (const ArchiveDocument& doc : Decode(Archive(objects, Top(1)))) {
    EXPECT_EQ(doc.status, ArchiveStatus::Ok);
    EXPECT_EQ(doc.root.bytes, "x");
  }
  // A reference past the end of $objects reads as nothing and is counted.
  const std::string dangling =
      Archive({"<string>$null</string>", "<dict><key>a</key>" + Uid(77) + "</dict>"}, Top(1));
  for (const ArchiveDocument& doc : Decode(dangling)) {
    EXPECT_EQ(doc.status, ArchiveStatus::Truncated);
    EXPECT_EQ(doc.badReferences, 1u);
  }
  EXPECT_EQ(DecodeKeyedArchive(std::string_view("not a plist")).status, ArchiveStatus::NotAPlist);
  EXPECT_EQ(DecodeKeyedArchive(
                fixtures::BinaryPlistFromXml("<plist><dict><key>$top</key><dict/></dict></plist>"))
                .status,
            ArchiveStatus::NotAnArchive);
  EXPECT_FALSE(DecodeMbFile("").decoded);
}

TEST(KeyedArchive, MbFileRecordsKeepEveryField) {
  fixtures::ManifestFileTruth f;
  f.domain = "HomeDomain";
  f.relativePath = "Library/SMS/sms.db";
  f.size = 5 * 1024 * 1024 + 17;
  f.mode = 0x81A4;
  f.inode = 1234567890123;
  f.userId = 501;
  f.groupId = 20;
  f.modified = 1610440245;
  f.statusChanged = 1610440246;
  f.birth = 1500000000;
  f.protectionClass = 3;
  f.hasKey = true;
  f.encryptionKey = std::string("\x03\x00\x00\x00", 4) + std::string(40, '\x9c');
  f.encryptionKey[20] = '\0';
  const MbFile file = DecodeMbFile(fixtures::MbFileArchive(f));
  ASSERT_TRUE(file.decoded);
  EXPECT_EQ(file.relativePath, f.relativePath);
  EXPECT_EQ(file.size, f.size);
  EXPECT_EQ(file.mode, f.mode);
  EXPECT_EQ(file.inode, f.inode);
  EXPECT_EQ(file.userId, f.userId);
  EXPECT_EQ(file.groupId, f.groupId);
  EXPECT_EQ(file.lastModified, f.modified);
  EXPECT_EQ(file.lastStatusChange, f.statusChanged);
  EXPECT_EQ(file.birth, f.birth);
  EXPECT_EQ(file.protectionClass, f.protectionClass);
  EXPECT_TRUE(file.hasEncryptionKey);
  EXPECT_EQ(file.encryptionKey, f.encryptionKey);
  EXPECT_EQ(file.target, "");

  fixtures::ManifestFileTruth link = f;
  link.hasKey = false;
  link.mode = 0xA1ED;
  link.target = "/private/var/mobile/Library/Preferences/x.plist";
  const MbFile linkFile = DecodeMbFile(fixtures::MbFileArchive(link));
  EXPECT_EQ(linkFile.target, link.target);
  EXPECT_FALSE(linkFile.hasEncryptionKey);
  EXPECT_EQ(linkFile.mode, 0xA1ED);
}

}  // namespace
}  // namespace vantrel
