#pragma once

#include <qcoro/qcorotask.h>

#include <QObject>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/CommandOutcome.h"
#include "app/EditHistory.h"
#include "app/FileReveal.h"
#include "app/KeyRing.h"
#include "app/RunningCommands.h"
#include "media/Tightening.h"
#include "model/KeychainStore.h"
#include "model/PipelineProgress.h"
#include "model/Project.h"
#include "model/ProjectStore.h"

namespace brisklet {

// The one application model: the projects, the selection, the progress of the running command
// and the status line. Every change to a project is one read-modify-write of its stored record
// (ProjectStore::modify), so edits made meanwhile by a command, another window or brisklet-cli
// survive, and the list here changes only once the record on disk has. A change that cannot be
// saved is told on the status line. Lives on the main thread; worker threads reach it only
// through queued calls (see LongCommand.h).
// The music folder the user chose, when there is one and it is still there.
std::optional<std::filesystem::path> rememberedMusicFolder();

// How an edit went: stored, or nothing to change, or why it failed (told on the status line too).
struct EditResult {
  bool stored = false;
  std::optional<std::string> failure;
  explicit operator bool() const { return stored; }
};

class AppState : public QObject {
  Q_OBJECT

 public:
  // Loads every stored project, newest first, and selects the newest.
  explicit AppState(ProjectStore& store = ProjectStore::shared(), QObject* parent = nullptr);
  ~AppState() override;

  const std::vector<Project>& projects() const { return projects_; }
  // The project folders whose records could not be read when the state was made (listed so the
  // user knows they are there; nothing touches them).
  const std::vector<ProjectStore::UnreadableProject>& unreadableProjects() const {
    return unreadableProjects_;
  }
  const std::optional<Uuid>& selectedProjectID() const { return selectedProjectID_; }
  const std::optional<Uuid>& selectedSegmentID() const { return selectedSegmentID_; }
  const std::optional<PipelineProgress>& pipelineProgress() const { return pipelineProgress_; }
  const std::optional<std::string>& lastError() const { return lastError_; }
  ProjectStore& store() const { return store_; }

  // The project with `id`, or null. The pointer is valid until the list next changes.
  const Project* project(const Uuid& id) const;
  // The selected project, or null when nothing (or nothing that exists) is selected.
  const Project* selectedProject() const;

  void setSelectedProjectID(const std::optional<Uuid>& id);
  void setSelectedSegmentID(const std::optional<Uuid>& id);
  void setLastError(const std::optional<std::string>& message);
  // `outcome`, with what it says put on the status line.
  CommandOutcome tell(CommandOutcome outcome);

  // Stores a new project (committing `made`, the folder its own files were made in, when given),
  // puts it at the front of the list and selects it. Throws ProjectStoreError; nothing is added
  // then.
  void insertProject(const Project& project, ProjectStore::NewProject* made = nullptr);
  // Applies `change` to the project as it is stored now and stores the result, so that edits
  // made while a command was running, here or in another process, survive the command's own
  // results. False when the project is not in the list. Throws ProjectStoreError (a project
  // deleted meanwhile leaves the list first); the project is unchanged then.
  bool modifyProject(const Uuid& projectID, const std::function<void(Project&)>& change);

  // The user's own edits, each one step of undo (`gesture` folds the keystrokes of one line,
  // until a pause, into one step). The edit is applied by the rules of applyEdit to the record
  // as it is stored now, under its lock, so whatever a command or another process stored
  // meanwhile stays. A refused edit, or one that cannot be stored, is told on the status line,
  // and the views show the record as stored.
  EditResult makeEdit(const Uuid& projectID, const Edit& edit, const EditGesture& gesture = {});
  // A drag's edit while it moves: shown in the list (and so in the preview), neither stored nor
  // a step; makeEdit with the drag's last edit stores it at release. Any stored change of the
  // project ends the showing.
  void showEdit(const Uuid& projectID, const Edit& edit);
  void setAspectRatio(AspectRatio aspectRatio, const Uuid& projectID);
  void setTransition(TransitionStyle style, const Uuid& projectID);
  // Clamped to 5…60 percent.
  void setMusicVolume(double percent, const Uuid& projectID, const EditGesture& gesture = {});
  // Copies `file` into the project folder as a music bed named by its content
  // ("music-<hash>.<extension>", at 25 % unless a volume was set), so that undo and redo find
  // every bed again; none removes the bed from the project. A failed copy shows "Could not add
  // music: …" and keeps the bed there was. Stored when the project now has the bed asked for.
  EditResult setMusic(const std::optional<std::filesystem::path>& file, const Uuid& projectID);

