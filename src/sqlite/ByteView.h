// A bounds-checked window on bytes. Every read of page, block or payload bytes
// in the reader and the carvers goes through it, so no damaged length, offset
// or pointer can make a read leave its buffer: reads outside the window yield
// zeros, and sub-views are clipped to the window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vantrel {

class ByteView {
 public:
  constexpr ByteView() = default;
  constexpr ByteView(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}

  constexpr const uint8_t* data() const { return data_; }
  constexpr size_t size() const { return size_; }
  constexpr bool empty() const { return size_ == 0; }
  constexpr bool Contains(size_t offset, size_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  // One byte; 0 outside the window.
  constexpr uint8_t operator[](size_t i) const { return i < size_ ? data_[i] : 0; }
  // Big-endian integers; bytes outside the window read as zero.
  constexpr uint16_t U16(size_t i) const {
    return static_cast<uint16_t>((operator[](i) << 8) | operator[](i + 1));
  }
  constexpr uint32_t U32(size_t i) const {
    return (static_cast<uint32_t>(operator[](i)) << 24) |
           (static_cast<uint32_t>(operator[](i + 1)) << 16) |
           (static_cast<uint32_t>(operator[](i + 2)) << 8) | operator[](i + 3);
  }

  // The part of [offset, offset + length) that lies inside the window.
  constexpr ByteView Sub(size_t offset, size_t length = SIZE_MAX) const {
    if (offset >= size_) return ByteView(data_ ? data_ + size_ : nullptr, 0);
    size_t room = size_ - offset;
    return ByteView(data_ + offset, length < room ? length : room);
  }
  std::string_view AsString() const {
    return std::string_view(reinterpret_cast<const char*>(data_), size_);
  }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace vantrel
