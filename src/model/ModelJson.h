#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

#include "model/EditPlan.h"
#include "model/Project.h"

namespace brisklet {

// A record that does not decode: what() says which key and why.
class RecordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// JSON forms of the model. Encoding writes an optional field only when it holds a value and
// throws RecordError for a number JSON cannot hold (NaN, infinity), so a broken value can never
// replace a good record. Decoding is strict: a missing or mistyped required key or an unknown
// enumeration value throws RecordError; an optional key may be missing or null. File-name fields
// that are not a plain name inside their folder decode as absent.
void to_json(nlohmann::json& result, const QualityScores& scores);
void from_json(const nlohmann::json& json, QualityScores& scores);
void to_json(nlohmann::json& result, const NarrationClip& clip);
void from_json(const nlohmann::json& json, NarrationClip& clip);
void to_json(nlohmann::json& result, const Segment& segment);
void from_json(const nlohmann::json& json, Segment& segment);
void to_json(nlohmann::json& result, const EditPlan& plan);
void from_json(const nlohmann::json& json, EditPlan& plan);
void to_json(nlohmann::json& result, const Project& project);
void from_json(const nlohmann::json& json, Project& project);

// The project record's text: pretty-printed, keys sorted, dates in ISO 8601 with a "Z".
std::string encodeProjectRecord(const Project& project);
// Throws RecordError for malformed JSON or a record that does not decode.
Project decodeProjectRecord(std::string_view text);

}  // namespace brisklet
