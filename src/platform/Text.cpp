#include "platform/Text.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <tmmintrin.h>
#define VANTREL_SSSE3_UTF8 1
#endif
#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <cstdint>
#include <cstring>

namespace vantrel {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at s[i], or 0 when it is not one
// (the Unicode table of well-formed byte sequences, so no overlong forms and no
// surrogates).
size_t SequenceLength(std::string_view s, size_t i) {
  auto b = [&](size_t k) -> unsigned {
    return i + k < s.size() ? static_cast<uint8_t>(s[i + k]) : 0x100u;
  };
  unsigned c0 = b(0);
  if (c0 < 0x80) return 1;
  auto cont = [](unsigned c) { return c >= 0x80 && c <= 0xBF; };
  if (c0 >= 0xC2 && c0 <= 0xDF) return cont(b(1)) ? 2 : 0;
  if (c0 >= 0xE0 && c0 <= 0xEF) {
    unsigned lo = 0x80, hi = 0xBF;
    if (c0 == 0xE0) lo = 0xA0;
    if (c0 == 0xED) hi = 0x9F;
    unsigned c1 = b(1);
    return (c1 >= lo && c1 <= hi && cont(b(2))) ? 3 : 0;
  }
  if (c0 >= 0xF0 && c0 <= 0xF4) {
    unsigned lo = 0x80, hi = 0xBF;
    if (c0 == 0xF0) lo = 0x90;
    if (c0 == 0xF4) hi = 0x8F;
    unsigned c1 = b(1);
    return (c1 >= lo && c1 <= hi && cont(b(2)) && cont(b(3))) ? 4 : 0;
  }
  return 0;
}

// Bytes to skip after an ill-formed sequence starting at i: the maximal
// prefix of a well-formed sequence, at least one byte (one U+FFFD each).
size_t IllFormedLength(std::string_view s, size_t i) {
  unsigned c0 = static_cast<uint8_t>(s[i]);
  size_t want = c0 >= 0xF0 ? 4 : c0 >= 0xE0 ? 3 : c0 >= 0xC2 ? 2 : 1;
  size_t n = 1;
  while (n < want && i + n < s.size()) {
    unsigned c = static_cast<uint8_t>(s[i + n]);
    if (c < 0x80 || c > 0xBF) break;
    if (n == 1 && ((c0 == 0xE0 && c < 0xA0) || (c0 == 0xED && c > 0x9F) ||
                   (c0 == 0xF0 && c < 0x90) || (c0 == 0xF4 && c > 0x8F)))
      break;
    ++n;
  }
  return n;
}

// The first byte at or after i that is not ASCII, or the size: eight bytes
// are tested at a time, since most stored text is ASCII.
size_t SkipAscii(std::string_view s, size_t i) {
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  while (i + 8 <= s.size()) {
    uint64_t word;
    std::memcpy(&word, s.data() + i, sizeof word);
    if (word & kHighBits) break;
    i += 8;
  }
  while (i < s.size() && static_cast<uint8_t>(s[i]) < 0x80) ++i;
  return i;
}

// 2 or 3 for a well-formed two- or three-byte sequence at i (no overlong
// form, no surrogate), the common ones in Chinese and European text; 0 for
// anything else, which SequenceLength then judges.
size_t ShortSequenceLength(std::string_view bytes, size_t i) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t size = bytes.size();
  const auto cont = [&](size_t k) { return (p[k] & 0xC0) == 0x80; };
  const uint8_t c0 = p[i];
  if (c0 >= 0xC2 && c0 <= 0xDF && i + 1 < size && cont(i + 1)) return 2;
  if ((c0 & 0xF0) == 0xE0 && i + 2 < size && cont(i + 1) && cont(i + 2) &&
      (c0 != 0xE0 || p[i + 1] >= 0xA0) && (c0 != 0xED || p[i + 1] < 0xA0))
    return 3;
  return 0;
}

#if defined(VANTREL_SSSE3_UTF8)
struct Utf8Tables {
  __m128i byte1High, byte1Low, byte2High;
};

__attribute__((target("ssse3"))) inline __m128i Load16(const uint8_t* aligned) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(aligned));
}

