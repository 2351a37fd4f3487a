#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <QCoreApplication>
#include <atomic>
#include <semaphore>
#include <thread>

#include "app/LongCommand.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

// A long command built on the shared machinery, as every real command will be: a fake engine
// on a worker thread that reports progress, honours cancellation and produces director's notes,
// which the command applies to the project as it is when the engine ends.
QCoro::Task<> writeNotes(AppState& state, Uuid projectID, std::binary_semaphore& engineMayFinish,
                         const std::function<void()>& failureArgument = {}) {
  const std::function<void()> failure = failureArgument;
  if (state.project(projectID) == nullptr) co_return;
  auto command = runLongCommand(
      state, LongCommandSteps{"Writing notes…", "Notes failed: ", -1.0, projectID},
      [&engineMayFinish, failure](const ProgressReporter& report, std::stop_token stop) {
        report("Reading the plan…", 0.25);
        report("Writing notes…", 0.5);
        engineMayFinish.acquire();
        throwIfCancelled(stop);
        if (failure) failure();
        report("Writing notes…", 1.0);
        return std::vector<std::string>{"Open on the harbour.", "Cut the bus ride."};
      },
      [projectID](AppState& current, std::vector<std::string> notes) {
        current.modifyProject(projectID, [&](Project& project) {
          project.editPlan->editorSuggestions = std::move(notes);
          project.editPlan->planRevision += 1;
        });
      });
  co_await command;
}

class LongCommandTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  std::binary_semaphore engineMayFinish{0};

  Project storedProject() {
    Project project = testing::sampleProject("Harbour", "2025-03-01T10:00:00Z", 4);
    store.save(project);
    return project;
  }

  // Two commands on two stored projects; the first ends once engineMayFinish is released, the
  // second once secondMayFinish is.
  std::binary_semaphore secondMayFinish{0};
  struct TwoCommands {
    QCoro::Task<> firstCommand, secondCommand;
  };
  TwoCommands startTwoCommands(AppState& state, const Project& first, const Project& second) {
    return {writeNotes(state, first.id, engineMayFinish),
            writeNotes(state, second.id, secondMayFinish)};
  }

  // Each progress value the state shows, in order.
  static void recordProgress(AppState& state, std::vector<PipelineProgress>& seen) {
    QObject::connect(&state, &AppState::pipelineProgressChanged, &state, [&state, &seen] {
      if (state.pipelineProgress()) seen.push_back(*state.pipelineProgress());
    });
  }
};

TEST_F(LongCommandTest, EditsMadeWhileTheEngineRunsSurviveItsResult) {
  const Project project = storedProject();
  AppState state(store);
  std::vector<PipelineProgress> seen;
  recordProgress(state, seen);
  const std::int64_t revision = project.editPlan->planRevision;
  const std::thread::id mainThread = std::this_thread::get_id();

  // When the engine reports half way, the user trims a segment and picks 9:16; then the engine
  // may finish. Both edits happen on the main thread while the command is suspended.
  bool edited = false;
  QObject::connect(&state, &AppState::pipelineProgressChanged, &state, [&] {
    EXPECT_EQ(std::this_thread::get_id(), mainThread) << "progress is applied on the main thread";
    if (edited || !state.pipelineProgress() || state.pipelineProgress()->fraction != 0.5) return;
    edited = true;
    const Segment& trimmed = state.project(project.id)->editPlan->segments[1];
    state.makeEdit(project.id, SetSpan{trimmed.id, trimmed.startSec, trimmed.endSec - 1.0});
    state.setAspectRatio(AspectRatio::vertical, project.id);
    engineMayFinish.release();
  });

  QCoro::waitFor(writeNotes(state, project.id, engineMayFinish));

  ASSERT_TRUE(edited);
  const Project result = store.loadAll().at(0);
  EXPECT_EQ(result.aspectRatioRaw, "9:16");
  EXPECT_EQ(result.editPlan->segments[1].endSec, project.editPlan->segments[1].endSec - 1.0);
  ASSERT_TRUE(result.editPlan->editorSuggestions.has_value());
  EXPECT_EQ(result.editPlan->editorSuggestions->size(), 2u);
  EXPECT_EQ(result.editPlan->planRevision, revision + 3) << "trim, aspect ratio, the notes";
  EXPECT_EQ(*state.project(project.id), result);

  EXPECT_FALSE(state.pipelineProgress().has_value()) << "idle again";
  EXPECT_FALSE(state.lastError().has_value());
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen.front(), (PipelineProgress{"Writing notes…", -1.0}));
  EXPECT_EQ(seen[1], (PipelineProgress{"Reading the plan…", 0.25}));
  EXPECT_EQ(seen.back(), (PipelineProgress{"Writing notes…", 1.0}));
}

