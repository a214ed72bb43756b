// Text conversion. All text inside Vantrel is UTF-8 in std::string; other
// encodings appear only where bytes enter (database text, Info.plist) or leave
// (UTF-16LE CSV files, TXT files in a chosen code page, the terminal).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

// Checks and normalises stored UTF-8 text: the result stops at the first zero
// byte of the input, and every invalid or truncated sequence (overlong forms,
// surrogates, code points above U+10FFFF included) becomes U+FFFD.
std::string Utf8ToAnsi(std::string_view bytes);
// The same, appending to out (no allocation when out has room).
void AppendNormalisedUtf8(std::string_view bytes, std::string& out);

// True when bytes are entirely well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// Pieces of a text cut out of a longer one, as a carver finds them when
// foreign bytes overwrote part of a deleted text:
// the length of the longest prefix of bytes that is well-formed UTF-8 with no
// zero byte, where such a text stops being text;
size_t SoundUtf8Prefix(std::string_view bytes);
// the number of continuation bytes bytes start with, the tail of a character
// whose first bytes were lost;
size_t LeadingContinuationBytes(std::string_view bytes);
// the length of bytes less the first bytes of a multi-byte character that
// their end cuts short (told by its lead byte alone).
size_t WithoutCutCharacter(std::string_view bytes);

// Appends the UTF-8 form of the code point cp (below U+110000).
void AppendUtf8(uint32_t cp, std::string& out);

// UTF-8 (already normalised) to UTF-16 little-endian bytes, no byte-order mark.
std::string Utf8ToUtf16Le(std::string_view utf8);
// Utf8ToUtf16Le appended to out.
void AppendUtf8AsUtf16Le(std::string_view utf8, std::string& out);

// Converts between any two encodings iconv knows ("UTF-8", "UTF-16LE", "GBK",
// "ISO-8859-1", ...). Characters the target cannot hold become '?' (or U+FFFD
// into UTF-8) and set *lossy. False when iconv does not know an encoding name.
bool ConvertEncoding(std::string_view in, const std::string& from, const std::string& to,
                     std::string& out, bool* lossy = nullptr);

// True when iconv can convert from UTF-8 to this encoding name.
bool IsKnownEncoding(const std::string& name);

// The codeset of the current locale (nl_langinfo(CODESET)) after
// setlocale(LC_CTYPE, ""): "UTF-8" on ordinary systems, "GBK" under zh_CN.GBK.
std::string LocaleCodeset();

}  // namespace vantrel