  // How the user is asked for a folder (the window's folder dialog, the command line's
  // --folder): given the prompt, the chosen folder or none when the user cancels.
  using FolderChooser =
      std::function<std::optional<std::filesystem::path>(const std::string& prompt)>;
  void setFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }
  // Asks for the user's music folder and remembers it for every project. Cancelled when the user
  // cancels; failed when the folder cannot be remembered (which the status line tells too).
  CommandOutcome chooseMusicFolder();
  // The model picks a track for the project's mood, by file name, from the remembered music
  // folder (asked for first when none is remembered or it is gone; cancelling ends quietly), and
  // it becomes the project's music. Progress shows "Picking music for the mood…"; every failure
  // is told on the status line. Done with the chosen track's name as the folder lists it.
  QCoro::Task<CommandOutcome> autoPickMusic(const Uuid& projectID);

  // The audio settings: crystal clear (voice isolation and speech equaliser) and a volume boost
  // of 100 to 200 %. Sound is rendered once per combination into the project folder (progress
  // "Enhancing audio…"), and from then on preview and export play it instead of the source's.
  // Crystal clear off at 100 % is the source's own sound. When settings are applied again before
  // a render ends, only the last ones are kept. Failures show "Audio enhancement failed: …" and
  // keep the settings there were.
  QCoro::Task<CommandOutcome> applyAudioSettings(const Uuid& projectID, bool crystalClear,
                                                 double gainPercent);
  // Goes back one step of the user's edits of the project, or forward again: the step's inverse
  // (or the edit itself) is applied to the record as stored now, like any edit, so command
  // results and other processes' changes stay, and the plan's revision goes on growing. A step
  // that no longer applies (its segment went with a new analysis) is dropped, with a status
  // line. The history lives in memory and ends when the project is analysed again. False when
  // there is no step to take.
  bool undo(const Uuid& projectID);
  bool redo(const Uuid& projectID);
  bool canUndo(const Uuid& projectID) const;
  bool canRedo(const Uuid& projectID) const;
  // The steady clock that tells a pause in typing; tests replace it.
  void setEditClock(std::function<double()> clock) { editClock_ = std::move(clock); }

  // Removes the project and its folder; a removed selection moves to the first project left. A
  // delete that fails, or leaves part of the folder, says so on the status line and fails.
  CommandOutcome deleteProject(const Project& project);

  // Every long command counts itself while it runs, from its first stage to its end, with a
  // stop of its own: it stops at the next check once it is cancelled, or, for a command on a
  // project, once that project is deleted. The progress shown is the oldest running command's,
  // with the others counted; it goes away when the last command ends.
  CommandID beginCommand(const PipelineProgress& first,
                         const std::optional<Uuid>& projectID = std::nullopt);
  std::stop_token commandStopToken(CommandID id) const { return commands_.stopToken(id); }
  void reportProgress(CommandID id, const PipelineProgress& progress);
  void commandEnded(CommandID id);
  // Stops the command the progress names ("Cancel"); the others go on.
  void cancelShownCommand();

  // Exports and Shorts hold their destination while they write it, so a second one to the same
  // file is refused rather than writing beside the first. False when it is held already.
  bool claimOutput(const std::filesystem::path& destination, const Uuid& projectID);
  void releaseOutput(const std::filesystem::path& destination);
  // Whether an export or Short of the project is being written.
  bool isExporting(const Uuid& projectID) const;

  // Gives the project a new name (white space around it trimmed); an empty name is ignored.
  void renameProject(const Uuid& projectID, const std::string& name);

  // The service keys as the window reads and stores them, off the main thread.
  KeyRing& keyRing() { return keyRing_; }
  // Where commands read the service keys: the key ring, unless something is put in front (the
  // command-line tool's keys for one run).
  using KeySource = std::function<std::optional<std::string>(KeychainStore::Key)>;
  void setKeySource(KeySource source) { keySource_ = std::move(source); }
  // The key, or none when it is missing or empty.
  std::optional<std::string> serviceKey(KeychainStore::Key key) const;

  // The analyse command: the project's source through the analysis pipeline, with the Anthropic
  // key when there is one; the plan replaces the project's plan at the next revision and its
  // first segment is selected. Outcomes go to the progress, the status line and the project.
  QCoro::Task<CommandOutcome> startAnalysis(const Uuid& projectID);

