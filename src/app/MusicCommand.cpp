#include <algorithm>
#include <memory>
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
    AppSettings::setMusicFolderBookmark(makeBookmark(std::filesystem::absolute(*folder)));
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
    co_return tell(CommandOutcome::failed("No audio files found in " + folder->filename().string() +
                                          ". " + "Drop some royalty-free tracks in there first."));

  auto command = runLongCommand(
      *this,
      LongCommandSteps{"Picking music for the mood…", "Music picking failed: ", -1.0, projectID},
      [plan = *project(projectID)->editPlan, tracks,
       client =
           AnthropicClient(*serviceKey(KeychainStore::Key::anthropic), AppSettings::claudeModel())](
          const ProgressReporter&, std::stop_token stop) {
        return AIDirector::pickMusic(tracks, plan, client, stop);
      },
      [projectID, folder = *folder](AppState& state, const std::optional<std::string>& name) {
        if (!name)
          return state.tell(CommandOutcome::failed(
              "None of the tracks felt right for this vlog. Pick one manually?"));
        const EditResult set = state.setMusic(folder / *name, projectID);
        if (!set) return CommandOutcome::failed(set.failure.value_or("The music was not set."));
        return CommandOutcome::chose(*name);
      });
  co_return co_await command;
}

}  // namespace brisklet