// The faults of the sixteen bytes of input, previous being the sixteen before.
__attribute__((target("ssse3"))) inline __m128i Utf8Faults(__m128i input, __m128i previous,
                                                           const Utf8Tables& t) {
  const __m128i lowNibble = _mm_set1_epi8(0x0F);
  const __m128i prev1 = _mm_alignr_epi8(input, previous, 15);
  const __m128i pairs = _mm_and_si128(
      _mm_and_si128(
          _mm_shuffle_epi8(t.byte1High, _mm_and_si128(_mm_srli_epi16(prev1, 4), lowNibble)),
          _mm_shuffle_epi8(t.byte1Low, _mm_and_si128(prev1, lowNibble))),
      _mm_shuffle_epi8(t.byte2High, _mm_and_si128(_mm_srli_epi16(input, 4), lowNibble)));
  // Only E0..FF two back, or F0..FF three back, come out at 0x80 or more.
  const __m128i third = _mm_subs_epu8(_mm_alignr_epi8(input, previous, 14),
                                      _mm_set1_epi8(static_cast<char>(0xE0 - 0x80)));
  const __m128i fourth = _mm_subs_epu8(_mm_alignr_epi8(input, previous, 13),
                                       _mm_set1_epi8(static_cast<char>(0xF0 - 0x80)));
  const __m128i mustContinue =
      _mm_and_si128(_mm_or_si128(third, fourth), _mm_set1_epi8(static_cast<char>(0x80)));
  return _mm_xor_si128(mustContinue, pairs);
}

// Whether size bytes at p, none of them zero, are well-formed UTF-8, sixteen
// at a time (the method of Keiser and Lemire, "Validating UTF-8 in less than
// one instruction per byte", 2021). Each byte is judged together with the
// byte before it by three table look-ups: the high and the low half of the
// byte before, and the high half of the byte itself. Each table gives, for
// its half, the set of faults that half allows; a fault both bytes allow is
// present. Third and fourth bytes of longer sequences are checked apart: the
// byte two or three back must start such a sequence exactly where the pair
// check found two continuation bytes in a row.
__attribute__((target("ssse3"))) bool WellFormedUtf8Ssse3(const uint8_t* p, size_t size) {
  constexpr uint8_t kTooShort = 1 << 0;   // a lead (or ASCII) is not followed by enough continuations
  constexpr uint8_t kTooLong = 1 << 1;    // ASCII followed by a continuation
  constexpr uint8_t kOverlong3 = 1 << 2;  // E0 80..9F
  constexpr uint8_t kTooLarge = 1 << 3;   // F4 90..BF, F5..FF 90..BF
  constexpr uint8_t kSurrogate = 1 << 4;  // ED A0..BF
  constexpr uint8_t kOverlong2 = 1 << 5;  // C0..C1 followed by a continuation
  constexpr uint8_t kTooLarge1000 = 1 << 6;  // F5..FF 80..8F
  constexpr uint8_t kOverlong4 = 1 << 6;     // F0 80..8F
  constexpr uint8_t kTwoConts = 1 << 7;      // a continuation after a continuation
  constexpr uint8_t kCarry = kTooShort | kTooLong | kTwoConts;
  constexpr uint8_t kLarge = kCarry | kTooLarge | kTooLarge1000;
  alignas(16) static constexpr uint8_t kByte1High[16] = {
      kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,  // ASCII
      kTwoConts, kTwoConts, kTwoConts, kTwoConts,                                      // continuations
      kTooShort | kOverlong2,                                                          // C0..CF
      kTooShort,                                                                       // D0..DF
      kTooShort | kOverlong3 | kSurrogate,                                             // E0..EF
      kTooShort | kTooLarge | kTooLarge1000 | kOverlong4};                             // F0..FF
  alignas(16) static constexpr uint8_t kByte1Low[16] = {
      kCarry | kOverlong3 | kOverlong2 | kOverlong4,  // _0
      kCarry | kOverlong2,                            // _1
      kCarry,
      kCarry,
      kCarry | kTooLarge,  // _4
      kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge,
      kLarge | kSurrogate,  // _D
      kLarge, kLarge};
  alignas(16) static constexpr uint8_t kByte2High[16] = {
      kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
      kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4,  // 80..8F
      kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,                   // 90..9F
      kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,                   // A0..BF
      kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
      kTooShort, kTooShort, kTooShort, kTooShort};
  const Utf8Tables tables{Load16(kByte1High), Load16(kByte1Low), Load16(kByte2High)};
  __m128i previous = _mm_setzero_si128();
  __m128i error = _mm_setzero_si128();
  size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    const __m128i input = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    error = _mm_or_si128(error, Utf8Faults(input, previous, tables));
    previous = input;
  }
  // The rest, then zeros: a sequence the end cuts short meets a zero, which
  // is too short for it. There is always at least one zero after the bytes.
  alignas(16) uint8_t rest[16] = {};
  std::memcpy(rest, p + i, size - i);
  error = _mm_or_si128(error, Utf8Faults(Load16(rest), previous, tables));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(error, _mm_setzero_si128())) == 0xFFFF;
}

bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}
#endif

}  // namespace

void AppendNormalisedUtf8(std::string_view bytes, std::string& out) {
  size_t end = bytes.find('\0');
  if (end != std::string_view::npos) bytes = bytes.substr(0, end);
  // Well-formed stretches are appended whole: only an ill-formed sequence
  // breaks the copy, for its replacement character.
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t size = bytes.size();
  size_t copied = 0;
  size_t i = SkipAscii(bytes, 0);
#if defined(VANTREL_SSSE3_UTF8)
  // Almost every text is well-formed: told so in one pass, it is appended
  // whole, and only an ill-formed one is gone through sequence by sequence.
  if (i < size && HasSsse3() && WellFormedUtf8Ssse3(p + i, size - i)) i = size;
#endif
  while (i < size) {
    const uint8_t c0 = p[i];
    if (c0 < 0x80) {
      i = SkipAscii(bytes, i + 1);
      continue;
    }
    // The usual well-formed sequences are taken here without a call;
    // SequenceLength decides the rest.
    if (const size_t n = ShortSequenceLength(bytes, i)) {
      i += n;
      continue;
    }
    if (const size_t n = SequenceLength(bytes, i)) {
      i += n;
      continue;
    }
    out.append(bytes.data() + copied, i - copied);
    out.append(kReplacement, 3);
    i += IllFormedLength(bytes, i);
    copied = i;
  }
  out.append(bytes.data() + copied, size - copied);
}

std::string Utf8ToAnsi(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  AppendNormalisedUtf8(bytes, out);
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  for (size_t i = SkipAscii(bytes, 0); i < bytes.size(); i = SkipAscii(bytes, i)) {
    size_t n = SequenceLength(bytes, i);
    if (!n) return false;
    i += n;
  }
  return true;
}

size_t SoundUtf8Prefix(std::string_view bytes) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t size = bytes.size();
  size_t i = 0;
  while (i < size) {
    // Eight bytes at a time while they are ASCII and none is zero.
    constexpr uint64_t kHighBits = 0x8080808080808080ull;
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    while (i + 8 <= size) {
      uint64_t word;
      std::memcpy(&word, p + i, sizeof word);
      if (((word | ((word - kOnes) & ~word)) & kHighBits) != 0) break;
      i += 8;
    }
    if (i == size) break;
    const uint8_t c = p[i];
    if (c < 0x80) {
      if (c == 0) return i;
      ++i;
      continue;
    }
    size_t n = ShortSequenceLength(bytes, i);
    if (n == 0) n = SequenceLength(bytes, i);
    if (n == 0) return i;
    i += n;
  }
  return size;
}

size_t LeadingContinuationBytes(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size() && (static_cast<uint8_t>(bytes[i]) & 0xC0) == 0x80) ++i;
  return i;
}

size_t WithoutCutCharacter(std::string_view bytes) {
  // A character takes at most three continuation bytes after its lead.
  size_t start = bytes.size();
  while (start > 0 && bytes.size() - start < 3 &&
         (static_cast<uint8_t>(bytes[start - 1]) & 0xC0) == 0x80)
    --start;
  if (start == 0) return bytes.size();
  const uint8_t lead = static_cast<uint8_t>(bytes[start - 1]);
  const size_t length = (lead >> 5) == 0x6    ? 2
                        : (lead >> 4) == 0xE  ? 3
                        : (lead >> 3) == 0x1E ? 4
                                              : 1;
  return length > bytes.size() - (start - 1) ? start - 1 : bytes.size();
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string Utf8ToUtf16Le(std::string_view utf8) {
  std::string out;
  AppendUtf8AsUtf16Le(utf8, out);
  return out;
}

void AppendUtf8AsUtf16Le(std::string_view utf8, std::string& out) {
  // At most two bytes out for each byte in (a four-byte sequence makes a
  // surrogate pair): room is made once, and cut to what was written.
  const size_t start = out.size();
  out.resize(start + utf8.size() * 2);
  char* o = out.data() + start;
  auto put = [&o](uint32_t u) {
    *o++ = static_cast<char>(u & 0xFF);
    *o++ = static_cast<char>(u >> 8);
  };
  for (size_t i = 0; i < utf8.size();) {
    // Runs of ASCII, the bulk of most texts, a byte and a zero each:
    // sixteen at a time where they come in blocks.
#if defined(__SSE2__)
    while (i + 16 <= utf8.size()) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(utf8.data() + i));
      if (_mm_movemask_epi8(v) != 0) break;
      const __m128i zero = _mm_setzero_si128();
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), _mm_unpackhi_epi8(v, zero));
      o += 32;
      i += 16;
    }
