#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/JsonReader.h"

namespace brisklet {

// A JSON value that does not decode into what was expected: what() names the key and says why.
class JsonFieldError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

namespace json_fields {

[[noreturn]] inline void wrongType(const char* key, const char* expected) {
  throw JsonFieldError(std::string("\u201C") + key + "\u201D is not " + expected);
}

// Typed reading of one present, non-null value. Other types (records) decode through a
// `decode(const JsonValue&, T&)` found by argument-dependent lookup, or through a
// specialisation of their own.
template <typename T>
T read(const JsonValue& value, const char* key) {
  if (!value.isObject()) wrongType(key, "an object");
  T decoded;
  decode(value, decoded);
  return decoded;
}

template <>
inline double read<double>(const JsonValue& value, const char* key) {
  if (!value.isNumber()) wrongType(key, "a number");
  return value.number();
}

template <>
inline std::int64_t read<std::int64_t>(const JsonValue& value, const char* key) {
  if (!value.isNumber()) wrongType(key, "a whole number");
  if (const auto whole = value.integer()) return *whole;
  // Whole numbers written with a fraction ("3.0") are still whole numbers.
  const double number = value.number();
  if (std::trunc(number) == number && std::fabs(number) < 9.0e15)
    return static_cast<std::int64_t>(number);
  wrongType(key, "a whole number");
}

template <>
inline bool read<bool>(const JsonValue& value, const char* key) {
  if (!value.isBoolean()) wrongType(key, "true or false");
  return value.boolean();
}

template <>
inline std::string read<std::string>(const JsonValue& value, const char* key) {
  if (!value.isString()) wrongType(key, "text");
  return std::string(value.string());
}

template <typename Element>
std::vector<Element> readList(const JsonValue& value, const char* key) {
  if (!value.isArray()) wrongType(key, "a list");
  std::vector<Element> elements;
  elements.reserve(value.size());
  for (const JsonValue element : value) elements.push_back(read<Element>(element, key));
  return elements;
}

template <>
inline std::vector<std::string> read<std::vector<std::string>>(const JsonValue& value,
                                                               const char* key) {
  return readList<std::string>(value, key);
}

template <typename T>
T required(const JsonValue& object, const char* key) {
  const auto found = object.find(key);
  if (!found || found->isNull())
    throw JsonFieldError(std::string("missing key \u201C") + key + "\u201D");
  return read<T>(*found, key);
}

template <typename T>
std::optional<T> optional(const JsonValue& object, const char* key) {
  const auto found = object.find(key);
  if (!found || found->isNull()) return std::nullopt;
  return read<T>(*found, key);
}

}  // namespace json_fields
}  // namespace brisklet
