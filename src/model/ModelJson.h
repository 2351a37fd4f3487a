#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

#include "model/EditPlan.h"
#include "model/Project.h"
#include "platform/JsonFields.h"
#include "platform/JsonReader.h"

namespace brisklet {

// A record that does not decode: what() says which key and why.
using RecordError = JsonFieldError;

// JSON forms of the model. Encoding (through nlohmann::json) writes an optional field only when
// it holds a value and throws RecordError for a number JSON cannot hold (NaN, infinity), so a
// broken value can never replace a good record. Decoding (through the faster JsonReader, since
// start-up decodes every record) is strict: a missing or mistyped required key or an unknown
// enumeration value throws RecordError; an optional key may be missing or null. File-name fields
// that are not a plain name inside their folder decode as absent.
void to_json(nlohmann::json& result, const QualityScores& scores);
void decode(const JsonValue& json, QualityScores& scores);
void to_json(nlohmann::json& result, const NarrationClip& clip);
void decode(const JsonValue& json, NarrationClip& clip);
void to_json(nlohmann::json& result, const FacePosition& face);
void decode(const JsonValue& json, FacePosition& face);
void to_json(nlohmann::json& result, const Segment& segment);
void decode(const JsonValue& json, Segment& segment);
void to_json(nlohmann::json& result, const EditPlan& plan);
void decode(const JsonValue& json, EditPlan& plan);
void to_json(nlohmann::json& result, const Project& project);
void decode(const JsonValue& json, Project& project);

// Parses `text` and decodes a T from it. Throws RecordError, also for text that is not JSON.
template <typename T>
T decodeJson(std::string_view text) {
  try {
    const JsonDocument document = JsonDocument::parse(text);
    T decoded;
    decode(document.root(), decoded);
    return decoded;
  } catch (const JsonSyntaxError& error) {
    throw RecordError(error.what());
  }
}

// The project record's text: pretty-printed, keys sorted, dates in ISO 8601 with a "Z".
std::string encodeProjectRecord(const Project& project);
// Throws RecordError for malformed JSON or a record that does not decode.
Project decodeProjectRecord(std::string_view text);

}  // namespace brisklet
