#include "platform/Text.h"

#include <gtest/gtest.h>

#include <string>

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
