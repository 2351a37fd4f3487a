#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>

#include "analysis/AIDirector.h"
#include "app/AppState.h"
#include "app/LongCommand.h"
#include "media/platform/MediaError.h"
#include "media/platform/PcmReader.h"
#include "model/AppSettings.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "platform/Cancellation.h"
#include "platform/FileNames.h"
#include "platform/OutputFile.h"

namespace brisklet {
namespace {

// A failure as the status line tells it: the system's or FFmpeg's words where there are some.
std::string reasonOf(const std::exception& error) {
  if (const auto* file = dynamic_cast<const FileError*>(&error); file && !file->reason().empty())
    return file->reason() + ".";
  return error.what();
}

// What the pick found: the model's choice among the files that play, and how many did not.
struct MusicPick {
  std::optional<std::string> name;
  std::size_t skipped = 0;
};

// The tracks in `folder` by name: regular files whose extension is one of the sound kinds, in
// any letter case, sorted by name. A folder that cannot be listed has none.
std::vector<std::string> musicTracks(const std::filesystem::path& folder) {
  static const std::set<std::string> kinds = {".mp3", ".m4a", ".wav", ".aac", ".aif", ".aiff"};
  std::vector<std::string> tracks;
  try {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      std::error_code error;
      if (kinds.contains(lowercaseExtension(entry.path())) && entry.is_regular_file(error))
        tracks.push_back(entry.path().filename().string());
    }
  } catch (const std::filesystem::filesystem_error&) {
    return {};
  }
  std::sort(tracks.begin(), tracks.end());
  return tracks;
}

// "Music/" names the folder "Music", as "Music" does.
std::filesystem::path withoutTrailingSeparator(std::filesystem::path folder) {
  while (!folder.has_filename() && folder.has_relative_path()) folder = folder.parent_path();
  return folder;
}

// Whether the file at `file` decodes as sound. Each answer is kept by the file's size and time,
// so a folder is trial-decoded once, not on every pick.
bool playsAsSound(const std::filesystem::path& file) {
  struct Known {
    std::uintmax_t size = 0;
    std::filesystem::file_time_type time;
    bool plays = false;
  };
  static std::mutex mutex;
  static std::map<std::filesystem::path, Known> known;
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error) return false;
  const std::filesystem::file_time_type time = std::filesystem::last_write_time(file, error);
  if (error) return false;
  {
    const std::lock_guard lock(mutex);
    if (const auto found = known.find(file);
        found != known.end() && found->second.size == size && found->second.time == time)
      return found->second.plays;
  }
  bool plays = false;
  try {
    plays = openSoundFile(file).has_value();
  } catch (const MediaError&) {
    plays = false;
  }
  const std::lock_guard lock(mutex);
  known[file] = Known{size, time, plays};
  return plays;
}

}  // namespace

std::optional<std::filesystem::path> rememberedMusicFolder() {
  const std::optional<ByteString> bookmark = AppSettings::musicFolderBookmark();
  if (!bookmark) return std::nullopt;
  try {
    std::filesystem::path folder = resolveBookmark(*bookmark);
    std::error_code error;  // a link loop or an unreadable parent: asked again, as when gone
    if (std::filesystem::is_directory(folder, error)) return folder;
  } catch (const BookmarkError&) {
    // Gone or unreadable: the user is asked again.
  }
  return std::nullopt;
}

EditResult AppState::setMusic(const std::optional<std::filesystem::path>& file,
                              const Uuid& projectID) {
  const Project* current = project(projectID);
  if (current == nullptr) return {false, "The project is gone."};
  if (!file) {
    const EditResult result =
        makeEdit(projectID, SetMusic{std::nullopt, current->musicVolumePercent});
    // Clearing music that was never set stores nothing and is still what was asked for.
    return {result.stored || !result.failure, result.failure};
  }
  // The project keeps its own copy, so the bed survives the original being moved, under a name
  // of its content: a bed chosen again is the same file, and one an undo brings back is still
  // there. The copy is made whole before the record names it: a full disk keeps the old bed.
  std::string name;
  try {
    if (!openSoundFile(*file))
      throw MediaError("The file " + quotedFileName(*file) + " has no sound.");
    name = ProjectStore::musicBedName(*file);
    const std::filesystem::path destination = store_.projectDirectory(projectID) / name;
    std::error_code error;
    if (!std::filesystem::exists(destination, error)) {
      OutputFile copy(destination);
      copyInto(*file, copy);
      copy.commit();
    }
  } catch (const std::exception& failure) {
    const std::string sentence = "Could not add music: " + reasonOf(failure);
    setLastError(sentence);
    return {false, sentence};
  }
  const EditResult result = makeEdit(
      projectID, SetMusic{name, current->musicVolumePercent.value_or(kDefaultMusicVolumePercent)});
  const Project* stored = project(projectID);
  return {stored != nullptr && stored->musicFileName == name, result.failure};
}

