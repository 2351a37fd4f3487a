#include "model/ModelJson.h"

#include <cmath>

#include "platform/FileNames.h"

namespace brisklet {
namespace {

using json = nlohmann::json;

[[noreturn]] void wrongType(const char* key, const char* expected) {
  throw RecordError(std::string("\u201C") + key + "\u201D is not " + expected);
}

double finite(double value, const char* key) {
  if (!std::isfinite(value)) throw RecordError(std::string("\u201C") + key + "\u201D is not a finite number");
  return value;
}

// Typed reading of one present, non-null value.
template <typename T>
T read(const json& value, const char* key);

template <>
double read<double>(const json& value, const char* key) {
  if (!value.is_number()) wrongType(key, "a number");
  return value.get<double>();
}

template <>
std::int64_t read<std::int64_t>(const json& value, const char* key) {
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (value.is_number_float()) {
    const double number = value.get<double>();
    // Whole numbers written with a fraction ("3.0") are still whole numbers.
    if (std::trunc(number) == number && std::fabs(number) < 9.0e15)
      return static_cast<std::int64_t>(number);
  }
  wrongType(key, "a whole number");
}

template <>
bool read<bool>(const json& value, const char* key) {
  if (!value.is_boolean()) wrongType(key, "true or false");
  return value.get<bool>();
}

template <>
std::string read<std::string>(const json& value, const char* key) {
  if (!value.is_string()) wrongType(key, "text");
  return value.get<std::string>();
}

template <>
Uuid read<Uuid>(const json& value, const char* key) {
  const auto uuid = Uuid::parse(read<std::string>(value, key));
  if (!uuid) wrongType(key, "an identifier");
  return *uuid;
}

template <>
Timestamp read<Timestamp>(const json& value, const char* key) {
  const auto instant = parseIso8601(read<std::string>(value, key));
  if (!instant) wrongType(key, "an ISO 8601 date");
  return *instant;
}

template <>
ByteString read<ByteString>(const json& value, const char* key) {
  auto bytes = decodeBase64(read<std::string>(value, key));
  if (!bytes) wrongType(key, "base64 data");
  return std::move(*bytes);
}

template <>
NarrationStatus read<NarrationStatus>(const json& value, const char* key) {
  const auto status = narrationStatusFromRaw(read<std::string>(value, key));
  if (!status) wrongType(key, "a known narration status");
  return *status;
}

template <>
std::vector<std::string> read<std::vector<std::string>>(const json& value, const char* key) {
  if (!value.is_array()) wrongType(key, "a list");
  std::vector<std::string> texts;
  texts.reserve(value.size());
  for (const json& element : value) texts.push_back(read<std::string>(element, key));
  return texts;
}

// Model types decode through their from_json.
template <typename T>
  requires std::is_class_v<T> && requires(const json& j, T& t) { from_json(j, t); }
T readObject(const json& value, const char* key) {
  if (!value.is_object()) wrongType(key, "an object");
  T decoded;
  from_json(value, decoded);
  return decoded;
}

void requireObject(const json& value, const char* what) {
  if (!value.is_object()) wrongType(what, "an object");
}

template <typename T>
T required(const json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null())
    throw RecordError(std::string("missing key \u201C") + key + "\u201D");
  if constexpr (std::is_same_v<T, EditPlan> || std::is_same_v<T, Segment> ||
                std::is_same_v<T, QualityScores> || std::is_same_v<T, NarrationClip>)
    return readObject<T>(*found, key);
  else
    return read<T>(*found, key);
}

template <typename T>
std::optional<T> optional(const json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) return std::nullopt;
  if constexpr (std::is_same_v<T, EditPlan> || std::is_same_v<T, QualityScores> ||
                std::is_same_v<T, NarrationClip>)
    return readObject<T>(*found, key);
  else
    return read<T>(*found, key);
}

// A file name that could reach outside its folder is no file name at all.
std::optional<std::string> optionalFileName(const json& object, const char* key) {
  std::optional<std::string> name = optional<std::string>(object, key);
  if (name && !isPlainFileName(*name)) return std::nullopt;
  return name;
}

template <typename T>
void writeOptional(json& object, const char* key, const std::optional<T>& value) {
  if (!value) return;
  if constexpr (std::is_same_v<T, double>)
    object[key] = finite(*value, key);
  else
    object[key] = *value;
}

}  // namespace

// Each encoder builds a local value and hands it over only when complete: nlohmann::json's
// converting constructor leaks what a throwing to_json already put into its target.

void to_json(json& result, const QualityScores& scores) {
  json object = {{"blur", finite(scores.blur, "blur")},
            {"exposure", finite(scores.exposure, "exposure")},
            {"shake", finite(scores.shake, "shake")},
            {"aesthetics", finite(scores.aesthetics, "aesthetics")},
            {"composite", finite(scores.composite, "composite")},
            {"isUtility", scores.isUtility}};
  result = std::move(object);
}

void from_json(const json& object, QualityScores& scores) {
  requireObject(object, "quality");
  scores.blur = required<double>(object, "blur");
  scores.exposure = required<double>(object, "exposure");
  scores.shake = required<double>(object, "shake");
  scores.aesthetics = required<double>(object, "aesthetics");
  scores.composite = required<double>(object, "composite");
  scores.isUtility = required<bool>(object, "isUtility");
}

