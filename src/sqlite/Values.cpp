#include "sqlite/Values.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/Text.h"
#include "sqlite/BTree.h"
#include "sqlite/ColumnRules.h"

namespace vantrel {

namespace {

void AppendInteger(int64_t value, std::string& out) {
  char text[24];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, end);
}

// A floating-point value as SQLite prints it: 15 significant digits, and a
// whole number keeps a ".0" so that it still reads as a real.
void AppendReal(double value, std::string& out) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", value);
  out += text;
  if (std::strpbrk(text, ".eEni") == nullptr) out += ".0";
}

double RealFromBytes(ByteView content) {
  uint64_t bits = 0;
  for (size_t i = 0; i < 8; ++i) bits = (bits << 8) | content[i];
  double value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

bool PlainInteger(uint64_t serialType, ByteView content, const ValueRules& rules, bool carved,
                  uint64_t rowid, int64_t& value) {
  if (serialType == 0) {
    value = !carved && rules.rowidAlias ? static_cast<int64_t>(rowid) : 0;
    return true;
  }
  if (serialType > 9 || serialType == 7 || rules.realAffinity) return false;
  value = serialType == 8 ? 0 : serialType == 9 ? 1 : BigEndianInteger(content);
  return true;
}

ValueRules ValueRules::Of(const ColumnDef& column) {
  ValueRules rules;
  rules.rowidAlias = IsRowidAlias(column);
  rules.realAffinity = AffinityOf(column.type) == Affinity::Real;
  rules.integerWord = DeclaredWordOf(column) == DeclaredWord::Integer;
  return rules;
}

std::vector<ValueRules> ValueRulesOf(const std::vector<ColumnDef>& columns) {
  std::vector<ValueRules> rules;
  rules.reserve(columns.size());
  for (const ColumnDef& column : columns) rules.push_back(ValueRules::Of(column));
  return rules;
}

namespace {

// A column's rules asked of its declaration only when a value needs them: the
// carvers render few values of a column and pass the declaration itself.
struct DeclaredRules {
  const ColumnDef& column;
  bool rowidAlias() const { return IsRowidAlias(column); }
  bool realAffinity() const { return AffinityOf(column.type) == Affinity::Real; }
  bool integerWord() const { return DeclaredWordOf(column) == DeclaredWord::Integer; }
};
struct KnownRules {
  const ValueRules& rules;
  bool rowidAlias() const { return rules.rowidAlias; }
  bool realAffinity() const { return rules.realAffinity; }
  bool integerWord() const { return rules.integerWord; }
};

// The one place the rendering rules are written (Values.h).
template <typename Rules>
void Render(uint64_t serialType, ByteView content, const Rules& rules, bool carved, uint64_t rowid,
            std::string& out) {
  out.clear();
  if (serialType == 0) {
    if (!carved && rules.rowidAlias()) AppendInteger(static_cast<int64_t>(rowid), out);
    return;
  }
  if (serialType >= 1 && serialType <= 9 && serialType != 7) {
    const int64_t value = serialType == 8 ? 0 : serialType == 9 ? 1 : BigEndianInteger(content);
    // SQLite stores whole numbers of a REAL column as integers and turns them
    // back into reals on reading, so they are shown as reals here too.
    if (rules.realAffinity()) {
      AppendReal(static_cast<double>(value), out);
    } else {
      AppendInteger(value, out);
    }
    return;
  }
  if (serialType == 7) {
    if (rules.integerWord() && content.size() < 8) {
      AppendInteger(BigEndianInteger(content), out);
    } else {
      AppendReal(RealFromBytes(content), out);
    }
    return;
  }
  if (serialType >= 12 && (serialType & 1) == 0 && rules.integerWord()) {
    // A blob where a number was declared: its bytes as one number.
    AppendInteger(BigEndianInteger(content), out);
    return;
  }
  // Text, or a blob in a text column: the bytes as UTF-8 up to the first zero.
  AppendNormalisedUtf8(content.AsString(), out);
}

}  // namespace

void RenderValue(uint64_t serialType, ByteView content, const ColumnDef& column, bool carved,
                 uint64_t rowid, std::string& out) {
  Render(serialType, content, DeclaredRules{column}, carved, rowid, out);
}

void RenderValue(uint64_t serialType, ByteView content, const ValueRules& rules, bool carved,
                 uint64_t rowid, std::string& out) {
  Render(serialType, content, KnownRules{rules}, carved, rowid, out);
}

bool RendersEmpty(uint64_t serialType, ByteView content, const ValueRules& rules, bool carved) {
  // The branches of RenderValue, in its order: only a NULL that stands for
  // no rowid and text cut at a first zero byte give nothing; a number (an
  // integer, a real, a blob read as one) always has a digit, and normalising
  // UTF-8 keeps a character, or its replacement, for every leading byte.
  if (serialType == 0) return carved || !rules.rowidAlias;
  if (serialType <= 9) return false;
  if (serialType >= 12 && (serialType & 1) == 0 && rules.integerWord) return false;
  return content.empty() || content[0] == 0;
}

int64_t RenderedInteger(uint64_t serialType, ByteView content, const ValueRules& rules, bool carved,
                        uint64_t rowid) {
  int64_t value = 0;
  if (PlainInteger(serialType, content, rules, carved, rowid, value)) return value;
  std::string text;
  RenderValue(serialType, content, rules, carved, rowid, text);
  return TextToInt(text);
}

int64_t TextToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t value = 0;
  // Below this no digit can overflow, so the exact test (a division) is
  // made only for the last digits of a very long number.
  constexpr uint64_t kSafe = UINT64_MAX / 10 - 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value >= kSafe && value > (UINT64_MAX - digit) / 10) break;  // too long: keep what fits
    value = value * 10 + digit;
  }
  return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

}  // namespace vantrel
