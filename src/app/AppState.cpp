#include "app/AppState.h"

#include <QThreadPool>
#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/OutputFile.h"

namespace brisklet {

namespace {

// Cancelled work ends within moments; a worker stuck in a system call does not hold the exit for
// long, and what it leaves is swept at the next start.
constexpr int kLongestCleanUpMilliseconds = 1500;

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One spelling per file for the outputs being written, whatever links or dots named it.
std::filesystem::path outputKey(const std::filesystem::path& destination) {
  std::error_code error;
  const std::filesystem::path normal = std::filesystem::weakly_canonical(destination, error);
  return error ? destination.lexically_normal() : normal;
}

}  // namespace

AppState::AppState(ProjectStore& store, QObject* parent)
    : QObject(parent), store_(store), editClock_(steadySeconds) {
  // What killed processes left behind goes before anything is listed.
  store_.sweepAbandoned();
  sweepAbandonedOutputs();
  ProjectStore::Listing listing = store_.list();
  projects_ = std::move(listing.projects);
  unreadableProjects_ = std::move(listing.unreadable);
  if (!projects_.empty()) selectedProjectID_ = projects_.front().id;
}

// The commands' workers read and write the store, which may go right after us: they are told to
// stop and waited for.
AppState::~AppState() {
  commands_.stopAll();
  QThreadPool::globalInstance()->waitForDone(kLongestCleanUpMilliseconds);
}

const Project* AppState::project(const Uuid& id) const {
  const auto found = std::find_if(projects_.begin(), projects_.end(),
                                  [&](const Project& candidate) { return candidate.id == id; });
  return found == projects_.end() ? nullptr : &*found;
}

const Project* AppState::selectedProject() const {
  return selectedProjectID_ ? project(*selectedProjectID_) : nullptr;
}

void AppState::setSelectedProjectID(const std::optional<Uuid>& id) {
  if (selectedProjectID_ == id) return;
  selectedProjectID_ = id;
  emit selectedProjectIDChanged();
}

void AppState::setSelectedSegmentID(const std::optional<Uuid>& id) {
  if (selectedSegmentID_ == id) return;
  selectedSegmentID_ = id;
  emit selectedSegmentIDChanged();
}

void AppState::showProgress() {
  const std::optional<PipelineProgress> progress = commands_.shownProgress();
  if (pipelineProgress_ == progress) return;
  pipelineProgress_ = progress;
  emit pipelineProgressChanged();
}

void AppState::setLastError(const std::optional<std::string>& message) {
  if (lastError_ == message) return;
  lastError_ = message;
  emit lastErrorChanged();
}

void AppState::replaceInList(const Project& stored) {
  const auto found =
      std::find_if(projects_.begin(), projects_.end(),
                   [&](const Project& candidate) { return candidate.id == stored.id; });
  if (found == projects_.end()) return;
  *found = stored;
  shownEditBases_.erase(stored.id);
  emit projectsChanged();
}

void AppState::removeFromList(const Uuid& projectID) {
  shownEditBases_.erase(projectID);
  const auto removed =
      std::erase_if(projects_, [&](const Project& candidate) { return candidate.id == projectID; });
  if (removed > 0) emit projectsChanged();
  if (selectedProjectID_ == projectID)
    setSelectedProjectID(projects_.empty() ? std::nullopt : std::optional(projects_.front().id));
}

std::optional<std::string> AppState::serviceKey(KeychainStore::Key key) const {
  std::optional<std::string> value = keySource_(key);
  if (value && value->empty()) return std::nullopt;
  return value;
}

void AppState::insertProject(const Project& project, ProjectStore::NewProject* made) {
  if (made != nullptr)
    made->commit(project);
  else
    store_.create(project);
  projects_.insert(projects_.begin(), project);
  emit projectsChanged();
  setSelectedProjectID(project.id);
}

CommandOutcome AppState::tell(CommandOutcome outcome) {
  if (outcome.said) setLastError(*outcome.said);
  return outcome;
}

bool AppState::modifyProject(const Uuid& projectID, const std::function<void(Project&)>& change) {
  if (project(projectID) == nullptr) return false;
  try {
    replaceInList(store_.modify(projectID, [&](Project& stored) {
      change(stored);
      return true;
    }));
  } catch (const ProjectDeletedError&) {
    removeFromList(projectID);
    throw;
  }
  return true;
}

EditResult AppState::editProject(const Uuid& projectID,
                                 const std::function<bool(Project&)>& change) {
  if (project(projectID) == nullptr) return {false, "The project is gone."};
  std::string failure;
  try {
    bool changed = false;
    const Project stored = store_.modify(projectID, [&](Project& project) {
      changed = change(project);
      return changed;
    });
    if (!changed) return {};
    replaceInList(stored);
    return {true, std::nullopt};
  } catch (const ProjectDeletedError& error) {
    removeFromList(projectID);
    failure = error.what();
  } catch (const std::exception& error) {  // a refused edit or a record that cannot be stored
    failure = error.what();
    // A view that showed the change as it was made (a switch flipped, a drag) shows the record
    // as stored again.
    if (const auto shown = shownEditBases_.find(projectID); shown != shownEditBases_.end())
      replaceInList(shown->second);
    else
      emit projectsChanged();
  }
  setLastError(failure);
  return {false, failure};
}

EditResult AppState::makeEdit(const Uuid& projectID, const Edit& edit, const EditGesture& gesture) {
  const Project* listed = project(projectID);
  if (listed == nullptr) return {false, "The project is gone."};
  // A drag showed its moves at revisions of their own; the stored edit comes after them all.
  const std::int64_t shownRevision = listed->editPlan ? listed->editPlan->planRevision : 0;
  std::optional<Edit> undo;
  const EditResult result = editProject(projectID, [&](Project& project) {
    Edit inverse = inverseEdit(edit, project);
    if (!applyEdit(edit, project)) return false;
    if (project.editPlan)
      project.editPlan->planRevision = std::max(project.editPlan->planRevision, shownRevision + 1);
    undo = std::move(inverse);
    return true;
  });
  if (!result) return result;
  histories_[projectID].record({edit, *undo}, gesture, editClock_());
  emit historyChanged();
  return result;
}

void AppState::showEdit(const Uuid& projectID, const Edit& edit) {
  const auto listed = std::find_if(projects_.begin(), projects_.end(),
                                   [&](const Project& each) { return each.id == projectID; });
  if (listed == projects_.end()) return;
  const Project& base = shownEditBases_.try_emplace(projectID, *listed).first->second;
  Project shown = base;
  try {
    if (!applyEdit(edit, shown)) shown = base;
  } catch (const EditRefused&) {
    return;  // the drag's rules never ask for it; nothing to show
  }
  // Each move is a new picture of the edit for the preview.
  if (shown.editPlan && listed->editPlan)
    shown.editPlan->planRevision = listed->editPlan->planRevision + 1;
  *listed = std::move(shown);
  emit projectsChanged();
}

bool AppState::undo(const Uuid& projectID) { return stepHistory(projectID, true); }
bool AppState::redo(const Uuid& projectID) { return stepHistory(projectID, false); }

bool AppState::stepHistory(const Uuid& projectID, bool backward) {
  const auto history = histories_.find(projectID);
  if (history == histories_.end()) return false;
  const EditStep* next = backward ? history->second.nextUndo() : history->second.nextRedo();
  if (next == nullptr) return false;
  const Edit step = backward ? next->backward : next->forward;
  std::optional<Edit> reverse;
  std::optional<std::string> gone;
  const EditResult result = editProject(projectID, [&](Project& project) {
    try {
      reverse = inverseEdit(step, project);
      return applyEdit(step, project);
    } catch (const EditRefused& refusal) {
      gone = refusal.what();
      return false;
    }
  });
  if (gone) {
    backward ? history->second.dropNextUndo() : history->second.dropNextRedo();
    setLastError(std::string(backward ? "Could not undo: " : "Could not redo: ") + *gone);
  } else if (!result.failure) {
    if (backward)
      history->second.undone({*reverse, step});
    else
      history->second.redone({step, *reverse});
  }
  emit historyChanged();
  return !gone && !result.failure;
}

bool AppState::canUndo(const Uuid& projectID) const {
  const auto history = histories_.find(projectID);
  return history != histories_.end() && history->second.canUndo();
}

bool AppState::canRedo(const Uuid& projectID) const {
  const auto history = histories_.find(projectID);
  return history != histories_.end() && history->second.canRedo();
}

void AppState::forgetHistory(const Uuid& projectID) {
  if (histories_.erase(projectID) > 0) emit historyChanged();
}

void AppState::setAspectRatio(AspectRatio aspectRatio, const Uuid& projectID) {
  makeEdit(projectID, SetAspectRatio{std::string(rawValue(aspectRatio))});
}

void AppState::setTransition(TransitionStyle style, const Uuid& projectID) {
  makeEdit(projectID, SetTransition{std::string(rawValue(style))});
}

void AppState::setMusicVolume(double percent, const Uuid& projectID, const EditGesture& gesture) {
  if (!std::isfinite(percent)) return;
  makeEdit(projectID, SetMusicVolume{percent}, gesture);
}

CommandOutcome AppState::deleteProject(const Project& projectArgument) {
  // A copy: the caller's may be the list's own element, which goes below.
  const Project project = projectArgument;
  // Its commands stop first, so none of them writes into the folder while it goes.
  commands_.stopProject(project.id);
  CommandOutcome outcome;
  try {
    store_.deleteProject(project);
  } catch (const ProjectStoreError& error) {
    outcome = tell(CommandOutcome::failed(error.what()));
    // The record goes first: when it is gone, so is the project, whatever else was left.
    std::error_code ignored;
    if (std::filesystem::exists(store_.projectDirectory(project.id) / "project.json", ignored))
      return outcome;
  }
  removeFromList(project.id);
  forgetHistory(project.id);
  return outcome;
}

CommandID AppState::beginCommand(const PipelineProgress& first,
                                 const std::optional<Uuid>& projectID) {
  const CommandID id = commands_.start(first, projectID);
  showProgress();
  return id;
}

void AppState::reportProgress(CommandID id, const PipelineProgress& progress) {
  commands_.report(id, progress);
  showProgress();
}

void AppState::commandEnded(CommandID id) {
  commands_.end(id);
  showProgress();
}

void AppState::cancelShownCommand() {
  if (const std::optional<CommandID> shown = commands_.shown()) commands_.stop(*shown);
}

void AppState::cancelRunningCommands() { commands_.stopAll(); }

bool AppState::claimOutput(const std::filesystem::path& destination, const Uuid& projectID) {
  if (!outputsBeingWritten_.try_emplace(outputKey(destination), projectID).second) return false;
  emit exportingChanged();
  return true;
}

void AppState::releaseOutput(const std::filesystem::path& destination) {
  if (outputsBeingWritten_.erase(outputKey(destination)) > 0) emit exportingChanged();
}

bool AppState::isExporting(const Uuid& projectID) const {
  return std::any_of(outputsBeingWritten_.begin(), outputsBeingWritten_.end(),
                     [&](const auto& output) { return output.second == projectID; });
}

void AppState::renameProject(const Uuid& projectID, const std::string& name) {
  const auto first = name.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return;
  const std::string trimmed = name.substr(first, name.find_last_not_of(" \t\r\n") - first + 1);
  editProject(projectID, [&](Project& project) {
    if (project.name == trimmed) return false;
    project.name = trimmed;
    return true;
  });
}

}  // namespace brisklet
