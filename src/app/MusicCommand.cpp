#include <system_error>

#include "app/AppState.h"

namespace brisklet {

void AppState::setMusic(const std::optional<std::filesystem::path>& file, const Uuid& projectID) {
  if (project(projectID) == nullptr) return;
  if (!file) {
    editProject(projectID, [](Project& project) {
      project.musicFileName.reset();
      countRevision(project);
      return true;
    });
    return;
  }
  // The project keeps its own copy, so the bed survives the original being moved.
  const std::string extension = file->extension().string();
  const std::filesystem::path destination =
      store_.projectDirectory(projectID) /
      ("music." + (extension.empty() ? std::string() : extension.substr(1)));
  std::error_code error;
  std::filesystem::create_directories(destination.parent_path(), error);
  std::filesystem::remove(destination, error);
  std::filesystem::copy_file(*file, destination, error);
  if (error) {
    setLastError("Could not add music: " + error.message());
    return;
  }
  editProject(projectID, [&](Project& project) {
    project.musicFileName = destination.filename().string();
    if (!project.musicVolumePercent) project.musicVolumePercent = 25;
    countRevision(project);
    return true;
  });
}

}  // namespace brisklet