TEST_F(LongCommandTest, AFailureBecomesTheStatusLineWithTheCommandsPrefix) {
  const Project project = storedProject();
  AppState state(store);
  engineMayFinish.release();
  QCoro::waitFor(writeNotes(state, project.id, engineMayFinish,
                            [] { throw std::runtime_error("The model is unavailable."); }));
  EXPECT_EQ(state.lastError(), "Notes failed: The model is unavailable.");
  EXPECT_FALSE(state.pipelineProgress().has_value());
  EXPECT_EQ(*state.project(project.id), project) << "a failed command changes nothing";

  // Deleted by another process meanwhile: whatever broke first, the reason is the delete.
  engineMayFinish.release();
  QCoro::waitFor(writeNotes(state, project.id, engineMayFinish, [&] {
    store.deleteProject(project);
    throw std::runtime_error(
        "Could not flush \u201Cenhanced.m4a\u201D: No such file or directory.");
  }));
  EXPECT_EQ(state.lastError(), "Notes failed: The project was deleted.");
}

TEST_F(LongCommandTest, ACancelledCommandEndsSilentlyAndChangesNothing) {
  const Project project = storedProject();
  AppState state(store);
  state.setLastError("an earlier notice");
  QObject::connect(&state, &AppState::pipelineProgressChanged, &state, [&] {
    if (!state.pipelineProgress() || state.pipelineProgress()->fraction != 0.5) return;
    state.cancelRunningCommands();
    engineMayFinish.release();
  });
  QCoro::waitFor(writeNotes(state, project.id, engineMayFinish));
  EXPECT_EQ(state.lastError(), "an earlier notice");
  EXPECT_FALSE(state.pipelineProgress().has_value());
  EXPECT_EQ(*state.project(project.id), project);
}

TEST_F(LongCommandTest, ProgressArrivingAfterTheStateIsGoneIsDropped) {
  const Project project = storedProject();
  auto state = std::make_unique<AppState>(store);
  ProgressReporter report = progressReporter(*state, state->beginCommand({"Working…"}));
  std::thread worker([&] { report("Late report", 0.9); });
  worker.join();
  state.reset();
  QCoreApplication::processEvents();  // delivers the queued report to nobody

  // The same through a running command: the state goes away while the engine works.
  auto doomed = std::make_unique<AppState>(store);
  std::atomic<bool> engineEnded = false;
  auto task = runLongCommand(
      *doomed, LongCommandSteps{"Working…", "Failed: "},
      [&](const ProgressReporter& progress, std::stop_token stop) {
        engineMayFinish.acquire();
        progress("After the state", 0.5);
        engineEnded = true;
        return stop.stop_requested();
      },
      [](AppState&, bool) { ADD_FAILURE() << "no result is applied to a destroyed state"; });
  doomed.reset();
  engineMayFinish.release();
  QCoro::waitFor(std::move(task));
  EXPECT_TRUE(engineEnded);
  EXPECT_EQ(store.loadAll().at(0), project);
}

TEST_F(LongCommandTest, CancelStopsTheCommandTheProgressNamesAndNoOther) {
  const Project first = storedProject();
  const Project second = storedProject();
  AppState state(store);
  auto [firstCommand, secondCommand] = startTwoCommands(state, first, second);
  ASSERT_TRUE(state.pipelineProgress());
  EXPECT_EQ(state.pipelineProgress()->line(), "Writing notes\u2026 and 1 more")
      << "the panel names the oldest and counts the rest";

  state.cancelShownCommand();
  engineMayFinish.release();
  QCoro::waitFor(firstCommand);
  ASSERT_TRUE(state.pipelineProgress()) << "the other command still runs";
  EXPECT_EQ(state.pipelineProgress()->alsoRunning, 0);
  secondMayFinish.release();
  QCoro::waitFor(secondCommand);
  EXPECT_FALSE(state.lastError());
  EXPECT_EQ(*state.project(first.id), first) << "the cancelled command changed nothing";
  EXPECT_EQ(state.project(second.id)->editPlan->editorSuggestions->size(), 2u)
      << "the other ran to its end";
  EXPECT_FALSE(state.pipelineProgress());
}

TEST_F(LongCommandTest, DeletingAProjectStopsItsOwnCommandsAndNoOthers) {
  const Project doomed = storedProject();
  const Project other = storedProject();
  AppState state(store);
  auto [doomedCommand, otherCommand] = startTwoCommands(state, doomed, other);
  state.deleteProject(doomed);
  engineMayFinish.release();
  secondMayFinish.release();
  QCoro::waitFor(doomedCommand);
  QCoro::waitFor(otherCommand);
  EXPECT_FALSE(state.lastError()) << "a stopped command ends without a word";
  EXPECT_FALSE(std::filesystem::exists(store.projectDirectory(doomed.id)));
  EXPECT_EQ(state.project(other.id)
                ->editPlan->editorSuggestions.value_or(std::vector<std::string>())
                .size(),
            2u)
      << "the other project's command ran to its end";
  EXPECT_FALSE(state.pipelineProgress());
}

}  // namespace
}  // namespace brisklet
