#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

#include "model/Project.h"
#include "platform/FileLock.h"

namespace brisklet {

// A record that could not be written or removed; what() is the sentence the user sees.
class ProjectStoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The project's record is gone: another process (or window) deleted it meanwhile.
class ProjectDeletedError : public ProjectStoreError {
 public:
  ProjectDeletedError() : ProjectStoreError("The project was deleted.") {}
};

// Knows the folder layout of projects, lists and decodes them, writes and deletes them. Layout
// below the root (all names exact):
//   <ID>/project.json    the record (ID: upper-case UUID text)
//   <ID>/.lock           taken (flock) for every read-modify-write of the record
//   <ID>/narration/      narration audio
//   <ID>/thumbs/         thumbnail cache
//   <ID>/source.mov      merged source of a multi-clip import
//   <ID>/music-<hash>.*  music beds, named by their content
//   <ID>/…               enhanced audio
//   .new-<ID>/           a project being made, locked until it is renamed into place
// Any number of processes (the app, brisklet-cli) may use one root at once: every change is one
// read-modify-write under the project's lock, so none is lost and none is undone by a stale copy.
class ProjectStore {
 public:
  // The store of the signed-in user: root applicationDataFolder()/Projects, made on first use.
  static ProjectStore& shared();

  explicit ProjectStore(std::filesystem::path root);

  const std::filesystem::path& root() const { return root_; }
  // root/ID. Pure; creates nothing.
  std::filesystem::path projectDirectory(const Uuid& id) const;

  // A project folder whose record is there but cannot be read or decoded, and why.
  struct UnreadableProject {
    std::string folderName;  // the project's id, as the folder is named
    std::string reason;      // "Permission denied", "Missing key planRevision at …"
  };
  struct Listing {
    std::vector<Project> projects;
    std::vector<UnreadableProject> unreadable;
  };
  // Every decodable project, newest createdAt first, and the records that could not be read.
  // Never fails: folders without a record, folders not named after their record's id (a user's
  // copy), hidden folders and plain files are skipped, and nothing is created. Records are
  // decoded on all cores.
  Listing list() const;
  // list().projects.
  std::vector<Project> loadAll() const;

  // A new project's folder while its files are made (a merge writes the source there): hidden,
  // locked, and renamed into place only once its record is saved in it. Dropped uncommitted, it
  // is removed with everything in it; abandoned by a killed process, the next sweep removes it.
  class NewProject {
   public:
    NewProject(NewProject&& other) noexcept;
    ~NewProject();
    const Uuid& id() const { return id_; }
    const std::filesystem::path& folder() const { return folder_; }
    // Where folder() will be once committed.
    const std::filesystem::path& finalFolder() const { return finalFolder_; }
    // Saves `project` (which must carry id()) and moves the folder into place. Throws
    // ProjectStoreError; nothing of the project is left then.
    void commit(const Project& project);

   private:
    friend class ProjectStore;
    NewProject(const Uuid& id, std::filesystem::path folder, std::filesystem::path finalFolder,
               FileLock lock);
    Uuid id_;
    std::filesystem::path folder_;
    std::filesystem::path finalFolder_;
    FileLock lock_;
    bool committed_ = false;
  };
  // Throws ProjectStoreError when the folder cannot be made.
  NewProject beginProject(const Uuid& id) const;
  // A new project with no files of its own: beginProject and commit.
  void create(const Project& project) const;

  // One read-modify-write: under the project's lock, reads the record as stored now, lets
  // `change` edit it and, when `change` returns true, writes it back. Returns the project as
  // stored. Throws ProjectDeletedError when the record is gone (the folder is never made again)
  // and ProjectStoreError when it cannot be read or written; the record is unchanged then.
  Project modify(const Uuid& id, const std::function<bool(Project&)>& change) const;

  // Writes `project` as it is, over any record of its id, making its folder if needed. For
  // tests and tools that set up records; the app's edits go through modify. Throws
  // ProjectStoreError.
  void save(const Project& project) const;
  // Whether the project's record is gone (deleted by this or another process). A record that
  // cannot be looked at counts as there.
  bool isDeleted(const Uuid& id) const;

  // Deletes the project: under its lock the record goes first, so the project is gone for every
  // process at once, then the rest of the folder. Throws ProjectStoreError when the record
  // cannot be removed (nothing was deleted), or naming what was left when the rest cannot.
  void deleteProject(const Project& project) const;

  // Removes what killed processes left: new-project folders and record temporaries nobody holds
  // the lock of. Called at start; failures are ignored.
  void sweepAbandoned() const;
  // Removes the music beds in the folders of `projects` (as just listed) that their records no
  // longer name (an undo that could bring them back lives only as long as the application that
  // made it). Called when the application starts; failures are ignored.
  void sweepUnnamedMusic(const std::vector<Project>& projects) const;
  // The name a music bed copied from `file` takes in a project folder: "music-" and the start of
  // its content's SHA-256, with the file's extension. Throws FileError when it cannot be read.
  static std::string musicBedName(const std::filesystem::path& file);

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
