// A small, tolerant, read-only XML reader, enough for property lists such as a
// backup's Info.plist and Manifest.plist. The file is decoded to UTF-8 (byte-order
// marks, declared encodings, UTF-8 detection, UTF-16 either way round), indexed
// into an element table, and walked with a cursor of parent, main and child
// positions. Malformed input never fails a load: problems go to a result log.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// Documents are addressed with 32-bit offsets; property lists are tiny, so a
// larger file is cut here rather than let the offsets wrap.
inline constexpr uint64_t kMaxXmlDocumentBytes = 256u << 20;

class XmlDocument {
 public:
  // Reads, decodes and parses a file. False only when the file cannot be read
  // (the result log then holds a "file_error" record).
  bool LoadFile(const std::string& path);
  // Decodes and parses bytes as if read from a file. Always true.
  bool LoadBytes(std::string_view bytes);
  // Parses text DecodeText has already decoded. Always true.
  bool LoadText(std::string utf8);

  // The bytes decoded to UTF-8 as LoadBytes decodes them, without building
  // the element table: for a reader that parses the text itself.
  static std::string DecodeText(std::string_view bytes);
  // The name of the element a load of text would take as the root: its first
  // start tag past declarations, comments and broken markup. "" when none.
  static std::string FirstElementName(std::string_view text);

  // Searches the siblings after the main position (from the first child of the
  // parent position when the main position is 0) for an element named name;
  // an empty name matches any element. On success the main position is the
  // found element, the parent position its parent and the child position 0.
  bool LocateNext(std::string_view name = {});
  // Selects the root element first when there is no main position, then
  // searches the main position's children after the child position for an
  // element named name (an empty name matches any). On success the child
  // position is the found element.
  bool LocateChild(std::string_view name = {});
  // Steps down: the main position becomes the parent, the child the main.
  bool DescendToChild();
  // Back to the start of the document (all positions 0).
  void ResetPosition();

  std::string MainName() const;   // tag name at the main position, "" when none
  std::string ChildName() const;  // tag name at the child position, "" when none
  // Data of the child element: its text with references decoded and CDATA
  // sections kept raw; "" for an empty element or one that holds elements.
  std::string ChildText() const;
  std::string MainText() const;  // the same for the main position

  void SetIgnoreCase(bool ignore) { ignoreCase_ = ignore; }

  // The decoded document text (UTF-8) and the diagnostic log, a sequence of
  // small XML records such as <bom encoding="UTF-16LE"/> or <lone_end_tag .../>.
  const std::string& text() const { return text_; }
  const std::string& result() const { return result_; }
  // Number of elements, not counting the virtual document node.
  size_t ElementCount() const { return elements_.empty() ? 0 : elements_.size() - 1; }

 private:
  struct Element {
    int32_t start = 0;         // offset of the start tag's '<' in text_
    int32_t length = 0;        // start tag to the end of the end tag
    int32_t tagLength = 0;     // length of the start tag
    int32_t endTagLength = 0;  // 0 for an empty or unended element
    bool unended = false;      // its children were moved up to follow it
    uint32_t parent = 0, firstChild = 0, nextSibling = 0, lastChild = 0;
  };

  void Clear();
  void Decode(std::string_view bytes);
  void Parse();
  void AppendChild(uint32_t parent, uint32_t child);
  void Unend(uint32_t element);
  void CloseElement(std::vector<uint32_t>& open, std::string_view name, size_t endStart,
                    size_t endLength);
  bool NameMatches(uint32_t element, std::string_view name) const;
  std::string_view ElementName(uint32_t element) const;
  std::string ElementText(uint32_t element) const;
  void Log(std::string_view name, std::string_view attributes = {});

  std::string text_;
  std::string result_;
  std::vector<Element> elements_;  // [0] is the virtual document node
  uint32_t parentPos_ = 0, mainPos_ = 0, childPos_ = 0;
  bool ignoreCase_ = false;
};

}  // namespace vantrel
