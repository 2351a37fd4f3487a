#include "platform/JsonReader.h"

#include <charconv>

namespace brisklet {

class JsonParser {
 public:
  JsonParser(std::string_view text, JsonDocument& document) : text_(text), document_(document) {}

  void parseDocument() {
    // A rough guess of one value per 12 bytes saves most of the regrowth.
    document_.nodes_.reserve(text_.size() / 12 + 1);
    skipWhitespace();
    parseValue(0);
    skipWhitespace();
    if (position_ != text_.size()) fail("text after the end of the document");
  }

 private:
  static constexpr int kMaximumDepth = 256;
  using Node = JsonDocument::Node;
  using Kind = JsonValue::Kind;

  [[noreturn]] void fail(const char* what) const {
    throw JsonSyntaxError("Invalid JSON at byte " + std::to_string(position_) + ": " + what + ".");
  }

  bool atEnd() const { return position_ >= text_.size(); }
  unsigned char peek() const { return static_cast<unsigned char>(text_[position_]); }

  void skipWhitespace() {
    while (!atEnd()) {
      const unsigned char c = peek();
      if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return;
      ++position_;
    }
  }

  void expectLiteral(std::string_view literal) {
    if (text_.substr(position_, literal.size()) != literal) fail("unknown literal");
    position_ += literal.size();
  }

  std::uint32_t addNode(Kind kind) {
    if (document_.nodes_.size() >= UINT32_MAX - 1) fail("document too large");
    Node node;
    node.kind = kind;
    document_.nodes_.push_back(node);
    return static_cast<std::uint32_t>(document_.nodes_.size() - 1);
  }

  void finish(std::uint32_t index) {
    document_.nodes_[index].next = static_cast<std::uint32_t>(document_.nodes_.size());
  }

  void parseValue(int depth) {
    if (atEnd()) fail("a value is missing");
    switch (peek()) {
      case '{':
        return parseObject(depth + 1);
      case '[':
        return parseArray(depth + 1);
      case '"': {
        const std::uint32_t index = addNode(Kind::string);
        document_.nodes_[index].text = parseString();
        return finish(index);
      }
      case 't':
      case 'f': {
        const bool value = peek() == 't';
        expectLiteral(value ? "true" : "false");
        const std::uint32_t index = addNode(Kind::boolean);
        document_.nodes_[index].flag = value;
        return finish(index);
      }
      case 'n':
        expectLiteral("null");
        return finish(addNode(Kind::null));
      default:
        return parseNumber();
    }
  }

  void parseObject(int depth) {
    if (depth > kMaximumDepth) fail("nesting too deep");
    const std::uint32_t index = addNode(Kind::object);
    ++position_;
    skipWhitespace();
    std::uint32_t members = 0;
    if (!atEnd() && peek() == '}') {
      ++position_;
    } else {
      for (;;) {
        if (atEnd() || peek() != '"') fail("an object key must be a string");
        const std::uint32_t key = addNode(Kind::string);
        document_.nodes_[key].text = parseString();
        finish(key);
        skipWhitespace();
        if (atEnd() || peek() != ':') fail("':' expected after an object key");
        ++position_;
        skipWhitespace();
        parseValue(depth);
        ++members;
        skipWhitespace();
        if (atEnd()) fail("the object is not closed");
        if (peek() == '}') {
          ++position_;
          break;
        }
        if (peek() != ',') fail("',' or '}' expected in an object");
        ++position_;
        skipWhitespace();
      }
    }
    document_.nodes_[index].count = members;
    finish(index);
  }

  void parseArray(int depth) {
    if (depth > kMaximumDepth) fail("nesting too deep");
    const std::uint32_t index = addNode(Kind::array);
    ++position_;
    skipWhitespace();
    std::uint32_t elements = 0;
    if (!atEnd() && peek() == ']') {
      ++position_;
    } else {
      for (;;) {
        parseValue(depth);
        ++elements;
        skipWhitespace();
        if (atEnd()) fail("the array is not closed");
        if (peek() == ']') {
          ++position_;
          break;
        }
        if (peek() != ',') fail("',' or ']' expected in an array");
        ++position_;
        skipWhitespace();
      }
    }
    document_.nodes_[index].count = elements;
    finish(index);
  }

  void parseNumber() {
    const size_t start = position_;
    bool whole = true;
    if (!atEnd() && peek() == '-') ++position_;
    if (atEnd() || peek() < '0' || peek() > '9') fail("a value is expected");
    if (peek() == '0') {
      ++position_;
    } else {
      skipDigits();
    }
    if (!atEnd() && peek() == '.') {
      whole = false;
      ++position_;
      if (skipDigits() == 0) fail("digits expected after the decimal point");
    }
    if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
      whole = false;
      ++position_;
      if (!atEnd() && (peek() == '+' || peek() == '-')) ++position_;
      if (skipDigits() == 0) fail("digits expected in the exponent");
    }
    const std::string_view digits = text_.substr(start, position_ - start);
    const std::uint32_t index = addNode(Kind::number);
    Node& node = document_.nodes_[index];
    node.text = digits;
    const char* first = digits.data();
    const char* last = digits.data() + digits.size();
    if (whole) {
      const auto [end, error] = std::from_chars(first, last, node.integer);
      node.isInteger = error == std::errc() && end == last;
    }
    const auto [end, error] = std::from_chars(first, last, node.number);
    if (error != std::errc() || end != last) fail("number out of range");
    finish(index);
  }

