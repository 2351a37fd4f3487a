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
  if (!file) {
    editByUser(projectID, {}, [](Project& project) {
      project.musicFileName.reset();
      countRevision(project);
      return true;
    });
    return true;
  }
  // The project's own copy chosen again: nothing changes (copying it onto itself would end it).
  std::error_code error;
  if (const auto own = store_.musicLocation(*current);
      own && std::filesystem::equivalent(*own, *file, error))
    return true;

  // The project keeps its own copy, so the bed survives the original being moved. The copy is
  // made beside the old bed and replaces it only once whole: a full disk keeps the old one.
  const std::string extension = file->extension().string();
  const std::filesystem::path destination =
      store_.projectDirectory(projectID) /
      ("music." + (extension.empty() ? std::string() : extension.substr(1)));
  try {
    if (!openSoundFile(*file))
      throw MediaError("The file " + quotedFileName(*file) + " has no sound.");
    OutputFile copy(destination);
    copyInto(*file, copy);
    copy.commit();
  } catch (const std::exception& failure) {
    setLastError("Could not add music: " + reasonOf(failure));
    return false;
  }
  const std::optional<std::string> previous = current->musicFileName;
  editByUser(projectID, {}, [&](Project& project) {
    project.musicFileName = destination.filename().string();
    if (!project.musicVolumePercent) project.musicVolumePercent = kDefaultMusicVolumePercent;
    countRevision(project);
    return true;
  });
  // A bed of another kind ("music.mp3" after "music.wav") goes once the record names the new one.
  const Project* stored = project(projectID);
  if (stored == nullptr || stored->musicFileName != destination.filename().string()) return false;
  if (previous && stored->musicFileName != previous && isPlainFileName(*previous))
    std::filesystem::remove(store_.projectDirectory(projectID) / *previous, error);
  return true;
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