void to_json(json& result, const NarrationClip& clip) {
  json object = {{"text", clip.text},
            {"userEditedText", clip.userEditedText},
            {"startOffsetSec", finite(clip.startOffsetSec, "startOffsetSec")},
            {"status", rawValue(clip.status)}};
  writeOptional(object, "audioFileName", clip.audioFileName);
  writeOptional(object, "durationSec", clip.durationSec);
  result = std::move(object);
}

void from_json(const json& object, NarrationClip& clip) {
  requireObject(object, "narration");
  clip.text = required<std::string>(object, "text");
  clip.userEditedText = required<bool>(object, "userEditedText");
  clip.audioFileName = optionalFileName(object, "audioFileName");
  clip.startOffsetSec = required<double>(object, "startOffsetSec");
  clip.durationSec = optional<double>(object, "durationSec");
  clip.status = required<NarrationStatus>(object, "status");
}

void to_json(json& result, const Segment& segment) {
  json object = {{"id", segment.id.text()},
            {"startSec", finite(segment.startSec, "startSec")},
            {"endSec", finite(segment.endSec, "endSec")},
            {"keep", segment.keep},
            {"userOverrodeKeep", segment.userOverrodeKeep}};
  writeOptional(object, "quality", segment.quality);
  writeOptional(object, "sceneDescription", segment.sceneDescription);
  writeOptional(object, "activity", segment.activity);
  writeOptional(object, "keepReason", segment.keepReason);
  writeOptional(object, "narration", segment.narration);
  result = std::move(object);
}

void from_json(const json& object, Segment& segment) {
  requireObject(object, "segment");
  segment.id = required<Uuid>(object, "id");
  segment.startSec = required<double>(object, "startSec");
  segment.endSec = required<double>(object, "endSec");
  segment.keep = required<bool>(object, "keep");
  segment.userOverrodeKeep = required<bool>(object, "userOverrodeKeep");
  segment.quality = optional<QualityScores>(object, "quality");
  segment.sceneDescription = optional<std::string>(object, "sceneDescription");
  segment.activity = optional<std::string>(object, "activity");
  segment.keepReason = optional<std::string>(object, "keepReason");
  segment.narration = optional<NarrationClip>(object, "narration");
}

void to_json(json& result, const EditPlan& plan) {
  json object = {{"segments", plan.segments},
            {"runningSummary", plan.runningSummary},
            {"planRevision", plan.planRevision}};
  writeOptional(object, "editorSuggestions", plan.editorSuggestions);
  result = std::move(object);
}

void from_json(const json& object, EditPlan& plan) {
  requireObject(object, "editPlan");
  const auto segments = object.find("segments");
  if (segments == object.end() || segments->is_null())
    throw RecordError("missing key \u201Csegments\u201D");
  if (!segments->is_array()) wrongType("segments", "a list");
  plan.segments.clear();
  plan.segments.reserve(segments->size());
  for (const json& element : *segments) plan.segments.push_back(readObject<Segment>(element, "segments"));
  plan.runningSummary = required<std::string>(object, "runningSummary");
  plan.editorSuggestions = optional<std::vector<std::string>>(object, "editorSuggestions");
  plan.planRevision = required<std::int64_t>(object, "planRevision");
}

void to_json(json& result, const Project& project) {
  json object = {{"schemaVersion", project.schemaVersion},
            {"id", project.id.text()},
            {"name", project.name},
            {"videoBookmark", encodeBase64(project.videoBookmark)},
            {"videoDurationSec", finite(project.videoDurationSec, "videoDurationSec")},
            {"createdAt", formatIso8601(project.createdAt)}};
  writeOptional(object, "editPlan", project.editPlan);
  writeOptional(object, "denoisedAudioFileName", project.denoisedAudioFileName);
  writeOptional(object, "audioCrystalClear", project.audioCrystalClear);
  writeOptional(object, "audioGainPercent", project.audioGainPercent);
  writeOptional(object, "aspectRatioRaw", project.aspectRatioRaw);
  writeOptional(object, "transitionStyleRaw", project.transitionStyleRaw);
  writeOptional(object, "musicFileName", project.musicFileName);
  writeOptional(object, "musicVolumePercent", project.musicVolumePercent);
  result = std::move(object);
}

void from_json(const json& object, Project& project) {
  requireObject(object, "project");
  project.schemaVersion = required<std::int64_t>(object, "schemaVersion");
  project.id = required<Uuid>(object, "id");
  project.name = required<std::string>(object, "name");
  project.videoBookmark = required<ByteString>(object, "videoBookmark");
  project.videoDurationSec = required<double>(object, "videoDurationSec");
  project.createdAt = required<Timestamp>(object, "createdAt");
  project.editPlan = optional<EditPlan>(object, "editPlan");
  project.denoisedAudioFileName = optionalFileName(object, "denoisedAudioFileName");
  project.audioCrystalClear = optional<bool>(object, "audioCrystalClear");
  project.audioGainPercent = optional<double>(object, "audioGainPercent");
  project.aspectRatioRaw = optional<std::string>(object, "aspectRatioRaw");
  project.transitionStyleRaw = optional<std::string>(object, "transitionStyleRaw");
  project.musicFileName = optionalFileName(object, "musicFileName");
  project.musicVolumePercent = optional<double>(object, "musicVolumePercent");
}

std::string encodeProjectRecord(const Project& project) {
  // Invalid UTF-8 cannot come from our own decoders, but a name taken from a file system can
  // carry it; it is replaced rather than failing the save.
  return json(project).dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

Project decodeProjectRecord(std::string_view text) {
  const json document = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) throw RecordError("the record is not valid JSON");
  return document.get<Project>();
}

}  // namespace brisklet