  // Imports one video where it lies (a bookmark, not a copy): a new project named after the
  // file, stored and selected at the front of the list. Its analysis starts by itself (without
  // being awaited) unless a command is running or `analyzeAfterwards` is false. Failures go to
  // the status line as "Could not import video: …".
  QCoro::Task<CommandOutcome> importVideo(const std::filesystem::path& file,
                                          bool analyzeAfterwards = true);
  // Imports several clips of one day as one project: merged in shooting order into the new
  // project's "source.mov" (one file goes to importVideo), named after the oldest clip
  // ("IMG_0412 + 3 more"), then analysed unless `analyzeAfterwards` is false. Progress shows
  // "Merging N clips…"; failures go to the status line as "Could not merge clips: …" and leave
  // neither a project nor its folder.
  QCoro::Task<CommandOutcome> importVideos(const std::vector<std::filesystem::path>& files,
                                           bool analyzeAfterwards = true);
  // "Tighten": in every kept segment, each silence between two stretches of speech longer than
  // the shortest pause and both margins is removed down to its margins, replacing the pauses a
  // tightening removed before; one step of undo. Speech is found in the sound the edit plays
  // (see projectSpeech), with progress "Finding speech…". Done saying "Tighten removed 23 pauses
  // (1:12)"; a dry run changes nothing and says "Tighten would remove …", with a detail line a
  // pause. Failures go to the status line as "Tighten failed: …".
  QCoro::Task<CommandOutcome> tighten(const Uuid& projectID, const Tightening::Settings& settings,
                                      bool dryRun = false);
  // The export command: the project's plan, as the preview plays it, written to `destination`
  // (an MPEG-4 movie), which is then shown in the file browser. Progress shows "Exporting…";
  // failures go to the status line as "Export failed: …". A destination the export must not
  // write (see destinationRefusal) is refused before anything starts, as "Export refused: …".
  // A project without a plan is left alone. The project itself does not change.
  QCoro::Task<CommandOutcome> exportProject(const Uuid& projectID,
                                            const std::filesystem::path& destination);
  // The narration command: every kept segment whose line has no audio of its text yet gets it,
  // spoken in the chosen voice into the project's "narration" folder, one line after another.
  // Files made before for the same text are used again. Progress shows "Generating narration…
  // (i/n)"; a failure keeps the lines done before it and says "Generated k of n clips, then
  // hit: …". Missing key or voice, or nothing to do, are told before anything starts.
  QCoro::Task<CommandOutcome> generateNarrationAudio(const Uuid& projectID);
  // How many narration clips the project's kept lines need made: lines without audio of their
  // text, and ready lines whose clip is missing or does not play (those go back to waiting for
  // audio, so generateNarrationAudio makes them again, and the status line says so).
  std::size_t narrationClipsToMake(const Uuid& projectID);
  // The narration lines as SubRip captions at the output times the export places them, written
  // to `destination` (.srt), which is then shown in the file browser. Destinations are refused as
  // for an export ("Captions refused: …"); failures show "Captions failed: …". A project without a
  // plan is left alone.
  QCoro::Task<CommandOutcome> exportCaptions(const Uuid& projectID,
                                             const std::filesystem::path& destination);
  // A vertical highlight clip of about `targetSec` seconds: the model picks the moments from the
  // plan's scenes, which are written in 9:16 with the project's transition, clean sound and music
  // (no narration) to `destination` (".mp4" is added to a name without an extension), and the
  // file is shown in the file browser. Progress shows "Directing your Short…", then "Exporting
  // your Short…"; failures and refused destinations show "Short creation failed: …". The project
  // does not change.
  QCoro::Task<CommandOutcome> makeShort(const Uuid& projectID,
                                        const std::filesystem::path& destination,
                                        double targetSec = 30);
  // How a written file is shown to the user; the desktop's file browser unless replaced.
  void setFileRevealer(std::function<void(const std::filesystem::path&)> reveal) {
    revealFile_ = std::move(reveal);
  }
  // Stops every running command (quitting, a signal).
  void cancelRunningCommands();

 signals:
  void projectsChanged();
  void selectedProjectIDChanged();
  void selectedSegmentIDChanged();
  void pipelineProgressChanged();
  void lastErrorChanged();
  // What can be undone or redone changed.
  void historyChanged();
  void exportingChanged();

 private:
  // The progress shown follows the running commands.
  void showProgress();
  // Moves through the history in one direction.
  bool stepHistory(const Uuid& projectID, bool backward);
  void forgetHistory(const Uuid& projectID);
  // An edit: `change` applied to the project as stored and, when it reports a change, stored.
  // A failure (a refused edit among them) goes to the status line, and the views are told to
  // show the record again.
  EditResult editProject(const Uuid& projectID, const std::function<bool(Project&)>& change);
  // Puts the stored version of a project in the list, or takes it out when it is gone.
  void replaceInList(const Project& stored);
  void removeFromList(const Uuid& projectID);

  ProjectStore& store_;
  KeyRing keyRing_;
  KeySource keySource_ = [this](KeychainStore::Key key) { return keyRing_.key(key); };
  std::function<void(const std::filesystem::path&)> revealFile_ = revealInFileBrowser;
  FolderChooser chooseFolder_ = [](const std::string&) { return std::nullopt; };
  // The newest audio settings request of each project, counted.
  std::unordered_map<Uuid, std::uint64_t> audioSettingsRequests_;
  std::unordered_map<Uuid, EditHistory> histories_;
  // The projects a drag shows an edit of, as they were before it.
  std::unordered_map<Uuid, Project> shownEditBases_;
  std::function<double()> editClock_;
  std::vector<Project> projects_;
  std::vector<ProjectStore::UnreadableProject> unreadableProjects_;
  std::optional<Uuid> selectedProjectID_;
  std::optional<Uuid> selectedSegmentID_;
  std::optional<PipelineProgress> pipelineProgress_;
  std::optional<std::string> lastError_;
  RunningCommands commands_;
  // Destinations being written (as their absolute, normalised paths) and by which project.
  std::map<std::filesystem::path, Uuid> outputsBeingWritten_;
};

}  // namespace brisklet
