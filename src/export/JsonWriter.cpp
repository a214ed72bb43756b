#include "export/JsonWriter.h"

#include <cstdio>

#include "platform/Text.h"

namespace vantrel {
namespace {

void AppendJsonString(std::string_view value, std::string& out) {
  std::string normalised;
  if (!IsValidUtf8(value) || value.find('\0') != std::string_view::npos) {
    // Normalise piece by piece: the normaliser stops at a zero byte, which a
    // JSON string may hold as \u0000.
    size_t start = 0;
    while (start <= value.size()) {
      const size_t zero = value.find('\0', start);
      const size_t end = zero == std::string_view::npos ? value.size() : zero;
      AppendNormalisedUtf8(value.substr(start, end - start), normalised);
      if (zero == std::string_view::npos) break;
      normalised.push_back('\0');
      start = zero + 1;
    }
    value = normalised;
  }
  out.push_back('"');
  for (char c : value) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
}

}  // namespace

std::string JsonQuoted(std::string_view value) {
  std::string out;
  AppendJsonString(value, out);
  return out;
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (first_.empty()) return;
  if (!first_.back()) out_.push_back(',');
  first_.back() = false;
  out_.push_back('\n');
  out_.append(first_.size() * 2, ' ');
}

void JsonWriter::Open(char bracket) {
  BeforeValue();
  out_.push_back(bracket);
  first_.push_back(true);
}

void JsonWriter::Close(char bracket) {
  const bool empty = first_.back();
  first_.pop_back();
  if (!empty) {
    out_.push_back('\n');
    out_.append(first_.size() * 2, ' ');
  }
  out_.push_back(bracket);
  if (first_.empty()) out_.push_back('\n');
}

void JsonWriter::BeginObject() {
  Open('{');
}
void JsonWriter::EndObject() {
  Close('}');
}
void JsonWriter::BeginArray() {
  Open('[');
}
void JsonWriter::EndArray() {
  Close(']');
}

void JsonWriter::Key(std::string_view name) {
  BeforeValue();
  AppendJsonString(name, out_);
  out_ += ": ";
  afterKey_ = true;
}

void JsonWriter::String(std::string_view value) {
  BeforeValue();
  AppendJsonString(value, out_);
}

void JsonWriter::Int(int64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
}

void JsonWriter::UInt(uint64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
}

void JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
}

}  // namespace vantrel
