#include "model/ProjectStore.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "model/ModelJson.h"
#include "model/RecordLimits.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "platform/FileNames.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"

namespace brisklet {
namespace {

constexpr const char* kRecordFileName = "project.json";
constexpr const char* kLockFileName = ".lock";
constexpr const char* kNewProjectPrefix = ".new-";
// A temporary this old in a cache folder belongs to nobody: writing a thumbnail takes
// milliseconds.
constexpr std::chrono::hours kStaleCacheTemporary{1};
// A new project's folder is locked within microseconds of being made; one without a lock after
// this long was abandoned.
constexpr std::chrono::minutes kUnlockedNewProject{1};

// A file inside `folder` named by a record field, when the name is plain and the file exists.
std::optional<std::filesystem::path> existingFileIn(const std::filesystem::path& folder,
                                                    const std::optional<std::string>& name) {
  if (!name || !isPlainFileName(*name)) return std::nullopt;
  std::filesystem::path location = folder / *name;
  std::error_code error;
  if (!std::filesystem::is_regular_file(location, error)) return std::nullopt;
  return location;
}

// The record stored in `folder`, decoded and brought within the program's limits (see
// repairLoadedRecord; what was repaired is logged, naming the project, and stored with the next
// change). Throws what reading or decoding throws.
Project readRecord(const std::filesystem::path& folder) {
  Project project = decodeProjectRecord(readFile(folder / kRecordFileName));
  if (const std::string repaired = repairLoadedRecord(project); !repaired.empty())
    logLine("ProjectStore repaired the record of \u201C" + project.name + "\u201D (" +
            project.id.text() + "): " + repaired + ".");
  return project;
}

// The record in `folder`, or none when it is not a project's own (see below). Throws what
// reading or decoding throws.
std::optional<Project> loadRecord(const std::filesystem::path& folder) {
  std::optional<Project> project = readRecord(folder);
  // A copy of a project folder (a user's backup) holds another project's record. Loading it
  // would list that project twice, and its next save would go to the real folder.
  if (folder.filename() != project->id.text()) {
    logLine("ProjectStore skipped \u201C" + folder.filename().string() +
            "\u201D: it holds the record of project " + project->id.text() + ".");
    return std::nullopt;
  }
  return project;
}

// What went wrong, in the system's words where there are some.
std::string reasonOf(const std::exception& error) {
  const auto* file = dynamic_cast<const FileError*>(&error);
  std::string reason = file != nullptr && !file->reason().empty() ? file->reason() : error.what();
  if (reason.ends_with('.')) reason.pop_back();
  return reason;
}

ProjectStoreError couldNot(const std::string& action, const std::string& name,
                           const std::string& reason) {
  return ProjectStoreError("Could not " + action + " \u201C" + name + "\u201D: " + reason + ".");
}

void makeFolders(const std::filesystem::path& folder) {
  for (const std::filesystem::path& needed : {folder, folder / "narration", folder / "thumbs"})
    createFolders(needed);
}

void writeRecord(const std::filesystem::path& folder, const Project& project) {
  try {
    writeFileAtomically(folder / kRecordFileName, encodeProjectRecord(project));
  } catch (const std::exception& error) {
    throw couldNot("save", project.name, reasonOf(error));
  }
}

bool olderThan(const std::filesystem::path& file, std::filesystem::file_time_type::duration age) {
  std::error_code error;
  const auto written = std::filesystem::last_write_time(file, error);
  return !error && std::filesystem::file_time_type::clock::now() - written > age;
}

// Removes the hidden files of `folder` whose names start with `prefix` and that `abandoned`
// says nobody is writing.
void removeTemporaries(const std::filesystem::path& folder, const std::string& prefix,
                       const std::function<bool(const std::filesystem::path&)>& abandoned) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(prefix) && name != kLockFileName && abandoned(entry.path()))
      std::filesystem::remove(entry.path(), error);
  }
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

