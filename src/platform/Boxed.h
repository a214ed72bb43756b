// An optional kept on the heap: a member most objects lack costs them a pointer
// rather than the value's whole size.
#pragma once

#include <memory>
#include <optional>
#include <utility>

namespace vantrel {

// An optional kept on the heap, read like std::optional: a record that
// seldom has the value pays a pointer for it rather than the value's whole
// size, and a million live messages stay that much smaller.
template <typename T>
class Boxed {
 public:
  Boxed() = default;
  Boxed(std::nullopt_t) {}                                             // NOLINT: as std::optional
  Boxed(const T& value) : value_(std::make_unique<T>(value)) {}        // NOLINT: as std::optional
  Boxed(T&& value) : value_(std::make_unique<T>(std::move(value))) {}  // NOLINT
  Boxed(const Boxed& other) : value_(other.value_ ? std::make_unique<T>(*other.value_) : nullptr) {}
  Boxed(Boxed&&) noexcept = default;
  Boxed& operator=(const Boxed& other) {
    if (this != &other) value_ = other.value_ ? std::make_unique<T>(*other.value_) : nullptr;
    return *this;
  }
  Boxed& operator=(Boxed&&) noexcept = default;
  Boxed& operator=(std::nullopt_t) {
    value_.reset();
    return *this;
  }
  Boxed& operator=(T value) {
    if (value_)
      *value_ = std::move(value);
    else
      value_ = std::make_unique<T>(std::move(value));
    return *this;
  }

  bool has_value() const { return value_ != nullptr; }
  explicit operator bool() const { return has_value(); }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return value_.get(); }
  const T* operator->() const { return value_.get(); }
  const T& value() const {
    if (!value_) throw std::bad_optional_access();
    return *value_;
  }
  void reset() { value_.reset(); }

  friend bool operator==(const Boxed& a, const Boxed& b) {
    return a.has_value() == b.has_value() && (!a.has_value() || *a == *b);
  }
  friend bool operator==(const Boxed& a, const T& b) { return a.has_value() && *a == b; }
  friend bool operator==(const Boxed& a, std::nullopt_t) { return !a.has_value(); }

 private:
  std::unique_ptr<T> value_;
};

}  // namespace vantrel