CommandOutcome AppState::chooseMusicFolder() {
  const std::optional<std::filesystem::path> folder =
      chooseFolder_("Choose the folder that holds your royalty-free music tracks");
  if (!folder) return CommandOutcome::cancelled();
  try {
    std::error_code error;
    if (!std::filesystem::is_directory(*folder, error))
      throw BookmarkError(
          quotedFileName(*folder) +
          (error ? " cannot be reached: " + error.message() + "." : " is not a folder."));
    AppSettings::setMusicFolderBookmark(
        makeBookmark(withoutTrailingSeparator(std::filesystem::absolute(*folder))));
    return {};
  } catch (const std::exception& failure) {
    return tell(CommandOutcome::failed("Could not remember the music folder: " +
                                       std::string(failure.what())));
  }
}

QCoro::Task<CommandOutcome> AppState::autoPickMusic(const Uuid& projectIDArgument) {
  const Uuid projectID = projectIDArgument;  // see runLongCommand on coroutine arguments
  std::optional<std::filesystem::path> folder;
  // A folder chosen just now is read again, as a remembered one is; once is enough.
  for (bool asked = false; !folder; asked = true) {
    const Project* found = project(projectID);
    if (found == nullptr || !found->editPlan)
      co_return tell(CommandOutcome::failed("Analyze the video first so I know its mood."));
    if (!serviceKey(KeychainStore::Key::anthropic))
      co_return tell(CommandOutcome::failed("Add your Anthropic API key in Settings first."));
    folder = rememberedMusicFolder();
    if (folder) break;
    // A folder chosen just now that still cannot be read is not asked for again.
    if (asked) co_return CommandOutcome::cancelled();
    CommandOutcome chosen = chooseMusicFolder();
    if (!chosen.succeeded()) co_return chosen;
  }
  const std::vector<std::string> tracks = musicTracks(*folder);
  if (tracks.empty())
    co_return tell(CommandOutcome::failed(
        "No audio files found in " + withoutTrailingSeparator(*folder).filename().string() + ". " +
        "Drop some royalty-free tracks in there first."));

  auto command = runLongCommand(
      *this,
      LongCommandSteps{"Picking music for the mood…", "Music picking failed: ", -1.0, projectID},
      [plan = *project(projectID)->editPlan, tracks, folder = *folder,
       client =
           AnthropicClient(*serviceKey(KeychainStore::Key::anthropic), AppSettings::claudeModel())](
          const ProgressReporter&, std::stop_token stop) {
        // Only files that play are offered: the model could pick a damaged one.
        std::vector<std::string> playable;
        for (const std::string& track : tracks) {
          throwIfCancelled(stop);
          if (playsAsSound(folder / track)) playable.push_back(track);
        }
        MusicPick pick{.name = std::nullopt, .skipped = tracks.size() - playable.size()};
        if (!playable.empty()) pick.name = AIDirector::pickMusic(playable, plan, client, stop);
        return pick;
      },
      [projectID, folder = *folder, count = tracks.size()](AppState& state, const MusicPick& pick) {
        const std::string skipped =
            std::to_string(pick.skipped) + (pick.skipped == 1 ? " file" : " files") +
            " that did not play as sound";
        if (pick.skipped == count)
          return state.tell(CommandOutcome::failed(
              "None of the audio files in " + withoutTrailingSeparator(folder).filename().string() +
              " plays as sound. Drop some royalty-free tracks in there first."));
        if (!pick.name)
          return state.tell(CommandOutcome::failed(
              "None of the tracks felt right for this vlog. Pick one manually?"));
        const EditResult set = state.setMusic(folder / *pick.name, projectID);
        if (!set) return CommandOutcome::failed(set.failure.value_or("The music was not set."));
        CommandOutcome chosen = CommandOutcome::chose(*pick.name);
        if (pick.skipped > 0) chosen.said = "Skipped " + skipped + ".";
        return chosen;
      });
  co_return co_await command;
}

}  // namespace brisklet
