// The GUID shape test of the message scans (IsGuidAt): every byte of every
// position, the GUID at the start, in the middle and at the very end of a
// block, and the neighbours of the character ranges ('/' and ':' around the
// digits, '@' and 'G' around A-F, lower case).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sources/messages/MessageCarver.h"

namespace vantrel {
namespace {

// The rule, written out byte by byte: dashes at 8, 13, 18 and 23, an
// upper-case hex digit everywhere else.
bool ShapeByRule(const std::string& text) {
  if (text.size() != kGuidLength) return false;
  for (size_t j = 0; j < kGuidLength; ++j) {
    const char c = text[j];
    const bool dash = j == 8 || j == 13 || j == 18 || j == 23;
    const bool digit = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    if (dash ? c != '-' : !digit) return false;
  }
  return true;
}

// The 36 bytes of guid placed at `at` in a block of `size` bytes of filler.
std::vector<uint8_t> BlockWith(const std::string& guid, size_t at, size_t size, uint8_t filler) {
  std::vector<uint8_t> block(size, filler);
  for (size_t j = 0; j < guid.size(); ++j) block[at + j] = static_cast<uint8_t>(guid[j]);
  return block;
}

const std::string kGuid = "0A1B2C3D-4E5F-6789-ABCD-EF0123456789";

TEST(GuidShape, EveryByteAtEveryPositionIsJudgedAsTheRuleSays) {
  ASSERT_TRUE(ShapeByRule(kGuid));
  size_t accepted = 0;
  for (size_t at : {size_t{0}, size_t{5}, size_t{64 - kGuidLength}}) {
    for (size_t j = 0; j < kGuidLength; ++j) {
      for (int c = 0; c < 256; ++c) {
        std::string changed = kGuid;
        changed[j] = static_cast<char>(c);
        // Filler of dashes and digits around it: nothing outside the 36
        // bytes may make up for a wrong byte inside them.
        const std::vector<uint8_t> block = BlockWith(changed, at, 64, '-');
        const bool expected = ShapeByRule(changed);
        ASSERT_EQ(IsGuidAt(ByteView(block.data(), block.size()), at), expected)
            << "byte " << c << " at " << j << ", GUID at " << at;
        accepted += expected ? 1 : 0;
      }
    }
  }
  // 32 digit positions each take 16 values, the 4 dashes one: at each place.
  EXPECT_EQ(accepted, 3u * (32u * 16u + 4u));
}

TEST(GuidShape, AGuidEndingTheBlockIsReadWithoutAnyByteAfterIt) {
  // The block is exactly the 36 bytes: a read past them would be a fault
  // under a memory checker, and a wrong answer if it decided anything.
  std::vector<uint8_t> exact(kGuid.begin(), kGuid.end());
  EXPECT_TRUE(IsGuidAt(ByteView(exact.data(), exact.size()), 0));
  exact.back() = 'g';
  EXPECT_FALSE(IsGuidAt(ByteView(exact.data(), exact.size()), 0));
}

TEST(GuidShape, LowerCaseAndMisplacedDashesAreNotTheDevicesForm) {
  for (const std::string& text : {std::string("0a1b2c3d-4e5f-6789-abcd-ef0123456789"),
                                  std::string("0A1B2C3D4-E5F-6789-ABCD-EF0123456789"),
                                  std::string("0A1B2C3D-4E5F-6789-ABCD-EF012345678-"),
                                  std::string("------------------------------------")}) {
    const std::vector<uint8_t> block(text.begin(), text.end());
    EXPECT_EQ(IsGuidAt(ByteView(block.data(), block.size()), 0), ShapeByRule(text)) << text;
    EXPECT_FALSE(ShapeByRule(text)) << text;
  }
}

}  // namespace
}  // namespace vantrel