ProjectStore::Listing ProjectStore::list() const {
  std::vector<std::filesystem::path> folders;
  std::error_code error;
  std::filesystem::directory_iterator entries(root_, error);
  if (error) return {};
  for (const std::filesystem::directory_entry& entry : entries) {
    std::error_code kindError;
    if (entry.is_directory(kindError) && !entry.path().filename().string().starts_with("."))
      folders.push_back(entry.path());
  }

  // Decoding dominates start-up with many large plans, and records are independent: decode them
  // on every core, each result in its folder's slot so the listing order is kept.
  std::vector<std::optional<Project>> decoded(folders.size());
  std::vector<std::optional<std::string>> failures(folders.size());
  std::atomic<size_t> next = 0;
  const auto decodeRemaining = [&] {
    for (size_t index = next++; index < folders.size(); index = next++) {
      try {
        decoded[index] = loadRecord(folders[index]);
      } catch (const std::exception& failure) {
        // The folder stays as it is; a folder without a record (a delete under way, a stray
        // folder) is nobody's project.
        std::error_code ignored;
        if (std::filesystem::exists(folders[index] / kRecordFileName, ignored))
          failures[index] = reasonOf(failure);
      }
    }
  };
  const size_t helpers =
      std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()) - 1, folders.size() / 8);
  std::vector<std::jthread> workers;
  for (size_t helper = 0; helper < helpers; ++helper) workers.emplace_back(decodeRemaining);
  decodeRemaining();
  workers.clear();  // joins

  Listing listing;
  listing.projects.reserve(folders.size());
  for (size_t index = 0; index < folders.size(); ++index) {
    if (decoded[index]) listing.projects.push_back(std::move(*decoded[index]));
    if (failures[index])
      listing.unreadable.push_back({folders[index].filename().string(), *failures[index]});
  }
  std::stable_sort(listing.projects.begin(), listing.projects.end(),
                   [](const Project& a, const Project& b) { return a.createdAt > b.createdAt; });
  return listing;
}

std::vector<Project> ProjectStore::loadAll() const { return list().projects; }

ProjectStore::NewProject::NewProject(const Uuid& id, std::filesystem::path folder,
                                     std::filesystem::path finalFolder, FileLock lock)
    : id_(id),
      folder_(std::move(folder)),
      finalFolder_(std::move(finalFolder)),
      lock_(std::move(lock)) {}

ProjectStore::NewProject::NewProject(NewProject&& other) noexcept
    : id_(other.id_),
      folder_(std::move(other.folder_)),
      finalFolder_(std::move(other.finalFolder_)),
      lock_(std::move(other.lock_)),
      committed_(std::exchange(other.committed_, true)) {}

ProjectStore::NewProject::~NewProject() {
  if (committed_) return;
  std::error_code ignored;  // what stays is swept at the next start
  std::filesystem::remove_all(folder_, ignored);
}

void ProjectStore::NewProject::commit(const Project& project) {
  if (project.id != id_) throw std::logic_error("NewProject::commit with another project's id");
  writeRecord(folder_, project);
  if (::rename(folder_.c_str(), finalFolder_.c_str()) != 0)
    throw couldNot("save", project.name, std::strerror(errno));
  committed_ = true;
  syncFolder(finalFolder_.parent_path());
}

ProjectStore::NewProject ProjectStore::beginProject(const Uuid& id) const {
  const std::filesystem::path folder = root_ / (kNewProjectPrefix + id.text());
  try {
    makeFolders(folder);
    FileLock lock = FileLock::acquire(folder / kLockFileName);
    return NewProject(id, folder, projectDirectory(id), std::move(lock));
  } catch (const FileError& error) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    throw ProjectStoreError("Could not make the project's folder: " + reasonOf(error) + ".");
  }
}

void ProjectStore::create(const Project& project) const {
  NewProject made = beginProject(project.id);
  made.commit(project);
}

