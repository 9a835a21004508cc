// The seam's data vocabulary: what an accessibility attribute can hold, and a
// handle to one live element of another application. Backends translate
// their platform's objects into these; the core never sees anything else.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace kelp::platform {

struct Point {
  double x = 0;
  double y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  double w = 0;
  double h = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

// A run of text by its first character and length, in UTF-16 code units, as
// "AXSelectedTextRange" holds it. A length past the end reaches the end.
struct TextRange {
  std::int64_t location = 0;
  std::int64_t length = 0;
  friend bool operator==(const TextRange&, const TextRange&) = default;
};

// What a backend keeps behind an Element. Identity is the backend's to
// define: two handles to the same live object must compare equal even when
// they were obtained by different reads.
class ElementImpl {
 public:
  virtual ~ElementImpl() = default;
  virtual bool sameAs(const ElementImpl& other) const = 0;
};

// Cheap, copyable handle to one element. An empty handle stands for "no
// element"; reads through it fail quietly like reads of a vanished element.
class Element {
 public:
  Element() = default;
  explicit Element(std::shared_ptr<const ElementImpl> impl) : impl_(std::move(impl)) {}

  explicit operator bool() const { return impl_ != nullptr; }
  const ElementImpl* impl() const { return impl_.get(); }

  friend bool operator==(const Element& a, const Element& b) {
    if (a.impl_ == b.impl_) return true;
    if (!a.impl_ || !b.impl_) return false;
    return a.impl_->sameAs(*b.impl_);
  }

 private:
  std::shared_ptr<const ElementImpl> impl_;
};

struct Value;
using ValueList = std::vector<Value>;

// Integer and floating stay distinct so that a number's text form is the
// platform's own ("1", "0.5", "50").
using ValueVariant =
    std::variant<std::monostate, std::string, std::int64_t, double, bool, Element, ValueList, Point, Size, TextRange>;

struct Value : ValueVariant {
  using ValueVariant::ValueVariant;
  Value() = default;
  Value(const char* text) : ValueVariant(std::string(text)) {}
  Value(int number) : ValueVariant(static_cast<std::int64_t>(number)) {}

  bool isNone() const { return std::holds_alternative<std::monostate>(*this); }
  template <typename T>
  const T* as() const& { return std::get_if<T>(this); }
  // A pointer into a temporary would dangle once the statement ends.
  template <typename T>
  const T* as() const&& = delete;
};

}  // namespace kelp::platform