  size_t skipDigits() {
    const size_t start = position_;
    while (!atEnd() && peek() >= '0' && peek() <= '9') ++position_;
    return position_ - start;
  }

  // Reads a string starting at its opening quote; returns its content with escapes resolved.
  std::string_view parseString() {
    ++position_;
    const size_t start = position_;
    // Fast path: no escapes, so the content is a view into the text.
    for (;;) {
      if (atEnd()) fail("the string is not closed");
      const unsigned char c = peek();
      if (c == '"') {
        const std::string_view content = text_.substr(start, position_ - start);
        ++position_;
        return content;
      }
      if (c == '\\') break;
      if (c < 0x20) fail("control character in a string");
      if (c < 0x80) {
        ++position_;
      } else {
        skipUtf8Sequence();
      }
    }
    std::string& content =
        document_.unescaped_.emplace_back(text_.substr(start, position_ - start));
    for (;;) {
      if (atEnd()) fail("the string is not closed");
      const unsigned char c = peek();
      if (c == '"') {
        ++position_;
        return content;
      }
      if (c == '\\') {
        ++position_;
        appendEscape(content);
      } else if (c < 0x20) {
        fail("control character in a string");
      } else if (c < 0x80) {
        content.push_back(static_cast<char>(c));
        ++position_;
      } else {
        const size_t sequenceStart = position_;
        skipUtf8Sequence();
        content.append(text_.substr(sequenceStart, position_ - sequenceStart));
      }
    }
  }

  // Well-formed UTF-8 sequences after the Unicode standard's table 3-7.
  void skipUtf8Sequence() {
    const unsigned char lead = peek();
    int continuation = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      continuation = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      continuation = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      continuation = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      fail("invalid UTF-8");
    }
    ++position_;
    for (int i = 0; i < continuation; ++i) {
      if (atEnd()) fail("invalid UTF-8");
      const unsigned char c = peek();
      if (c < low || c > high) fail("invalid UTF-8");
      low = 0x80;
      high = 0xBF;
      ++position_;
    }
  }

  void appendEscape(std::string& content) {
    if (atEnd()) fail("the string is not closed");
    const char escape = text_[position_++];
    switch (escape) {
      case '"':
      case '\\':
      case '/':
        content.push_back(escape);
        return;
      case 'b':
        content.push_back('\b');
        return;
      case 'f':
        content.push_back('\f');
        return;
      case 'n':
        content.push_back('\n');
        return;
      case 'r':
        content.push_back('\r');
        return;
      case 't':
        content.push_back('\t');
        return;
      case 'u':
        return appendCodePoint(content);
      default:
        fail("unknown escape in a string");
    }
  }

  std::uint32_t hexQuad() {
    if (position_ + 4 > text_.size()) fail("four hex digits expected after \\u");
    std::uint32_t value = 0;
    const auto [end, error] =
        std::from_chars(text_.data() + position_, text_.data() + position_ + 4, value, 16);
    if (error != std::errc() || end != text_.data() + position_ + 4)
      fail("four hex digits expected after \\u");
    position_ += 4;
    return value;
  }

  void appendCodePoint(std::string& content) {
    std::uint32_t codePoint = hexQuad();
    if (codePoint >= 0xDC00 && codePoint <= 0xDFFF) fail("lone low surrogate");
    if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
      if (text_.substr(position_, 2) != "\\u") fail("lone high surrogate");
      position_ += 2;
      const std::uint32_t low = hexQuad();
      if (low < 0xDC00 || low > 0xDFFF) fail("lone high surrogate");
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
    }
    if (codePoint < 0x80) {
      content.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
      content.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
      content.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
      content.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
      content.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
      content.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
      content.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
      content.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
      content.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
      content.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
  }

  std::string_view text_;
  JsonDocument& document_;
  size_t position_ = 0;
};

JsonDocument JsonDocument::parse(std::string_view text) {
  JsonDocument document;
  JsonParser(text, document).parseDocument();
  return document;
}

JsonValue::Kind JsonValue::kind() const { return document_->nodes_[index_].kind; }
bool JsonValue::boolean() const { return document_->nodes_[index_].flag; }
double JsonValue::number() const { return document_->nodes_[index_].number; }

std::optional<std::int64_t> JsonValue::integer() const {
  const auto& node = document_->nodes_[index_];
  return node.isInteger ? std::optional(node.integer) : std::nullopt;
}

std::string_view JsonValue::string() const { return document_->nodes_[index_].text; }
std::size_t JsonValue::size() const { return document_->nodes_[index_].count; }

std::optional<JsonValue> JsonValue::find(std::string_view key) const {
  const auto& nodes = document_->nodes_;
  std::optional<JsonValue> found;
  const std::uint32_t end = nodes[index_].next;
  for (std::uint32_t keyIndex = index_ + 1; keyIndex < end;) {
    const std::uint32_t valueIndex = keyIndex + 1;
    if (nodes[keyIndex].text == key) found = JsonValue(document_, valueIndex);
    keyIndex = nodes[valueIndex].next;
  }
  return found;
}

JsonValue::ElementIterator& JsonValue::ElementIterator::operator++() {
  index_ = document_->nodes_[index_].next;
  return *this;
}

JsonValue::ElementIterator JsonValue::begin() const {
  return ElementIterator(document_, index_ + 1);
}
JsonValue::ElementIterator JsonValue::end() const {
  return ElementIterator(document_, document_->nodes_[index_].next);
}

}  // namespace brisklet
