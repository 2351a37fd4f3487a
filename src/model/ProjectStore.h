#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "model/Project.h"

namespace brisklet {

// Knows the folder layout of projects, lists and decodes them, writes one record, deletes one
// project's folder. Layout below the root (all names exact):
//   <ID>/project.json    the record (ID: upper-case UUID text)
//   <ID>/narration/      narration audio
//   <ID>/thumbs/         thumbnail cache
//   <ID>/source.mov      merged source of a multi-clip import
//   <ID>/…               enhanced audio, music copy
// Main thread only; holds no locks.
class ProjectStore {
 public:
  // The store of the signed-in user: root applicationDataFolder()/Projects, made on first use.
  static ProjectStore& shared();

  explicit ProjectStore(std::filesystem::path root);

  const std::filesystem::path& root() const { return root_; }
  // root/ID. Pure; creates nothing.
  std::filesystem::path projectDirectory(const Uuid& id) const;
  // The project folder, then its "narration" and "thumbs" folders. Throws FileError.
  void ensureDirectories(const Uuid& id) const;

  // Every decodable project, newest createdAt first. Never fails: folders without a readable,
  // decodable record and plain files are skipped, and nothing is created. Records are decoded
  // on all cores; the call returns when all are done.
  std::vector<Project> loadAll() const;

  // Writes the record atomically and durably. A failure is logged as
  // "ProjectStore save failed: …" and otherwise ignored; the next save tries again.
  void save(const Project& project) const;

  // Removes the project's folder with everything in it; failures are ignored.
  void deleteProject(const Project& project) const;

  // The source video: the merged "source.mov" in the project folder when there is one,
  // otherwise the file the bookmark refers to. Throws BookmarkError naming the missing file.
  std::filesystem::path resolveVideoURL(const Project& project) const;
  // The enhanced source audio, when recorded and present.
  std::optional<std::filesystem::path> cleanAudioLocation(const Project& project) const;
  // The copied music track, when recorded and present.
  std::optional<std::filesystem::path> musicLocation(const Project& project) const;
  // A narration file of the project, when the clip names one and it is present.
  std::optional<std::filesystem::path> narrationAudioLocation(const Project& project,
                                                              const NarrationClip& clip) const;

 private:
  std::filesystem::path root_;
};

}  // namespace brisklet
