#include <system_error>

#include "app/AppState.h"
#include "media/platform/MediaError.h"
#include "media/platform/PcmReader.h"
#include "platform/AtomicFile.h"
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

}  // namespace

void AppState::setMusic(const std::optional<std::filesystem::path>& file, const Uuid& projectID) {
  const Project* current = project(projectID);
  if (current == nullptr) return;
  if (!file) {
    editProject(projectID, [](Project& project) {
      project.musicFileName.reset();
      countRevision(project);
      return true;
    });
    return;
  }
  // The project's own copy chosen again: nothing changes (copying it onto itself would end it).
  std::error_code error;
  if (const auto own = store_.musicLocation(*current);
      own && std::filesystem::equivalent(*own, *file, error))
    return;

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
    return;
  }
  const std::optional<std::string> previous = current->musicFileName;
  editProject(projectID, [&](Project& project) {
    project.musicFileName = destination.filename().string();
    if (!project.musicVolumePercent) project.musicVolumePercent = kDefaultMusicVolumePercent;
    countRevision(project);
    return true;
  });
  // A bed of another kind ("music.mp3" after "music.wav") goes once the record names the new one.
  const Project* stored = project(projectID);
  if (previous && stored && stored->musicFileName != previous && isPlainFileName(*previous))
    std::filesystem::remove(store_.projectDirectory(projectID) / *previous, error);
}

}  // namespace brisklet
