// The words of a message kept in `message.attributedBody`: an attributed string
// archived by NSArchiver in the typedstream format. Newer devices can leave
// `text` empty and keep the words only there. Only the plain string is decoded;
// the attribute runs after it (message parts, links, mentions) are not needed
// to show a message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sqlite/ByteView.h"

namespace vantrel {

// The typedstream layout, as the devices write it (the little-endian flavour,
// signature "streamtyped"):
//
//   header
//     byte      4              streamer version
//     integer   11             signature length, then the bytes "streamtyped"
//     integer   1000           system version (81 e8 03)
//   then values, each preceded by its type encoding (a shared string, "@" for
//   an object).
//
// Integers take one, three or five bytes. A single byte is a signed value; the
// bytes 0x80..0x91 (-128..-111) are tags instead:
//     0x81  a 2-byte little-endian signed value follows
//     0x82  a 4-byte little-endian signed value follows
//     0x83  a floating-point value follows
//     0x84  new: a definition follows (shared string, object or class)
//     0x85  nil: no string, no object, or the end of a class chain
//     0x86  end of an object's contents
// Anything else where a definition may stand is a reference: the integer minus
// -110 (so 0x92 is 0, 0x93 is 1, ...) numbers the earlier definitions of its
// table in the order they appeared. There are two tables: shared strings, and
// objects with classes.
//
//   shared string   0x84, length integer, bytes      a new entry of the string table
//                   or a reference into that table
//   object          0x84, class, contents, 0x86      the object is numbered before its class
//                   0x85 (nil), or a reference
//   class           0x84, name (shared string), version integer, superclass (a class)
//                   0x85 ends the chain; a reference names a class defined earlier
//
// An attributed body:
//
//   header
//   "@" 0x84 NSMutableAttributedString|NSAttributedString -> NSObject -> nil
//       "@" 0x84 NSMutableString|NSString -> NSObject (a reference)
//           "+" length bytes         the text: UTF-8, length in bytes
//           0x86
//       "iI" number length           attribute runs, each followed by its
//       "@" NSDictionary ...         attribute dictionary when new
//       0x86

// How a decoding ended. Anything but Decoded leaves no text.
enum class AttributedBodyStatus {
  Decoded,              // the whole text was read
  NotTypedStream,       // the header is not a little-endian typedstream's
  NotAttributedString,  // a well-formed stream, but its first object holds no string
  CutShort,             // the bytes end before the text does
  Damaged,              // a tag, reference, length, class chain or text no writer makes
};

struct AttributedBodyText {
  AttributedBodyStatus status = AttributedBodyStatus::Damaged;
  std::string text;  // UTF-8, set when status is Decoded
};

// Decodes the stream far enough to read its string. Nothing outside bytes is
// read; every step moves forward, so damaged input cannot make it loop. A body
// cut after the text (a carved fragment) still gives the text; the byte after
// the text, when present, must close the string object. The text must be
// well-formed UTF-8. Its length is also taken from a 2-byte form holding
// 32768..65535 (0x81 then a value negative when read signed), in case a
// writer treats that form as unsigned.
AttributedBodyText DecodeAttributedBody(ByteView bytes);

// The text of an attributed body, or nullopt when it does not decode.
std::optional<std::string> TextOfAttributedBody(ByteView bytes);

}  // namespace vantrel
