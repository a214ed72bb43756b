// The attributedBody decoder on bodies written the way the devices archive them: texts of every
// script and of lengths on both sides of each integer width, both attributed-string and string
// classes; then cut-short bodies (every prefix), flipped bytes, foreign streams and crafted class
// chains, none of which may crash, hang or give a text other than the one written.
#include "sources/apple/AttributedBody.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "carve/RowReader.h"
#include "fixtures/Fixtures.h"
#include "fixtures/TypedStream.h"
#include "platform/Text.h"
#include "sqlite/BTree.h"
#include "sqlite/SqliteFile.h"

namespace vantrel {
namespace {

using fixtures::AttributedBodyOptions;
using fixtures::AttributedStringClass;
using fixtures::EncodeAttributedBody;
using fixtures::StringClass;
using fixtures::TypedStreamWriter;

ByteView View(const std::string& bytes) {
  return ByteView(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// A well-formed text of exactly n bytes mixing one-, two-, three- and four-byte characters.
std::string MixedText(size_t n) {
  static const std::vector<std::string> pieces = {"a", "é", "中", "😀", " ", "文"};
  std::string text;
  for (size_t i = 0; text.size() < n; ++i) {
    const std::string& piece = pieces[i % pieces.size()];
    text += text.size() + piece.size() <= n ? piece : std::string(1, 'z');
  }
  return text;
}

std::vector<AttributedBodyOptions> EveryClassPair() {
  std::vector<AttributedBodyOptions> all;
  for (auto a : {AttributedStringClass::Immutable, AttributedStringClass::Mutable})
    for (auto s : {StringClass::Immutable, StringClass::Mutable}) {
      AttributedBodyOptions o;
      o.attributedClass = a;
      o.stringClass = s;
      all.push_back(o);
    }
  return all;
}

// Where the text's bytes end in the body: at its first occurrence, since no header byte, type or
// class name before it holds a whole non-empty text of these tests.
size_t TextEnd(const std::string& body, const std::string& text) {
  return body.find(text) + text.size();
}

TEST(AttributedBody, DecodesTextsOfEveryScriptAndLength) {
  std::vector<std::string> texts = {"Hello",
                                    "",
                                    "你好，今天下午三点见",
                                    "👍🏽 ok 🎉🇨🇳",
                                    "line one\nline two\ttab",
                                    "混合 text with 表情 😀 and accents: ça va?"};
  // Lengths on both sides of each width the length integer takes: one byte up to 127, three
  // bytes (0x81) up to 32767, five bytes (0x82) beyond; and around 65535, where an unsigned
  // 2-byte field would end.
  for (size_t n : {127u, 128u, 255u, 256u, 32767u, 32768u, 65535u, 65536u, 200000u})
    texts.push_back(MixedText(n));
  for (const AttributedBodyOptions& options : EveryClassPair()) {
    for (const std::string& text : texts) {
      SCOPED_TRACE("text of " + std::to_string(text.size()) + " bytes, classes " +
                   std::to_string(static_cast<int>(options.attributedClass)) + "/" +
                   std::to_string(static_cast<int>(options.stringClass)));
      const std::string body = EncodeAttributedBody(text, options);
      const AttributedBodyText decoded = DecodeAttributedBody(View(body));
      EXPECT_EQ(decoded.status, AttributedBodyStatus::Decoded);
      EXPECT_EQ(decoded.text, text);
      EXPECT_EQ(TextOfAttributedBody(View(body)), text);
    }
  }
  // Without the attribute run, and with bytes following the archive (a carved body running
  // into the next record), the text is the same.
  AttributedBodyOptions bare;
  bare.messagePartRun = false;
  EXPECT_EQ(TextOfAttributedBody(View(EncodeAttributedBody("bare", bare))), "bare");
  EXPECT_EQ(TextOfAttributedBody(View(EncodeAttributedBody("tail") + "\x01\x02garbage")), "tail");
}

// Messages whose words are only in attributedBody, written into the iOS 7 message table by SQLite
// with 1024-byte pages (long bodies continue on overflow pages), then read back through this
// program's page reader: each body is the blob SQLite holds, and decodes to the text written.
TEST(AttributedBody, BodiesStoredBySqliteDecodeFromThePageReader) {
  fixtures::TempDir dir;
  const std::string path = dir.File("sms.db");
  std::map<int64_t, std::string> written;  // rowid -> text
  {
    fixtures::OpenOptions options;
    options.pageSize = 1024;
    fixtures::Database sqlite(path, options);
    sqlite.Exec(fixtures::ReadSchemaFile("ios7_sms.sql"));
    auto insert = sqlite.Prepare(
        "INSERT INTO message (guid, text, attributedBody, date) VALUES (?, NULL, ?, ?)");
    const std::vector<std::string> texts = {"Hello",        "晚上好",        "🎂 生日快乐!",   "",
                                            MixedText(900), MixedText(5000), MixedText(70000)};
    int n = 0;
    for (const std::string& text : texts) {
      for (const AttributedBodyOptions& options : EveryClassPair()) {
        ++n;
        insert.Bind(1, "GUID-" + std::to_string(n))
            .BindBlob(2, EncodeAttributedBody(text, options))
            .Bind(3, fixtures::AppleSeconds(2014, 3, 1) + n);
        insert.Run();
        written[sqlite.LastInsertRowid()] = text;
      }
    }
  }
  fixtures::Database check(path, fixtures::OpenOptions{.create = false, .readOnly = true});
  std::map<int64_t, std::string> stored;  // rowid -> blob as SQLite returns it
  for (const fixtures::Row& row : check.Query("SELECT ROWID, attributedBody FROM message"))
    stored[row[0].integer] = row[1].bytes;

  SqliteFile db;
  ASSERT_EQ(OpenDatabase("", db, path), OpenStatus::Opened);
  const TableInfo& table = db.tableMap.at("message");
  size_t bodyColumn = 0;
  while (table.columns[bodyColumn].name != "attributedBody") ++bodyColumn;
  std::map<int64_t, std::string> decoded;
  for (const PageSet& pageSet : table.pageSets) {
    VisitLeafPages(db, pageSet, [&](const LeafPage& page) {
      for (uint16_t offset : page.liveOffsets) {
        CellPayload cell;
        RecordHeader header;
        ASSERT_TRUE(AssembleCellPayload(db, page.tree.bytes, offset, cell));
        ASSERT_TRUE(DecodeRecordHeader(cell, header));
        const std::optional<CellColumn> column = ColumnOfCell(cell, header, bodyColumn);
        ASSERT_TRUE(column.has_value());
        const ByteView body = column->content;
        const int64_t rowid = static_cast<int64_t>(cell.rowid);
        EXPECT_EQ(body.AsString(), stored[rowid]) << "row " << rowid;
        decoded[rowid] = TextOfAttributedBody(body).value_or("(no text)");
      }
    });
  }
  EXPECT_EQ(decoded, written);
}

// The length of the text in each of the three integer widths, as the writer puts it.
TEST(AttributedBody, LengthWidthsAreTheStreamIntegers) {
  auto lengthField = [](size_t n) {
    const std::string text(n, 'x');
    const std::string body = EncodeAttributedBody(text);
    const size_t textStart = body.find(text);
    // The field sits between the "+" type (its first occurrence is new: 0x84 0x01 '+') and the
    // text.
    const size_t plus = body.find("\x84\x01+");
    return body.substr(plus + 3, textStart - plus - 3);
  };
  EXPECT_EQ(lengthField(5), "\x05");
  EXPECT_EQ(lengthField(127), "\x7f");
  EXPECT_EQ(lengthField(128), std::string("\x81\x80\x00", 3));
  EXPECT_EQ(lengthField(1000), std::string("\x81\xe8\x03", 3));
  EXPECT_EQ(lengthField(32767), std::string("\x81\xff\x7f", 3));
  EXPECT_EQ(lengthField(32768), std::string("\x82\x00\x80\x00\x00", 5));
  EXPECT_EQ(lengthField(65536), std::string("\x82\x00\x00\x01\x00", 5));

  // A length of 32768 to 65535 in the 2-byte form, read as unsigned, is still the text's length.
  const std::string text = MixedText(40000);
  TypedStreamWriter w;
  w.BeginObject({{"NSAttributedString", 0}, {"NSObject", 0}});
  w.BeginObject({{"NSString", 1}, {"NSObject", 0}});
  w.SharedString("+");
  w.Byte(0x81);
  w.Byte(40000 & 0xFF);
  w.Byte(40000 >> 8);
  EXPECT_EQ(TextOfAttributedBody(View(w.bytes() + text + "\x86")), text);
}

// "Hello" as NSAttributedString over NSString with one message-part run, written out byte by
// byte from the format: the writer's output, and the decoder's input without the writer.
TEST(AttributedBody, ByteLayoutOfAPlainMessage) {
  static constexpr char kLayout[] =
      "\x04\x0bstreamtyped\x81\xe8\x03"                        // header
      "\x84\x01@"                                              // type "@" (string 0)
      "\x84\x84\x84\x12NSAttributedString\x00"                 // object 0, class 1 (string 1)
      "\x84\x84\x08NSObject\x00\x85"                           // class 2 (string 2), chain end
      "\x92"                                                   // type "@" (string 0)
      "\x84\x84\x84\x08NSString\x01\x94"                       // object 3, class 4 -> class 2
      "\x84\x01+\x05Hello\x86"                                 // type "+" (string 4), the text
      "\x84\x02iI\x01\x05"                                     // run: dictionary 1, 5 units
      "\x92\x84\x84\x84\x0cNSDictionary\x00\x94"               // object 5, class 6 -> class 2
      "\x84\x01i\x01"                                          // one pair
      "\x92\x84\x96\x96\x1d__kIMMessagePartAttributeName\x86"  // key: object 7 of class 4
      "\x92\x84\x84\x84\x08NSNumber\x00\x84\x84\x07NSValue\x00\x94"  // value: object 8
      "\x84\x01*\x84\x99\x99\x00\x86"                                // type "*", "i", value 0
      "\x86\x86";  // dictionary, attributed string
  const std::string expected(kLayout, sizeof kLayout - 1);
  AttributedBodyOptions options;
  options.attributedClass = AttributedStringClass::Immutable;
  EXPECT_EQ(EncodeAttributedBody("Hello", options), expected);
  EXPECT_EQ(TextOfAttributedBody(View(expected)), "Hello");
}

TEST(AttributedBody, EveryPrefixGivesTheWholeTextOrNothing) {
  for (const std::string& text :
       {std::string("Hi"), std::string("周末一起吃饭吗？🍜"), MixedText(300), std::string()}) {
    for (const AttributedBodyOptions& options : EveryClassPair()) {
      const std::string body = EncodeAttributedBody(text, options);
      // The text is complete once its last byte is there; the empty text once its length is.
      const size_t whole = text.empty() ? body.find("\x84\x01+") + 4 : TextEnd(body, text);
      for (size_t n = 0; n <= body.size(); ++n) {
        SCOPED_TRACE(std::to_string(n) + " of " + std::to_string(body.size()) + " bytes");
        const AttributedBodyText decoded = DecodeAttributedBody(View(body).Sub(0, n));
        if (n >= whole) {
          EXPECT_EQ(decoded.status, AttributedBodyStatus::Decoded);
          EXPECT_EQ(decoded.text, text);
        } else {
          EXPECT_EQ(decoded.status,
                    n == 0 ? AttributedBodyStatus::NotTypedStream : AttributedBodyStatus::CutShort);
          EXPECT_EQ(decoded.text, "");
        }
      }
    }
  }
}

TEST(AttributedBody, FlippedBytesNeverCrashOrGiveBrokenText) {
  std::mt19937 random(20261207);
  for (const std::string& text : {std::string("OK"), std::string("明天见 👋"), MixedText(200)}) {
    for (const AttributedBodyOptions& options : EveryClassPair()) {
      const std::string body = EncodeAttributedBody(text, options);
      const size_t end = TextEnd(body, text);
      // Every bit of every byte, one at a time.
      for (size_t i = 0; i < body.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
          std::string damaged = body;
          damaged[i] = static_cast<char>(damaged[i] ^ (1 << bit));
          const std::optional<std::string> decoded = TextOfAttributedBody(View(damaged));
          if (decoded) {
            EXPECT_TRUE(IsValidUtf8(*decoded)) << "byte " << i << " bit " << bit;
          }
          // Outside the text's own bytes, a flip can only keep the text or lose it. The run
          // after the string is never read, so flips there keep it.
          if (decoded && (i < end - text.size() || i >= end)) {
            EXPECT_EQ(*decoded, text) << "byte " << i << " bit " << bit;
          }
          if (i > end) {
            EXPECT_EQ(decoded, text) << "byte " << i << " bit " << bit;
          }
        }
      }
      // Random bytes written over random places, several at once.
      for (int round = 0; round < 2000; ++round) {
        std::string damaged = body;
        const int count = 1 + static_cast<int>(random() % 6);
        for (int k = 0; k < count; ++k)
          damaged[random() % damaged.size()] = static_cast<char>(random() & 0xFF);
        const std::optional<std::string> decoded = TextOfAttributedBody(View(damaged));
        if (decoded) {
          EXPECT_TRUE(IsValidUtf8(*decoded));
        }
      }
    }
  }
}

TEST(AttributedBody, LengthDamageIsCaughtAtTheEndOfTheString) {
  const std::string text = "See you at eight";
  const std::string body = EncodeAttributedBody(text);
  const size_t lengthAt = body.find(text) - 1;
  ASSERT_EQ(static_cast<uint8_t>(body[lengthAt]), text.size());
  // Shorter: the byte after the shortened text is a letter, not the end of the string object.
  std::string shorter = body;
  shorter[lengthAt] = static_cast<char>(text.size() - 3);
  EXPECT_EQ(DecodeAttributedBody(View(shorter)).status, AttributedBodyStatus::Damaged);
  // Longer than the bytes that follow: the body reads as cut short.
  std::string longer = body;
  longer[lengthAt] = 0x7f;
  EXPECT_EQ(DecodeAttributedBody(View(longer)).status, AttributedBodyStatus::CutShort);
  // A negative length.
  std::string negative = body;
  negative[lengthAt] = static_cast<char>(0xf0);
  EXPECT_EQ(DecodeAttributedBody(View(negative)).status, AttributedBodyStatus::Damaged);
  // Bytes that are not UTF-8 where the text was.
  std::string invalid = body;
  invalid[lengthAt + 1] = static_cast<char>(0xff);
  EXPECT_EQ(DecodeAttributedBody(View(invalid)).status, AttributedBodyStatus::Damaged);
}

TEST(AttributedBody, ForeignBytesAreNotTakenForText) {
  auto status = [](const std::string& bytes) { return DecodeAttributedBody(View(bytes)).status; };
  EXPECT_EQ(status(""), AttributedBodyStatus::NotTypedStream);
  EXPECT_EQ(status("bplist00\xd1\x01\x02"), AttributedBodyStatus::NotTypedStream);
  EXPECT_EQ(status("Hello, plain text"), AttributedBodyStatus::NotTypedStream);
  // The big-endian flavour of the format, which the devices do not write.
  std::string bigEndian = EncodeAttributedBody("Hello");
  bigEndian.replace(2, 11, "typedstream");
  EXPECT_EQ(status(bigEndian), AttributedBodyStatus::NotTypedStream);
  std::string version3 = EncodeAttributedBody("Hello");
  version3[0] = 3;
  EXPECT_EQ(status(version3), AttributedBodyStatus::NotTypedStream);

  // A well-formed stream whose root is a plain string, and one whose attributed string starts
  // with a dictionary.
  TypedStreamWriter plain;
  plain.BeginObject({{"NSString", 1}, {"NSObject", 0}});
  plain.CountedBytes("Hello");
  plain.EndObject();
  EXPECT_EQ(status(plain.bytes()), AttributedBodyStatus::NotAttributedString);
  TypedStreamWriter dictionaryFirst;
  dictionaryFirst.BeginObject({{"NSAttributedString", 0}, {"NSObject", 0}});
  dictionaryFirst.BeginObject({{"NSDictionary", 0}, {"NSObject", 0}});
  dictionaryFirst.SharedString("i");
  dictionaryFirst.Integer(0);
  EXPECT_EQ(status(dictionaryFirst.bytes()), AttributedBodyStatus::NotAttributedString);
  // A string archived as a C string ("*") instead of counted bytes.
  TypedStreamWriter cString;
  cString.BeginObject({{"NSAttributedString", 0}, {"NSObject", 0}});
  cString.BeginObject({{"NSString", 1}, {"NSObject", 0}});
  cString.SharedString("*");
  cString.Integer(5);
  EXPECT_EQ(status(cString.bytes()), AttributedBodyStatus::NotAttributedString);
}

TEST(AttributedBody, CraftedReferencesAndClassChainsEndQuietly) {
  auto status = [](const std::string& bytes) { return DecodeAttributedBody(View(bytes)).status; };
  using namespace std::string_literals;
  const std::string header = TypedStreamWriter().bytes();
  const std::string at = "\x84\x01@";
  // A class whose superclass is itself (object 0, class 1 -> reference to 1).
  EXPECT_EQ(status(header + at +
                   "\x84\x84\x84\x03"
                   "Foo\x00\x93"s),
            AttributedBodyStatus::NotAttributedString);
  // Two classes naming each other: Foo (1) -> Bar (2) -> Foo.
  EXPECT_EQ(status(header + at +
                   "\x84\x84\x84\x03"
                   "Foo\x00\x84\x84\x03"
                   "Bar\x00\x93"s),
            AttributedBodyStatus::NotAttributedString);
  // References to entries not yet defined, and to an object where a class must stand.
  EXPECT_EQ(status(header + at + "\x84\xa0"), AttributedBodyStatus::Damaged);
  EXPECT_EQ(status(header + "\x95"), AttributedBodyStatus::Damaged);
  EXPECT_EQ(status(header + at + "\x84\x92"), AttributedBodyStatus::Damaged);
  // Tags where an integer or a definition must stand.
  EXPECT_EQ(status(header + at + "\x86"), AttributedBodyStatus::Damaged);
  EXPECT_EQ(status(header + "\x83"), AttributedBodyStatus::Damaged);
  // A chain of more classes than any archive has.
  std::string deep = header + at + "\x84";
  for (int i = 0; i < 40; ++i)
    deep +=
        "\x84\x84\x02"
        "C"s +
        static_cast<char>('A' + i) + '\0';
  deep += "\x85";
  EXPECT_EQ(status(deep), AttributedBodyStatus::Damaged);
  // The same attributed string found through a chain that refers back to earlier classes still
  // decodes: a subclass of NSAttributedString named only by the chain.
  TypedStreamWriter subclass;
  subclass.BeginObject({{"IMPartAttributedString", 0},
                        {"NSMutableAttributedString", 0},
                        {"NSAttributedString", 0},
                        {"NSObject", 0}});
  subclass.BeginObject({{"NSMutableString", 1}, {"NSString", 1}, {"NSObject", 0}});
  subclass.CountedBytes("deep");
  subclass.EndObject();
  EXPECT_EQ(TextOfAttributedBody(View(subclass.bytes())), "deep");
}

}  // namespace
}  // namespace vantrel
