// A small JSON writer: objects, arrays, strings, numbers, booleans and null,
// two-space indented, every string escaped (quotes, backslashes, control
// characters; bytes that are not UTF-8 become U+FFFD), so any recovered text
// comes out as a valid document.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

class JsonWriter {
 public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // The name of the next member of the current object.
  void Key(std::string_view name);
  void String(std::string_view value);
  void Int(int64_t value);
  void UInt(uint64_t value);
  void Bool(bool value);
  void Null();

  // Key and value in one call.
  void Member(std::string_view name, std::string_view value) { Key(name), String(value); }
  void Member(std::string_view name, const char* value) { Key(name), String(value); }
  void Member(std::string_view name, const std::string& value) { Key(name), String(value); }
  void Member(std::string_view name, int64_t value) { Key(name), Int(value); }
  void Member(std::string_view name, int32_t value) { Key(name), Int(value); }
  void Member(std::string_view name, uint64_t value) { Key(name), UInt(value); }
  void Member(std::string_view name, bool value) { Key(name), Bool(value); }

  // The document; complete once every object and array is closed.
  const std::string& text() const { return out_; }

 private:
  void BeforeValue();
  void Open(char bracket);
  void Close(char bracket);

  std::string out_;
  std::vector<bool> first_;  // per open container: no member written yet
  bool afterKey_ = false;
};

// value as a JSON string literal, quotes included.
std::string JsonQuoted(std::string_view value);

}  // namespace vantrel
