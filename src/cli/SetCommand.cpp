#include <algorithm>
#include <charconv>
#include <cmath>
#include <iomanip>
#include <sstream>

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

// Seconds as a person types them: "4", "6.5", "12.25".
std::string formatSeconds(double seconds) {
  std::ostringstream text;
  text << std::defaultfloat << std::setprecision(10) << seconds;
  return text.str();
}

void expectValues(const std::vector<std::string>& values, size_t count, const char* usage) {
  if (values.size() != count) throw UsageError(std::string("expected: set ID ") + usage);
}

void setSegmentValue(AppState& state, const Project& project, const std::string& key,
                     const std::vector<std::string>& values) {
  if (key == "keep") {
    expectValues(values, 2, "keep SEGMENT_INDEX yes|no");
    if (values[1] != "yes" && values[1] != "no") throw UsageError("keep takes yes or no");
    Segment segment = segmentAt(project, values[0]);
    segment.keep = values[1] == "yes";
    segment.userOverrodeKeep = true;
    state.updateSegment(segment, project.id);
  } else if (key == "trim") {
    expectValues(values, 3, "trim SEGMENT_INDEX START END");
    Segment segment = segmentAt(project, values[0]);
    const double start = number(values[1], "START");
    const double end = number(values[2], "END");
    if (start < 0 || end <= start || end > project.videoDurationSec + 1e-9)
      throw CommandFailed("A segment runs from 0 to the video's end, with START before END.");
    // Segments never overlap: a trim reaches at most to its neighbours' edges.
    const auto& segments = project.editPlan->segments;
    const auto at = std::find_if(segments.begin(), segments.end(),
                                 [&](const Segment& each) { return each.id == segment.id; });
    const double earliest = at == segments.begin() ? 0.0 : std::prev(at)->endSec;
    const double latest =
        std::next(at) == segments.end() ? project.videoDurationSec : std::next(at)->startSec;
    if (start < earliest - 1e-9 || end > latest + 1e-9)
      throw CommandFailed("Segment " + values[0] + " can reach from " + formatSeconds(earliest) +
                          " to " + formatSeconds(latest) + " (where its neighbours begin and end).");
    segment.startSec = start;
    segment.endSec = end;
    state.updateSegment(segment, project.id);
  } else {
    expectValues(values, 2, "narration SEGMENT_INDEX TEXT");
    if (const size_t length = characterCount(values[1]); length > kNarrationTextLimit)
      throw UsageError("a narration line holds at most " + std::to_string(kNarrationTextLimit) +
                       " characters; this one has " + std::to_string(length));
    // The inspector's rule: an unchanged text stores nothing, a first line starts 0.5 s in.
    const std::optional<Segment> committed =
        committingNarrationText(segmentAt(project, values[0]), values[1]);
    if (committed) state.updateSegment(*committed, project.id);
  }
}

}  // namespace

Command setCommand() {
  return {
      "set", "set ID KEY VALUE...",
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
