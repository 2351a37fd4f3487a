#include <charconv>
#include <cmath>

#include "app/ProjectLookup.h"
#include "cli/CliCommand.h"
#include "model/RecordLimits.h"

namespace brisklet::cli {
namespace {

double number(const std::string& text, const char* what) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    throw UsageError(std::string(what) + " must be a number, not \u201C" + text + "\u201D");
  return value;
}

// The plan's segment at `indexText` (counted from 0, as `analyze` prints them), as a copy.
Segment segmentAt(const Project& project, const std::string& indexText) {
  if (!project.editPlan) throw CommandFailed("The project has not been analysed yet.");
  const double index = number(indexText, "SEGMENT_INDEX");
  const auto& segments = project.editPlan->segments;
  if (index < 0 || index != std::floor(index) || index >= static_cast<double>(segments.size()))
    throw CommandFailed("The plan has no segment " + indexText + " (it has " +
                        std::to_string(segments.size()) + ").");
  return segments[static_cast<size_t>(index)];
}

void expectValues(const std::vector<std::string>& values, size_t count, const char* usage) {
  if (values.size() != count) throw UsageError(std::string("expected: set ID ") + usage);
}

// The edit `set KEY VALUE...` asks for, built as the window builds it: the record's rules then
// decide, for both.
Edit editFor(const Project& project, const std::string& key,
             const std::vector<std::string>& values) {
  if (key == "aspect") {
    expectValues(values, 1, "aspect original|16:9|9:16|1:1|4:5");
    const auto aspect = aspectRatioFromRaw(values[0]);
    if (!aspect) throw UsageError("aspect is one of original, 16:9, 9:16, 1:1, 4:5");
    return SetAspectRatio{std::string(rawValue(*aspect))};
  }
  if (key == "transition") {
    expectValues(values, 1, "transition none|dipToBlack");
    const auto style = transitionStyleFromRaw(values[0]);
    if (!style) throw UsageError("transition is none or dipToBlack");
    return SetTransition{std::string(rawValue(*style))};
  }
  if (key == "loudness") {
    expectValues(values, 1, "loudness -14|-16|-23|off");
    const auto target = loudnessTargetFromRaw(values[0]);
    if (!target) throw UsageError("loudness is one of -14, -16, -23, off");
    return SetLoudness{std::string(rawValue(*target))};
  }
  if (key == "music-volume") {
    expectValues(values, 1, "music-volume PERCENT");
    return SetMusicVolume{number(values[0], "PERCENT")};
  }
  if (key == "keep") {
    expectValues(values, 2, "keep SEGMENT_INDEX yes|no");
    if (values[1] != "yes" && values[1] != "no") throw UsageError("keep takes yes or no");
    return SetKeep{segmentAt(project, values[0]).id, values[1] == "yes"};
  }
  if (key == "crop") {
    expectValues(values, 2, "crop SEGMENT_INDEX centre|follow");
    if (values[1] != "centre" && values[1] != "follow")
      throw UsageError("crop takes centre or follow");
    return SetCentredCrop{segmentAt(project, values[0]).id, values[1] == "centre"};
  }
  if (key == "trim") {
    expectValues(values, 3, "trim SEGMENT_INDEX START END");
    return SetSpan{segmentAt(project, values[0]).id, number(values[1], "START"),
                   number(values[2], "END")};
  }
  if (key == "narration") {
    expectValues(values, 2, "narration SEGMENT_INDEX TEXT");
    if (const size_t length = characterCount(values[1]); length > kNarrationTextLimit)
      throw UsageError("a narration line holds at most " + std::to_string(kNarrationTextLimit) +
                       " characters; this one has " + std::to_string(length));
    return SetNarrationText{segmentAt(project, values[0]).id, values[1]};
  }
  throw UsageError("unknown key \u201C" + key +
                   "\u201D: aspect, transition, loudness, music, music-volume, keep, crop, trim "
                   "or narration");
}

}  // namespace

Command setCommand() {
  return {
      "set", "set ID KEY VALUE...",
      "changes the output: aspect, transition, loudness, music, music-volume, keep, crop, "
      "trim, narration",
      [](Context& context, Arguments arguments) {
        if (arguments.size() < 3) throw UsageError("set takes a project, a key and a value");
        AppState& state = context.state;
        const Project project = findProject(state, arguments[0]);
        const std::string& key = arguments[1];
        const std::vector<std::string> values(arguments.begin() + 2, arguments.end());
        if (key == "music") {
          // A bed is copied into the project first; the copy's failure is its own.
          expectValues(values, 1, "music FILE|none");
          const EditResult set = state.setMusic(
              values[0] == "none" ? std::nullopt : std::optional<std::filesystem::path>(values[0]),
              project.id);
          if (!set) throw CommandFailed(set.failure.value_or("The music was not set."));
          return kSuccess;
        }
        const EditResult result = state.makeEdit(project.id, editFor(project, key, values));
        if (result.failure) throw CommandFailed(*result.failure);
        return kSuccess;
      }};
}

}  // namespace brisklet::cli
