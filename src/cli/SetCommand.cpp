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

// The segment edits, by the rules the window's edits follow: a refused one says why and stores
// nothing.
void setSegmentValue(AppState& state, const Project& project, const std::string& key,
                     const std::vector<std::string>& values) {
  if (key == "keep") {
    expectValues(values, 2, "keep SEGMENT_INDEX yes|no");
    if (values[1] != "yes" && values[1] != "no") throw UsageError("keep takes yes or no");
    state.makeEdit(project.id, SetKeep{segmentAt(project, values[0]).id, values[1] == "yes"});
  } else if (key == "trim") {
    expectValues(values, 3, "trim SEGMENT_INDEX START END");
    const Segment segment = segmentAt(project, values[0]);
    state.makeEdit(project.id,
                   SetSpan{segment.id, number(values[1], "START"), number(values[2], "END")});
  } else {
    expectValues(values, 2, "narration SEGMENT_INDEX TEXT");
    if (const size_t length = characterCount(values[1]); length > kNarrationTextLimit)
      throw UsageError("a narration line holds at most " + std::to_string(kNarrationTextLimit) +
                       " characters; this one has " + std::to_string(length));
    state.makeEdit(project.id, SetNarrationText{segmentAt(project, values[0]).id, values[1]});
  }
}

}  // namespace

Command setCommand() {
  return {"set", "set ID KEY VALUE...",
          "changes the output: aspect, transition, music, music-volume, keep, trim, narration",
          [](Context& context, Arguments arguments) {
            if (arguments.size() < 3) throw UsageError("set takes a project, a key and a value");
            AppState& state = context.state;
            const Project project = findProject(state, arguments[0]);
            const std::string& key = arguments[1];
            const std::vector<std::string> values(arguments.begin() + 2, arguments.end());
            state.setLastError(std::nullopt);
            if (key == "aspect") {
              expectValues(values, 1, "aspect original|16:9|9:16|1:1|4:5");
              const auto aspect = aspectRatioFromRaw(values[0]);
              if (!aspect) throw UsageError("aspect is one of original, 16:9, 9:16, 1:1, 4:5");
              state.setAspectRatio(*aspect, project.id);
            } else if (key == "transition") {
              expectValues(values, 1, "transition none|dipToBlack");
              const auto style = transitionStyleFromRaw(values[0]);
              if (!style) throw UsageError("transition is none or dipToBlack");
              state.setTransition(*style, project.id);
            } else if (key == "music") {
              expectValues(values, 1, "music FILE|none");
              state.setMusic(values[0] == "none" ? std::nullopt
                                                 : std::optional<std::filesystem::path>(values[0]),
                             project.id);
            } else if (key == "music-volume") {
              expectValues(values, 1, "music-volume PERCENT");
              state.setMusicVolume(number(values[0], "PERCENT"), project.id);
            } else if (key == "keep" || key == "trim" || key == "narration") {
              setSegmentValue(state, project, key, values);
            } else {
              throw UsageError("unknown key \u201C" + key +
                               "\u201D: aspect, transition, music, music-volume, keep, trim or "
                               "narration");
            }
            if (state.lastError()) throw CommandFailed(*state.lastError());
            return kSuccess;
          }};
}

}  // namespace brisklet::cli
