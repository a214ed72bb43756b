// Fuzz target: the input is a message's attributedBody. The decoder must stay
// inside the bytes, end, and give either nothing or well-formed UTF-8; a cut
// copy of the input (as a carved body would be) must give the same text or
// nothing, never a different one.
#include <cstddef>
#include <cstdint>

#include "platform/Text.h"
#include "sources/apple/AttributedBody.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel;
  const ByteView bytes(data, size);
  const AttributedBodyText whole = DecodeAttributedBody(bytes);
  if (whole.status == AttributedBodyStatus::Decoded && !IsValidUtf8(whole.text)) __builtin_trap();
  if (whole.status != AttributedBodyStatus::Decoded && !whole.text.empty()) __builtin_trap();

  // The same bytes cut at a point the input chooses. A text that decodes from
  // the whole input comes back whole or not at all (the cut ends before it).
  if (size == 0 || whole.status != AttributedBodyStatus::Decoded) return 0;
  const size_t cutAt = data[size - 1] % size;
  const AttributedBodyText cut = DecodeAttributedBody(bytes.Sub(0, cutAt));
  if (cut.status == AttributedBodyStatus::Decoded
          ? cut.text != whole.text
          : cut.status != AttributedBodyStatus::CutShort && cutAt != 0)
    __builtin_trap();
  return 0;
}
