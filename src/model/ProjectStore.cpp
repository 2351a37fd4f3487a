#include "model/ProjectStore.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "model/ModelJson.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "platform/FileNames.h"
#include "platform/Log.h"
#include "platform/Paths.h"

namespace brisklet {
namespace {

constexpr const char* kRecordFileName = "project.json";

// A file inside `folder` named by a record field, when the name is plain and the file exists.
std::optional<std::filesystem::path> existingFileIn(const std::filesystem::path& folder,
                                                    const std::optional<std::string>& name) {
  if (!name || !isPlainFileName(*name)) return std::nullopt;
  std::filesystem::path location = folder / *name;
  std::error_code error;
  if (!std::filesystem::is_regular_file(location, error)) return std::nullopt;
  return location;
}

std::optional<Project> loadRecord(const std::filesystem::path& folder) {
  std::optional<Project> project;
  try {
    project = decodeProjectRecord(readFile(folder / kRecordFileName));
  } catch (const std::exception&) {
    return std::nullopt;  // unreadable or undecodable records are skipped; the folder stays
  }
  // A copy of a project folder (a user's backup) holds another project's record. Loading it
  // would list that project twice, and its next save would go to the real folder.
  if (folder.filename() != project->id.text()) {
    logLine("ProjectStore skipped \u201C" + folder.filename().string() +
            "\u201D: it holds the record of project " + project->id.text() + ".");
    return std::nullopt;
  }
  return project;
}

}  // namespace

ProjectStore& ProjectStore::shared() {
  static ProjectStore store(applicationDataFolder() / "Projects");
  return store;
}

ProjectStore::ProjectStore(std::filesystem::path root) : root_(std::move(root)) {}

std::filesystem::path ProjectStore::projectDirectory(const Uuid& id) const {
  return root_ / id.text();
}

void ProjectStore::ensureDirectories(const Uuid& id) const {
  const std::filesystem::path folder = projectDirectory(id);
  for (const std::filesystem::path& needed : {folder, folder / "narration", folder / "thumbs"}) {
    std::error_code error;
    std::filesystem::create_directories(needed, error);
    if (error)
      throw FileError("Could not create the folder \u201C" + needed.string() +
                      "\u201D: " + error.message() + ".");
  }
}

std::vector<Project> ProjectStore::loadAll() const {
  std::vector<std::filesystem::path> folders;
  std::error_code error;
  std::filesystem::directory_iterator entries(root_, error);
  if (error) return {};
  for (const std::filesystem::directory_entry& entry : entries) {
    std::error_code kindError;
    if (entry.is_directory(kindError)) folders.push_back(entry.path());
  }

  // Decoding dominates start-up with many large plans, and records are independent: decode them
  // on every core, each result in its folder's slot so the listing order is kept.
  std::vector<std::optional<Project>> decoded(folders.size());
  std::atomic<size_t> next = 0;
  const auto decodeRemaining = [&] {
    for (size_t index = next++; index < folders.size(); index = next++)
      decoded[index] = loadRecord(folders[index]);
  };
  const size_t helpers =
      std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()) - 1, folders.size() / 8);
  std::vector<std::jthread> workers;
  for (size_t helper = 0; helper < helpers; ++helper) workers.emplace_back(decodeRemaining);
  decodeRemaining();
  workers.clear();  // joins

  std::vector<Project> projects;
  projects.reserve(folders.size());
  for (std::optional<Project>& project : decoded)
    if (project) projects.push_back(std::move(*project));
  std::stable_sort(projects.begin(), projects.end(),
                   [](const Project& a, const Project& b) { return a.createdAt > b.createdAt; });
  return projects;
}

void ProjectStore::save(const Project& project) const {
  try {
    const std::string record = encodeProjectRecord(project);
    ensureDirectories(project.id);
    writeFileAtomically(projectDirectory(project.id) / kRecordFileName, record);
  } catch (const std::exception& error) {
    logLine(std::string("ProjectStore save failed: ") + error.what());
  }
}

void ProjectStore::deleteProject(const Project& project) const {
  std::error_code ignored;
  std::filesystem::remove_all(projectDirectory(project.id), ignored);
}

std::filesystem::path ProjectStore::resolveVideoURL(const Project& project) const {
  const std::filesystem::path merged = projectDirectory(project.id) / "source.mov";
  std::error_code error;
  if (std::filesystem::is_regular_file(merged, error)) return merged;
  return resolveBookmark(project.videoBookmark);
}

std::optional<std::filesystem::path> ProjectStore::cleanAudioLocation(
    const Project& project) const {
  return existingFileIn(projectDirectory(project.id), project.denoisedAudioFileName);
}

std::optional<std::filesystem::path> ProjectStore::musicLocation(const Project& project) const {
  return existingFileIn(projectDirectory(project.id), project.musicFileName);
}

std::optional<std::filesystem::path> ProjectStore::narrationAudioLocation(
    const Project& project, const NarrationClip& clip) const {
  return existingFileIn(projectDirectory(project.id) / "narration", clip.audioFileName);
}

}  // namespace brisklet
