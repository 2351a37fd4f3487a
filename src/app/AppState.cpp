#include "app/AppState.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/OutputFile.h"

namespace brisklet {

namespace {

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

AppState::~AppState() { commands_.stopAll(); }

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
  emit projectsChanged();
}

void AppState::removeFromList(const Uuid& projectID) {
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

void AppState::editProject(const Uuid& projectID, const std::function<bool(Project&)>& change) {
  if (project(projectID) == nullptr) return;
  try {
    bool changed = false;
    const Project stored = store_.modify(projectID, [&](Project& project) {
      changed = change(project);
      return changed;
    });
    if (changed) replaceInList(stored);
  } catch (const ProjectDeletedError& error) {
    removeFromList(projectID);
    setLastError(error.what());
  } catch (const ProjectStoreError& error) {
    setLastError(error.what());
    // A view that showed the change as it was made (a switch flipped) shows the record as
    // stored again.
    emit projectsChanged();
  }
}

void AppState::countRevision(Project& project) {
  if (project.editPlan) project.editPlan->planRevision += 1;
}

void AppState::editByUser(const Uuid& projectID, const EditGesture& gesture,
                          const std::function<bool(Project&)>& change) {
  std::optional<EditableState> before;
  editProject(projectID, [&](Project& project) {
    EditableState was = EditableState::of(project);
    if (!change(project)) return false;
    before = std::move(was);
    return true;
  });
  // Only an edit that was stored can be undone.
  const Project* stored = project(projectID);
  if (!before || stored == nullptr || EditableState::of(*stored) == *before) return;
  histories_[projectID].record(*before, gesture, editClock_());
  emit historyChanged();
}

bool AppState::undo(const Uuid& projectID) { return stepHistory(projectID, true); }
bool AppState::redo(const Uuid& projectID) { return stepHistory(projectID, false); }

bool AppState::stepHistory(const Uuid& projectID, bool backward) {
  const auto history = histories_.find(projectID);
  if (history == histories_.end()) return false;
  bool stepped = false;
  editProject(projectID, [&](Project& project) {
    const EditableState current = EditableState::of(project);
    const std::optional<EditableState> target =
        backward ? history->second.undo(current) : history->second.redo(current);
    if (!target) return false;
    target->applyTo(project);
    stepped = true;
    return true;
  });
  if (stepped) emit historyChanged();
  return stepped;
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

void AppState::updateSegment(const Segment& segment, const Uuid& projectID,
                             const EditGesture& gesture) {
  editByUser(projectID, gesture, [&](Project& project) {
    if (!project.editPlan) return false;
    Segment* existing = project.editPlan->segment(segment.id);
    if (existing == nullptr || *existing == segment) return false;
    *existing = segment;
    project.editPlan->planRevision += 1;
    return true;
  });
}

void AppState::setAspectRatio(AspectRatio aspectRatio, const Uuid& projectID) {
  editByUser(projectID, {}, [&](Project& project) {
    project.aspectRatioRaw = std::string(rawValue(aspectRatio));
    countRevision(project);
    return true;
  });
}

void AppState::setTransition(TransitionStyle style, const Uuid& projectID) {
  editByUser(projectID, {}, [&](Project& project) {
    project.transitionStyleRaw = std::string(rawValue(style));
    countRevision(project);
    return true;
  });
}

void AppState::setMusicVolume(double percent, const Uuid& projectID, const EditGesture& gesture) {
  if (!std::isfinite(percent)) return;
  editByUser(projectID, gesture, [&](Project& project) {
    project.musicVolumePercent =
        std::clamp(percent, kMinimumMusicVolumePercent, kMaximumMusicVolumePercent);
    countRevision(project);
    return true;
  });
}

void AppState::deleteProject(const Project& projectArgument) {
  // A copy: the caller's may be the list's own element, which goes below.
  const Project project = projectArgument;
  // Its commands stop first, so none of them writes into the folder while it goes.
  commands_.stopProject(project.id);
  try {
    store_.deleteProject(project);
  } catch (const ProjectStoreError& error) {
    setLastError(error.what());
    // The record goes first: when it is gone, so is the project, whatever else was left.
    std::error_code ignored;
    if (std::filesystem::exists(store_.projectDirectory(project.id) / "project.json", ignored))
      return;
  }
  removeFromList(project.id);
  forgetHistory(project.id);
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