Project ProjectStore::modify(const Uuid& id, const std::function<bool(Project&)>& change) const {
  const std::filesystem::path folder = projectDirectory(id);
  const auto recordIsGone = [&] { return isDeleted(id); };
  std::optional<FileLock> lock;
  try {
    // Never created when the folder is gone: a deleted project does not come back.
    lock.emplace(FileLock::acquire(folder / kLockFileName));
  } catch (const FileError& error) {
    if (recordIsGone()) throw ProjectDeletedError();
    std::string name = id.text();
    try {
      name = readRecord(folder).name;
    } catch (const std::exception&) {
      // Named by its id, then.
    }
    throw couldNot("save", name, reasonOf(error));
  }
  if (recordIsGone()) throw ProjectDeletedError();
  Project project;
  try {
    project = readRecord(folder);
  } catch (const std::exception& error) {
    throw couldNot("read the record of", id.text(), reasonOf(error));
  }
  if (!change(project)) return project;
  project.id = id;
  writeRecord(folder, project);
  return project;
}

void ProjectStore::save(const Project& project) const {
  const std::filesystem::path folder = projectDirectory(project.id);
  try {
    makeFolders(folder);
    const FileLock lock = FileLock::acquire(folder / kLockFileName);
    writeRecord(folder, project);
  } catch (const FileError& error) {
    throw couldNot("save", project.name, reasonOf(error));
  }
}

bool ProjectStore::isDeleted(const Uuid& id) const {
  std::error_code error;
  return !std::filesystem::exists(projectDirectory(id) / kRecordFileName, error) && !error;
}

void ProjectStore::deleteProject(const Project& project) const {
  const std::filesystem::path folder = projectDirectory(project.id);
  std::error_code error;
  if (!std::filesystem::exists(folder, error)) return;
  std::optional<FileLock> lock;
  try {
    lock.emplace(FileLock::acquire(folder / kLockFileName));
  } catch (const FileError& failure) {
    if (!std::filesystem::exists(folder, error)) return;  // deleted meanwhile
    throw couldNot("delete", project.name, reasonOf(failure));
  }
  if (::unlink((folder / kRecordFileName).c_str()) != 0 && errno != ENOENT)
    throw couldNot("delete", project.name, std::strerror(errno));
  syncFolder(folder);
  std::filesystem::remove_all(folder, error);
  if (error)
    throw ProjectStoreError("\u201C" + project.name + "\u201D is deleted, but its folder \u201C" +
                            folder.string() + "\u201D could not be removed: " + error.message() +
                            ".");
}

void ProjectStore::sweepAbandoned() const {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(root_, error)) {
    if (!entry.is_directory(error)) continue;
    const std::filesystem::path& folder = entry.path();
    if (folder.filename().string().starts_with(kNewProjectPrefix)) {
      // A lock nobody holds, or none yet after a minute, means its maker is gone.
      const bool locked = std::filesystem::exists(folder / kLockFileName, error);
      if ((locked && FileLock::tryAcquire(folder / kLockFileName)) ||
          (!locked && olderThan(folder, kUnlockedNewProject)))
        std::filesystem::remove_all(folder, error);
      continue;
    }
    const std::optional<FileLock> idle = FileLock::tryAcquire(folder / kLockFileName);
    if (idle)
      removeTemporaries(folder, "." + std::string(kRecordFileName) + ".",
                        [](const std::filesystem::path&) { return true; });
    removeTemporaries(folder / "thumbs", ".", [](const std::filesystem::path& file) {
      return olderThan(file, kStaleCacheTemporary);
    });
  }
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

void ProjectStore::sweepUnnamedMusic(const std::vector<Project>& projects) const {
  for (const Project& project : projects) {
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(projectDirectory(project.id), error)) {
      const std::string name = entry.path().filename().string();
      const bool isBed = name.starts_with("music-") || name.starts_with("music.");
      if (isBed && name != project.musicFileName && entry.is_regular_file(error))
        std::filesystem::remove(entry.path(), error);
    }
  }
}

std::string ProjectStore::musicBedName(const std::filesystem::path& file) {
  return "music-" + hexPrefix(sha256OfFile(file), 8) + file.extension().string();
}

std::optional<std::filesystem::path> ProjectStore::musicLocation(const Project& project) const {
  return existingFileIn(projectDirectory(project.id), project.musicFileName);
}

std::optional<std::filesystem::path> ProjectStore::narrationAudioLocation(
    const Project& project, const NarrationClip& clip) const {
  return existingFileIn(projectDirectory(project.id) / "narration", clip.audioFileName);
}

}  // namespace brisklet