#endif
    while (i < utf8.size() && static_cast<uint8_t>(utf8[i]) < 0x80) {
      *o++ = utf8[i++];
      *o++ = 0;
    }
    if (i == utf8.size()) break;
    auto b = [&](size_t k) { return static_cast<uint32_t>(static_cast<uint8_t>(utf8[i + k])); };
    // Well-formed two- and three-byte characters (Chinese text is the
    // latter) are told without a call; anything else goes through
    // SequenceLength.
    size_t n = ShortSequenceLength(utf8, i);
    if (n == 0) n = SequenceLength(utf8, i);
    uint32_t cp;
    switch (n) {
      case 2:
        cp = ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
        break;
      case 3:
        cp = ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
        break;
      case 4:
        cp = ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
        break;
      default:
        cp = 0xFFFD;
        n = IllFormedLength(utf8, i);
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put(0xD800 + (cp >> 10));
      put(0xDC00 + (cp & 0x3FF));
    } else {
      put(cp);
    }
  }
  out.resize(static_cast<size_t>(o - out.data()));
}

bool ConvertEncoding(std::string_view in, const std::string& from, const std::string& to,
                     std::string& out, bool* lossy) {
  out.clear();
  if (lossy) *lossy = false;
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  const bool toUtf8 = to == "UTF-8" || to == "utf-8";
  const char* substitute = toUtf8 ? kReplacement : "?";
  std::string sub;
  // The substitute itself, in the target encoding (for UTF-16 targets).
  if (!toUtf8) {
    iconv_t cs = iconv_open(to.c_str(), "UTF-8");
    if (cs != reinterpret_cast<iconv_t>(-1)) {
      char q[] = "?";
      char buf[8];
      char* ip = q;
      size_t il = 1;
      char* op = buf;
      size_t ol = sizeof buf;
      if (iconv(cs, &ip, &il, &op, &ol) != static_cast<size_t>(-1)) sub.assign(buf, op);
      iconv_close(cs);
    }
    if (!sub.empty()) substitute = nullptr;
  }
  char* ip = const_cast<char*>(in.data());
  size_t il = in.size();
  char buf[4096];
  while (true) {
    char* op = buf;
    size_t ol = sizeof buf;
    size_t r = iconv(cd, il ? &ip : nullptr, &il, &op, &ol);
    out.append(buf, op);
    if (r != static_cast<size_t>(-1)) {
      if (il == 0) {
        // Flush any shift state.
        op = buf;
        ol = sizeof buf;
        iconv(cd, nullptr, nullptr, &op, &ol);
        out.append(buf, op);
        break;
      }
      continue;
    }
    if (errno == E2BIG) continue;
    // EILSEQ: a character the source does not allow or the target cannot hold.
    // EINVAL: an incomplete sequence at the end. Either way, substitute and go on.
    if (lossy) *lossy = true;
    if (substitute)
      out.append(substitute);
    else
      out.append(sub);
    if (errno == EINVAL) break;
    // Skip one source unit: two bytes for UTF-16, a whole sequence for UTF-8.
    size_t skip = 1;
    if (from.rfind("UTF-16", 0) == 0 || from.rfind("utf-16", 0) == 0) skip = 2;
    if (from == "UTF-8" || from == "utf-8") {
      std::string_view rest(ip, il);
      size_t n = SequenceLength(rest, 0);
      skip = n ? n : IllFormedLength(rest, 0);
    }
    if (skip > il) skip = il;
    ip += skip;
    il -= skip;
    if (il == 0) break;
  }
  iconv_close(cd);
  return true;
}

bool IsKnownEncoding(const std::string& name) {
  iconv_t cd = iconv_open(name.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

std::string LocaleCodeset() {
  std::setlocale(LC_CTYPE, "");
  const char* cs = nl_langinfo(CODESET);
  std::string name = cs ? cs : "";
  // The plain C locale reports ASCII; text is still best written as UTF-8 then.
  if (name.empty() || name == "ANSI_X3.4-1968") name = "UTF-8";
  return name;
}

}  // namespace vantrel
