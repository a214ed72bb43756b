#include "platform/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vantrel;

TEST(Utf8ToAnsi, KeepsValidTextAndStopsAtZero) {
  EXPECT_EQ(Utf8ToAnsi("hello, 世界 😀"), "hello, 世界 😀");
  EXPECT_EQ(Utf8ToAnsi(std::string_view("ab\0cd", 5)), "ab");
  EXPECT_EQ(Utf8ToAnsi(""), "");
}

TEST(Utf8ToAnsi, ReplacesEachIllFormedSequence) {
  // A lone continuation byte, an overlong '/', a UTF-8 encoded surrogate and a
  // truncated three-byte sequence at the end each become one U+FFFD per maximal part.
  EXPECT_EQ(Utf8ToAnsi("a\x80z"), "a\uFFFDz");
  EXPECT_EQ(Utf8ToAnsi("\xC0\xAF"), "\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80"), "\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToAnsi("x\xE4\xB8"), "x\uFFFD");
  EXPECT_EQ(Utf8ToAnsi("\xF4\x90\x80\x80"), "\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_TRUE(IsValidUtf8(Utf8ToAnsi("\xff\xfe bad \xC3")));
}

TEST(Utf8ToAnsi, SequencesAtEveryPlaceInLongAsciiText) {
  // ASCII is skipped several bytes at a time: a character, a bad byte or a
  // zero must be seen wherever it falls in the stride, the very end included.
  const std::string pad(20, 'a');
  for (size_t at = 0; at <= pad.size(); ++at) {
    const std::string before = pad.substr(0, at), after = pad.substr(at);
    SCOPED_TRACE(at);
    EXPECT_EQ(Utf8ToAnsi(before + "世" + after), before + "世" + after);
    EXPECT_TRUE(IsValidUtf8(before + "世" + after));
    EXPECT_EQ(Utf8ToAnsi(before + "\xff" + after), before + "\uFFFD" + after);
    EXPECT_FALSE(IsValidUtf8(before + "\xff" + after));
    EXPECT_EQ(Utf8ToAnsi(before + "\xE4\xB8"), before + "\uFFFD");
    EXPECT_EQ(Utf8ToAnsi(before + std::string(1, '\0') + after), before);
  }
}

TEST(Utf8ToAnsi, EveryTwoAndThreeByteSequenceAsTheValidityCheckSees) {
  // Common sequences take a shorter path than the rest: each lead byte from 0x80 up, with
  // every second byte and a continuation or ASCII third, whole or cut by the end, is kept
  // exactly when IsValidUtf8 accepts it, and otherwise replaced, the ASCII after it kept.
  for (unsigned c0 = 0x80; c0 <= 0xFF; ++c0)
    for (unsigned c1 = 0; c1 <= 0xFF; ++c1)
      for (const char* tail : {"", "\x80", "\xBF", "z", "\xC0"}) {
        const std::string seq = std::string(1, static_cast<char>(c0)) +
                                (c1 ? std::string(1, static_cast<char>(c1)) : "") + tail;
        for (const std::string& text : {seq, "\xE4\xB8\xAD" + seq + "ok"}) {
          const std::string out = Utf8ToAnsi(text);
          if (IsValidUtf8(text)) {
            EXPECT_EQ(out, text);
          } else {
            EXPECT_TRUE(IsValidUtf8(out)) << std::hex << c0 << " " << c1;
            EXPECT_NE(out.find("\uFFFD"), std::string::npos) << std::hex << c0 << " " << c1;
          }
        }
      }
}

TEST(Utf8ToAnsi, SequencesAtEveryPlaceOfASixteenByteBlock) {
  // Texts are judged sixteen bytes at a time, each byte with the three before it, the last
  // block padded: every lead byte, with second, third and fourth bytes that make it whole, cut,
  // overlong, a surrogate or too large, at each place of a block and across into the next,
  // after ASCII or Chinese text, is kept exactly when IsValidUtf8 accepts it.
  const std::vector<std::string> seconds = {"\x80", "\x8F", "\x90", "\x9F", "\xA0", "\xBF", "\xC0", "z"};
  size_t kept = 0;
  for (unsigned c0 = 0x80; c0 <= 0xFF; ++c0)
    for (const std::string& c1 : seconds)
      for (const char* c2 : {"", "\x80", "\xBF", "z"})
        for (const char* c3 : {"", "\x80", "\x8F", "z"}) {
          const std::string seq = std::string(1, static_cast<char>(c0)) + c1 + c2 + c3;
          for (size_t at = 0; at <= 17; ++at)
            for (const std::string& before : {std::string(at, 'a'), "中文" + std::string(at, 'a')})
              for (const std::string& text : {before + seq, before + seq + "中" + std::string(14, 'b')}) {
                const std::string out = Utf8ToAnsi(text);
                if (IsValidUtf8(text)) {
                  ++kept;
                  ASSERT_EQ(out, text) << std::hex << c0 << " at " << std::dec << at;
                } else {
                  ASSERT_NE(out.find("\uFFFD"), std::string::npos)
                      << std::hex << c0 << " at " << std::dec << at << " in " << text;
                  ASSERT_TRUE(IsValidUtf8(out));
                }
              }
        }
  EXPECT_GT(kept, 0u);
}

TEST(TextConversion, Utf16OfEveryTwoAndThreeByteSequenceInAsciiRuns) {
  // Each sequence between ASCII runs long enough for the sixteen-byte path,
  // appended to what is there already. A well-formed text comes out as iconv
  // writes it; an ill-formed one with U+FFFD and never a lone surrogate.
  const std::string run(20, 'a');
  for (unsigned c0 = 0xC0; c0 <= 0xEF; ++c0)
    for (unsigned c1 = 0; c1 <= 0xFF; ++c1)
      for (unsigned c2 : {0x41u, 0x80u, 0xBFu}) {
        const std::string text =
            run + static_cast<char>(c0) + static_cast<char>(c1) + static_cast<char>(c2) + run;
        std::string out = "ab";
        AppendUtf8AsUtf16Le(text, out);
        ASSERT_EQ(out.substr(0, 2), "ab");
        out.erase(0, 2);
        ASSERT_EQ(out.size() % 2, 0u);
        if (IsValidUtf8(text)) {
          std::string expected;
          ASSERT_TRUE(ConvertEncoding(text, "UTF-8", "UTF-16LE", expected));
          EXPECT_EQ(out, expected) << std::hex << c0 << " " << c1 << " " << c2;
        } else {
          bool replaced = false;
          for (size_t k = 0; k < out.size(); k += 2) {
            const unsigned unit = static_cast<uint8_t>(out[k]) | static_cast<uint8_t>(out[k + 1])
                                                                     << 8;
            EXPECT_FALSE(unit >= 0xD800 && unit <= 0xDFFF) << std::hex << c0 << " " << c1;
            replaced = replaced || unit == 0xFFFD;
          }
          EXPECT_TRUE(replaced) << std::hex << c0 << " " << c1 << " " << c2;
        }
      }
}

TEST(TextConversion, Utf16AndCodePages) {
  EXPECT_EQ(Utf8ToUtf16Le("A中😀"), std::string("A\0\x2D\x4E\x3D\xD8\x00\xDE", 8));
  std::string gbk;
  bool lossy = true;
  ASSERT_TRUE(ConvertEncoding("中文·", "UTF-8", "GBK", gbk, &lossy));
  EXPECT_EQ(gbk, "\xD6\xD0\xCE\xC4\xA1\xA4");
  EXPECT_FALSE(lossy);
  std::string back;
  ASSERT_TRUE(ConvertEncoding(gbk, "GBK", "UTF-8", back));
  EXPECT_EQ(back, "中文·");
  // An emoji has no GBK form: it becomes '?' and the loss is reported.
  ASSERT_TRUE(ConvertEncoding("a😀b", "UTF-8", "GBK", gbk, &lossy));
  EXPECT_EQ(gbk, "a?b");
  EXPECT_TRUE(lossy);
  EXPECT_FALSE(ConvertEncoding("x", "UTF-8", "NO-SUCH-CODEPAGE", gbk));
  EXPECT_FALSE(IsKnownEncoding("NO-SUCH-CODEPAGE"));
  EXPECT_TRUE(IsKnownEncoding("GBK"));
}

TEST(CarvedText, SoundPrefixIsTheLongestWellFormedPrefixWithoutZero) {
  // Every lead byte with every second byte and a few third bytes, at every place of an ASCII
  // run (which is skipped several bytes at a time), and once more before a zero: the prefix
  // is the longest one IsValidUtf8 accepts that holds no zero byte.
  const auto expected = [](const std::string& text) {
    for (size_t k = text.size();; --k) {
      const std::string prefix = text.substr(0, k);
      if (prefix.find('\0') == std::string::npos && IsValidUtf8(prefix)) return k;
    }
  };
  for (unsigned c0 = 0x80; c0 <= 0xFF; ++c0)
    for (unsigned c1 = 0; c1 <= 0xFF; c1 += (c1 < 0x7F || c1 >= 0xC0) ? 7 : 1)
      for (const char* tail : {"", "\x80", "\xBF", "z"})
        for (const size_t at : {0, 3, 9}) {
          const std::string seq =
              std::string(1, static_cast<char>(c0)) + std::string(1, static_cast<char>(c1)) + tail;
          for (const std::string& text : {std::string(at, 'a') + seq + "ok",
                                          std::string(at, 'a') + seq + std::string(1, '\0') + "z"})
            ASSERT_EQ(SoundUtf8Prefix(text), expected(text)) << std::hex << c0 << " " << c1;
        }
  EXPECT_EQ(SoundUtf8Prefix(std::string(17, 'a') + std::string(1, '\0')), 17u);
  EXPECT_EQ(SoundUtf8Prefix("世界"), 6u);
}

TEST(CarvedText, CutCharactersAtEitherEnd) {
  // The continuation bytes a piece starts with, and a character its end cuts short (its first
  // one, two or three bytes): whole characters before and after are kept.
  for (const std::string character : {"é", "世", "😀"}) {
    for (size_t keep = 1; keep < character.size(); ++keep) {
      SCOPED_TRACE(character + " " + std::to_string(keep));
      const std::string head = character.substr(0, keep), tail = character.substr(keep);
      EXPECT_EQ(WithoutCutCharacter("ab世" + head), 5u);
      EXPECT_EQ(WithoutCutCharacter(head), 0u);
      EXPECT_EQ(LeadingContinuationBytes(tail + "世ab"), tail.size());
    }
    EXPECT_EQ(WithoutCutCharacter("ab" + character), 2 + character.size());
    EXPECT_EQ(LeadingContinuationBytes(character), 0u);
  }
  EXPECT_EQ(WithoutCutCharacter(""), 0u);
  EXPECT_EQ(WithoutCutCharacter("\x80\x80\x80\x80"), 4u);  // no lead: nothing to cut
}

TEST(CarvedText, EveryCodePointAsUtf8) {
  // What AppendUtf8 writes is well-formed and reads back (through UTF-16) as the code point.
  for (uint32_t cp = 1; cp < 0x110000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string utf8;
    AppendUtf8(cp, utf8);
    ASSERT_TRUE(IsValidUtf8(utf8)) << std::hex << cp;
    const std::string utf16 = Utf8ToUtf16Le(utf8);
    const auto unit = [&](size_t k) {
      return static_cast<uint32_t>(static_cast<uint8_t>(utf16[2 * k])) |
             static_cast<uint32_t>(static_cast<uint8_t>(utf16[2 * k + 1])) << 8;
    };
    const uint32_t back =
        utf16.size() == 2 ? unit(0) : 0x10000 + ((unit(0) - 0xD800) << 10) + (unit(1) - 0xDC00);
    ASSERT_EQ(back, cp);
  }
}
