#pragma once

#include <cstdint>
#include <deque>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace brisklet {

// The text is not JSON; what() says what and where.
class JsonSyntaxError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class JsonDocument;

// A read-only view of one value inside a JsonDocument. Cheap to copy; valid while the document
// and the text it was parsed from live.
class JsonValue {
 public:
  enum class Kind : std::uint8_t { null, boolean, number, string, array, object };

  Kind kind() const;
  bool isNull() const { return kind() == Kind::null; }
  bool isBoolean() const { return kind() == Kind::boolean; }
  bool isNumber() const { return kind() == Kind::number; }
  bool isString() const { return kind() == Kind::string; }
  bool isArray() const { return kind() == Kind::array; }
  bool isObject() const { return kind() == Kind::object; }

  // Preconditions: the value is of that kind.
  bool boolean() const;
  double number() const;
  // The number when it was written as a whole number that fits; none otherwise.
  std::optional<std::int64_t> integer() const;
  // Escapes resolved; valid UTF-8.
  std::string_view string() const;

  // Elements of an array, or members of an object.
  std::size_t size() const;
  // The member of an object with that key (the last one, if the key repeats), or none.
  std::optional<JsonValue> find(std::string_view key) const;

  // The elements of an array in order.
  class ElementIterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = JsonValue;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = JsonValue;
    JsonValue operator*() const { return JsonValue(document_, index_); }
    ElementIterator& operator++();
    ElementIterator operator++(int) {
      ElementIterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const ElementIterator& other) const { return index_ == other.index_; }

   private:
    friend class JsonValue;
    ElementIterator(const JsonDocument* document, std::uint32_t index)
        : document_(document), index_(index) {}
    const JsonDocument* document_;
    std::uint32_t index_;
  };
  ElementIterator begin() const;
  ElementIterator end() const;

 private:
  friend class JsonDocument;
  JsonValue(const JsonDocument* document, std::uint32_t index)
      : document_(document), index_(index) {}
  const JsonDocument* document_;
  std::uint32_t index_;
};

// A strict RFC 8259 reader for records read at start-up, several times faster than building an
// nlohmann::json tree: values are laid out flat, strings without escapes point into the text.
// Rejects anything that is not JSON: trailing text, invalid UTF-8, control characters in
// strings, lone surrogates, numbers out of double range, nesting deeper than 256.
class JsonDocument {
 public:
  // Throws JsonSyntaxError. The text must outlive the document.
  static JsonDocument parse(std::string_view text);

  JsonDocument(JsonDocument&&) = default;
  JsonDocument& operator=(JsonDocument&&) = default;

  JsonValue root() const { return JsonValue(this, 0); }

 private:
  friend class JsonValue;
  friend class JsonParser;
  JsonDocument() = default;

  struct Node {
    JsonValue::Kind kind = JsonValue::Kind::null;
    bool isInteger = false;
    bool flag = false;        // the boolean's value
    std::uint32_t count = 0;  // elements, or members of an object
    std::uint32_t next = 0;   // index after this value and everything inside it
    std::string_view text;    // a string's content, or a number's digits
    double number = 0;
    std::int64_t integer = 0;
  };
  std::vector<Node> nodes_;
  std::deque<std::string> unescaped_;  // strings that had escapes; a deque keeps them in place
};

}  // namespace brisklet
