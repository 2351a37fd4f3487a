#include <algorithm>
#include <filesystem>
#include <optional>
#include <vector>

#include "app/AppState.h"
#include "app/LongCommand.h"
#include "media/platform/MediaError.h"
#include "media/platform/PcmReader.h"
#include "model/AppSettings.h"
#include "model/NarrationFile.h"
#include "platform/Cancellation.h"
#include "platform/FileNames.h"
#include "platform/OutputFile.h"
#include "voice/ElevenLabsClient.h"

namespace brisklet {
namespace {

const char* const kStage = "Generating narration\u2026";

// One line to speak: the segment it belongs to and the text as it was when the command began.
struct Line {
  Uuid segmentID;
  std::string text;
};

// One line spoken: where its audio lies and how long it lasts.
struct Spoken {
  Line line;
  std::string fileName;
  double durationSec = 0;
};

struct Outcome {
  std::vector<Spoken> spoken;
  size_t lineCount = 0;
  std::optional<std::string> failure;  // what stopped the run before its end
};

// The lines to speak, in plan order: those without audio of their text, and the ready ones
// whose clip is `broken`.
std::vector<Line> linesToSpeak(const EditPlan& plan, const std::vector<Uuid>& broken) {
  std::vector<Line> lines;
  for (const Segment& segment : plan.segments)
    if (needsNarrationAudio(segment) ||
        std::find(broken.begin(), broken.end(), segment.id) != broken.end())
      lines.push_back({segment.id, segment.narration->text});
  return lines;
}

// How long the sound in `file` plays, when it decodes to the end and lasts; none otherwise.
// Only decoding it whole proves that an answer cut off in transfer is not kept.
std::optional<double> playableLength(const std::filesystem::path& file) {
  try {
    const std::optional<Asset> sound = openSoundFile(file);
    if (!sound) return std::nullopt;
    const PcmFormat format{.sampleRate = 48000, .channels = 1};
    std::size_t bytes = 0;
    PcmReader(*sound, format).read([&](std::span<const std::uint8_t> block) {
      bytes += block.size();
    });
    const double seconds = static_cast<double>(bytes) / format.bytesPerSample() / format.sampleRate;
    if (seconds > 0) return seconds;
  } catch (const MediaError&) {
    // Not playable: the caller makes it again or says so.
  }
  return std::nullopt;
}

// The audio of `line` in `folder`: the file made before when it plays, else spoken now. What the
// service sends is kept only when it plays, so a broken answer never stands for the line.
Spoken speak(const Line& line, const std::filesystem::path& folder, const ElevenLabsClient& client,
             const std::string& voiceID, const std::stop_token& stop) {
  const std::string name = narrationFileName(line.segmentID, line.text);
  const std::filesystem::path file = folder / name;
  std::error_code error;
  if (std::filesystem::exists(file, error)) {
    // A damaged file from before is spoken again; the new one is renamed over it.
    if (const std::optional<double> length = playableLength(file)) return {line, name, *length};
  }
  const std::string audio = client.textToSpeech(voiceID, line.text, stop);
  OutputFile output(file);
  writeInto(audio, output);
  const std::optional<double> length = playableLength(output.temporary());
  if (!length) throw MediaError("The speech service sent audio that cannot be played.");
  output.commit();
  return {line, name, *length};
}

// Whether `file` is there and its sound starts to decode: cheap enough to ask of every clip
// when a project opens (a whole decode is kept for what the service sends).
bool opensAsSound(const std::filesystem::path& file) {
  try {
    return openSoundFile(file).has_value();
  } catch (const MediaError&) {
    return false;
  }
}

// The kept lines marked ready whose clip is gone or does not play: the clip is made again.
std::vector<Uuid> linesWithBrokenClips(const EditPlan& plan, const std::filesystem::path& folder) {
  std::vector<Uuid> broken;
  for (const Segment& segment : plan.segments) {
    const std::optional<NarrationClip>& line = segment.narration;
    if (!segment.keep || !line || line->text.empty() || line->status != NarrationStatus::ready ||
        !line->audioFileName)
      continue;
    const std::string& name = *line->audioFileName;
    if (!isPlainFileName(name) || !opensAsSound(folder / name)) broken.push_back(segment.id);
  }
  return broken;
}

}  // namespace

std::size_t AppState::narrationClipsToMake(const Uuid& projectID) {
  const Project* found = project(projectID);
  if (found == nullptr || !found->editPlan) return 0;
  const std::vector<Uuid> broken =
      linesWithBrokenClips(*found->editPlan, store_.projectDirectory(projectID) / "narration");
  if (!broken.empty()) {
    try {
      modifyProject(projectID, [&](Project& stored) {
        if (!stored.editPlan) return;
        for (const Uuid& id : broken)
          if (Segment* segment = stored.editPlan->segment(id); segment && segment->narration)
            segment->narration->status = NarrationStatus::pendingAudio;
      });
    } catch (const ProjectStoreError&) {
      // Not stored: the lines are still counted, and narration makes their clips all the same.
    }
  }
  const Project* now = project(projectID);
  if (now == nullptr || !now->editPlan) return 0;
  const auto& segments = now->editPlan->segments;
  const auto waiting = static_cast<std::size_t>(std::count_if(
      segments.begin(), segments.end(), [&](const Segment& segment) {
        return needsNarrationAudio(segment) ||
               std::find(broken.begin(), broken.end(), segment.id) != broken.end();
      }));
  if (!broken.empty())
    setLastError(std::to_string(waiting) + (waiting == 1 ? " narration clip needs" : " narration clips need") +
                 " making (" + std::to_string(broken.size()) +
                 (broken.size() == 1 ? " was" : " were") +
                 " missing or damaged): Generate Voice makes them.");
  return waiting;
}

QCoro::Task<CommandOutcome> AppState::generateNarrationAudio(const Uuid& projectIDArgument) {
  const Uuid projectID = projectIDArgument;  // see runLongCommand on coroutine arguments
  const Project* found = project(projectID);
  if (found == nullptr || !found->editPlan)
    co_return CommandOutcome::failed("The project has not been analysed yet.");
  const std::optional<std::string> key = serviceKey(KeychainStore::Key::elevenLabs);
  if (!key)
    co_return tell(CommandOutcome::failed("Add your ElevenLabs API key in Settings first."));
  // The preferences file is the user's to edit: a voice id that could not be one is none.
  const std::string voiceID = AppSettings::voiceID();
  if (!isValidVoiceID(voiceID))
    co_return tell(
        CommandOutcome::failed("Create your voice clone first (Settings \u2192 Voice)."));
  const std::filesystem::path folder = store_.projectDirectory(projectID) / "narration";
  std::error_code ignored;  // a folder that cannot be made fails the first write, which says so
  std::filesystem::create_directories(folder, ignored);
  const std::vector<Uuid> broken = linesWithBrokenClips(*found->editPlan, folder);
  const std::vector<Line> lines = linesToSpeak(*found->editPlan, broken);
  if (lines.empty())
    co_return tell(CommandOutcome::doneSaying("All narration audio is already up to date."));

  auto command = runLongCommand(
      *this, LongCommandSteps{kStage, "", 0.0, projectID},
      [lines, folder, voiceID, client = ElevenLabsClient(*key)](const ProgressReporter& report,
                                                                std::stop_token stop) {
        Outcome outcome{.spoken = {}, .lineCount = lines.size(), .failure = std::nullopt};
        for (size_t index = 0; index < lines.size(); ++index) {
          report(std::string(kStage) + " (" + std::to_string(index + 1) + "/" +
                     std::to_string(lines.size()) + ")",
                 static_cast<double>(index) / static_cast<double>(lines.size()));
          try {
            throwIfCancelled(stop);
            outcome.spoken.push_back(speak(lines[index], folder, client, voiceID, stop));
          } catch (const Cancelled&) {
            throw;
          } catch (const std::exception& error) {
            outcome.failure = error.what();
            break;
          }
        }
        return outcome;
      },
      [projectID](AppState& state, const Outcome& outcome) {
        // By segment id, into the plan as it is now: a re-analysis or an edit made meanwhile
        // stands, and a line edited meanwhile keeps waiting for audio of its new text.
        state.modifyProject(projectID, [&](Project& project) {
          if (!project.editPlan) return;
          for (const Spoken& spoken : outcome.spoken) {
            Segment* segment = project.editPlan->segment(spoken.line.segmentID);
            if (segment == nullptr || !segment->narration ||
                segment->narration->text != spoken.line.text)
              continue;
            segment->narration->audioFileName = spoken.fileName;
            segment->narration->durationSec = spoken.durationSec;
            segment->narration->status = NarrationStatus::ready;
            segment->narration->spokenText.reset();
          }
          project.editPlan->planRevision += 1;
        });
        if (!outcome.failure) return CommandOutcome{};
        return state.tell(CommandOutcome::failed(
            "Generated " + std::to_string(outcome.spoken.size()) + " of " +
            std::to_string(outcome.lineCount) + " clips, then hit: " + *outcome.failure));
      });
  CommandOutcome outcome = co_await command;
  co_return outcome;
}

}  // namespace brisklet
