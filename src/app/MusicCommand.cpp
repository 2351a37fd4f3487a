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

bool AppState::setMusic(const std::optional<std::filesystem::path>& file, const Uuid& projectID) {
  const Project* current = project(projectID);
  if (current == nullptr) return false;
  if (!file)
    return !makeEdit(projectID, SetMusic{std::nullopt, current->musicVolumePercent}).failure;
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
    setLastError("Could not add music: " + reasonOf(failure));
    return false;
  }
  makeEdit(projectID,
           SetMusic{name, current->musicVolumePercent.value_or(kDefaultMusicVolumePercent)});
  const Project* stored = project(projectID);
  return stored != nullptr && stored->musicFileName == name;
}

bool AppState::chooseMusicFolder() {
  const std::optional<std::filesystem::path> folder =
      chooseFolder_("Choose the folder that holds your royalty-free music tracks");
  if (!folder) return false;
  try {
    std::error_code error;
    if (!std::filesystem::is_directory(*folder, error))
      throw BookmarkError(
          quotedFileName(*folder) +
          (error ? " cannot be reached: " + error.message() + "." : " is not a folder."));
    AppSettings::setMusicFolderBookmark(makeBookmark(std::filesystem::absolute(*folder)));
    return true;
  } catch (const std::exception& failure) {
    setLastError("Could not remember the music folder: " + std::string(failure.what()));
    return false;
  }
}

QCoro::Task<std::optional<std::string>> AppState::autoPickMusic(const Uuid& projectIDArgument) {
  const Uuid projectID = projectIDArgument;  // see runLongCommand on coroutine arguments
  std::optional<std::filesystem::path> folder;
  // A folder chosen just now is read again, as a remembered one is; once is enough.
  for (bool asked = false; !folder; asked = true) {
    const Project* found = project(projectID);
    if (found == nullptr || !found->editPlan) {
      setLastError("Analyze the video first so I know its mood.");
      co_return std::nullopt;
    }
    if (!serviceKey(KeychainStore::Key::anthropic)) {
      setLastError("Add your Anthropic API key in Settings first.");
      co_return std::nullopt;
    }
    folder = rememberedMusicFolder();
    if (!folder && (asked || !chooseMusicFolder())) co_return std::nullopt;
  }
  const std::vector<std::string> tracks = musicTracks(*folder);
  if (tracks.empty()) {
    setLastError("No audio files found in " + folder->filename().string() + ". " +
                 "Drop some royalty-free tracks in there first.");
    co_return std::nullopt;
  }

  auto picked = std::make_shared<std::optional<std::string>>();
  auto command = runLongCommand(
      *this,
      LongCommandSteps{"Picking music for the mood…", "Music picking failed: ", -1.0, projectID},
      [plan = *project(projectID)->editPlan, tracks,
       client =
           AnthropicClient(*serviceKey(KeychainStore::Key::anthropic), AppSettings::claudeModel())](
          const ProgressReporter&, std::stop_token stop) {
        return AIDirector::pickMusic(tracks, plan, client, stop);
      },
      [projectID, folder = *folder, picked](AppState& state,
                                            const std::optional<std::string>& name) {
        if (!name) {
          state.setLastError("None of the tracks felt right for this vlog. Pick one manually?");
          return;
        }
        if (state.setMusic(folder / *name, projectID)) *picked = name;
      });
  co_await command;
  co_return *picked;
}

}  // namespace brisklet
