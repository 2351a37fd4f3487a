#include "model/ModelJson.h"

#include <cmath>

#include "platform/FileNames.h"
#include "platform/JsonFields.h"

namespace brisklet {

// How the model's own types read from JSON.
namespace json_fields {

template <>
Uuid read<Uuid>(const JsonValue& value, const char* key) {
  if (!value.isString()) wrongType(key, "an identifier");
  const auto uuid = Uuid::parse(value.string());
  if (!uuid) wrongType(key, "an identifier");
  return *uuid;
}

template <>
Timestamp read<Timestamp>(const JsonValue& value, const char* key) {
  if (!value.isString()) wrongType(key, "an ISO 8601 date");
  const auto instant = parseIso8601(value.string());
  if (!instant) wrongType(key, "an ISO 8601 date");
  return *instant;
}

template <>
ByteString read<ByteString>(const JsonValue& value, const char* key) {
  if (!value.isString()) wrongType(key, "base64 data");
  auto bytes = decodeBase64(value.string());
  if (!bytes) wrongType(key, "base64 data");
  return std::move(*bytes);
}

template <>
NarrationStatus read<NarrationStatus>(const JsonValue& value, const char* key) {
  if (!value.isString()) wrongType(key, "a known narration status");
  const auto status = narrationStatusFromRaw(value.string());
  if (!status) wrongType(key, "a known narration status");
  return *status;
}

template <>
std::vector<Segment> read<std::vector<Segment>>(const JsonValue& value, const char* key) {
  return readList<Segment>(value, key);
}

template <>
std::vector<FacePosition> read<std::vector<FacePosition>>(const JsonValue& value, const char* key) {
  return readList<FacePosition>(value, key);
}

template <>
std::vector<SourceSpan> read<std::vector<SourceSpan>>(const JsonValue& value, const char* key) {
  return readList<SourceSpan>(value, key);
}

}  // namespace json_fields

namespace {

using json = nlohmann::json;
using json_fields::optional;
using json_fields::read;
using json_fields::readList;
using json_fields::required;
using json_fields::wrongType;

double finite(double value, const char* key) {
  if (!std::isfinite(value))
    throw RecordError(std::string("\u201C") + key + "\u201D is not a finite number");
  return value;
}

void requireObject(const JsonValue& value, const char* what) {
  if (!value.isObject()) wrongType(what, "an object");
}

// A file name that could reach outside its folder is no file name at all.
std::optional<std::string> optionalFileName(const JsonValue& object, const char* key) {
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

void decode(const JsonValue& object, QualityScores& scores) {
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
  writeOptional(object, "spokenText", clip.spokenText);
  result = std::move(object);
}

void decode(const JsonValue& object, NarrationClip& clip) {
  requireObject(object, "narration");
  clip.text = required<std::string>(object, "text");
  clip.userEditedText = required<bool>(object, "userEditedText");
  clip.audioFileName = optionalFileName(object, "audioFileName");
  clip.startOffsetSec = required<double>(object, "startOffsetSec");
  clip.durationSec = optional<double>(object, "durationSec");
  clip.status = required<NarrationStatus>(object, "status");
  clip.spokenText = optional<std::string>(object, "spokenText");
}

void to_json(json& result, const FacePosition& face) {
  json object = {{"t", finite(face.timeSec, "t")},
                 {"x", finite(face.x, "x")},
                 {"y", finite(face.y, "y")},
                 {"w", finite(face.width, "w")},
                 {"h", finite(face.height, "h")}};
  result = std::move(object);
}

void decode(const JsonValue& object, FacePosition& face) {
  requireObject(object, "face");
  face.timeSec = required<double>(object, "t");
  face.x = required<double>(object, "x");
  face.y = required<double>(object, "y");
  face.width = required<double>(object, "w");
  face.height = required<double>(object, "h");
}

void to_json(json& result, const SourceSpan& span) {
  result = {{"startSec", finite(span.startSec, "startSec")},
            {"endSec", finite(span.endSec, "endSec")}};
}

void decode(const JsonValue& object, SourceSpan& span) {
  requireObject(object, "pause");
  span.startSec = required<double>(object, "startSec");
  span.endSec = required<double>(object, "endSec");
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
  if (!segment.facePath.empty()) object["facePath"] = segment.facePath;
  if (segment.centredCrop) object["centredCrop"] = true;
  if (!segment.removedPauses.empty()) object["removedPauses"] = segment.removedPauses;
  result = std::move(object);
}

void decode(const JsonValue& object, Segment& segment) {
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
  segment.facePath =
      optional<std::vector<FacePosition>>(object, "facePath").value_or(std::vector<FacePosition>{});
  segment.centredCrop = optional<bool>(object, "centredCrop").value_or(false);
  segment.removedPauses = optional<std::vector<SourceSpan>>(object, "removedPauses")
                              .value_or(std::vector<SourceSpan>{});
}

void to_json(json& result, const EditPlan& plan) {
  json object = {{"segments", plan.segments},
                 {"runningSummary", plan.runningSummary},
                 {"planRevision", plan.planRevision}};
  writeOptional(object, "editorSuggestions", plan.editorSuggestions);
  result = std::move(object);
}

void decode(const JsonValue& object, EditPlan& plan) {
  requireObject(object, "editPlan");
  plan.segments = required<std::vector<Segment>>(object, "segments");
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
  writeOptional(object, "loudness", project.loudnessRaw);
  result = std::move(object);
}

void decode(const JsonValue& object, Project& project) {
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
  project.loudnessRaw = optional<std::string>(object, "loudness");
}

std::string encodeProjectRecord(const Project& project) {
  // Invalid UTF-8 cannot come from our own decoders, but a name taken from a file system can
  // carry it; it is replaced rather than failing the save.
  return json(project).dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

Project decodeProjectRecord(std::string_view text) { return decodeJson<Project>(text); }

}  // namespace brisklet
