#pragma once

#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotask.h>

#include <QPointer>
#include <QtConcurrent/QtConcurrent>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <type_traits>

#include "app/AppState.h"
#include "platform/Cancellation.h"

namespace brisklet {

// The machinery every long command shares. A command is a QCoro::Task<> on the main thread; it
// runs its engine on a worker thread and suspends meanwhile, so the user keeps editing.

// Called by engines from any thread: (stage name, fraction, negative when unknown).
using ProgressReporter = std::function<void(const std::string& stageName, double fraction)>;

// A reporter of the command's progress that hands each report to the main thread as a queued
// call. The call holds the state weakly: a report that arrives after the state is gone is
// dropped.
ProgressReporter progressReporter(AppState& state, CommandID command);

// The user-facing description of an exception: what() for standard exceptions.
std::string describe(const std::exception_ptr& failure);

// Runs `work` on a worker thread and resumes with its result on the calling (main) thread.
// Anything `work` throws is rethrown here, on the main thread.
template <typename Work>
auto runOnWorker(Work&& workArgument) -> QCoro::Task<std::invoke_result_t<std::decay_t<Work>&>> {
  using Result = std::invoke_result_t<std::decay_t<Work>&>;
  std::decay_t<Work> work(std::forward<Work>(workArgument));  // see runLongCommand
  struct Outcome {
    std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>> value{};
    std::exception_ptr error;
  };
  // Named locals rather than temporaries inside co_await: GCC 12 mishandles the lifetime of
  // temporaries in co_await operands.
  QFuture<std::shared_ptr<Outcome>> future = QtConcurrent::run([work = std::move(work)]() mutable {
    auto result = std::make_shared<Outcome>();
    try {
      if constexpr (std::is_void_v<Result>)
        work();
      else
        result->value.emplace(work());
    } catch (...) {
      result->error = std::current_exception();
    }
    return result;
  });
  std::shared_ptr<Outcome> outcome = co_await future;
  if (outcome->error) std::rethrow_exception(outcome->error);
  if constexpr (!std::is_void_v<Result>) co_return std::move(*outcome->value);
}

// What distinguishes one long command from another in the common pattern.
struct LongCommandSteps {
  // The first stage shown, e.g. "Starting analysis…".
  std::string firstStage;
  // Put before the error's description in the status line, e.g. "Export failed: "; empty for
  // commands that show the bare description.
  std::string failurePrefix;
  // The first stage's fraction; −1 while it is not known.
  double firstFraction = -1.0;
  // The project the command works on: deleting it stops the command.
  std::optional<Uuid> projectID = {};
};

// The common pattern: show the first stage, run `work(report, stopToken)` on a worker thread,
// then, on the main thread, `apply(state, result)` to the state as it is by then and clear the
// progress (once no other command runs). A failure puts failurePrefix + description into the
// status line; a cancellation ends silently. Nothing happens after the work if the state was
// destroyed meanwhile. The outcome is what `apply` returns (done, when it returns nothing), the
// failure, or the cancellation.
// `apply` typically uses AppState::modifyProject so edits made during the work survive.
//
// Coroutines and temporaries: GCC 12 destroys temporaries wrongly when they live across a
// suspension, in two ways we must avoid. (1) A class-type argument passed by value to a
// coroutine is destroyed twice when the caller passes a temporary: commands take such arguments
// by reference and copy them into the frame before the first co_await (QCoro tasks start at
// once, so the caller's temporaries are still alive then), as this function does. (2) A
// temporary inside a co_await full-expression is destroyed wrongly: start the task in its own
// statement (`auto task = runLongCommand(…); co_await task;`), as runLongCommand does itself.
template <typename Work, typename Apply>
QCoro::Task<CommandOutcome> runLongCommand(AppState& state, const LongCommandSteps& stepsArgument,
                                           Work&& workArgument, Apply&& applyArgument) {
  const LongCommandSteps steps = stepsArgument;
  std::decay_t<Work> work(std::forward<Work>(workArgument));
  std::decay_t<Apply> apply(std::forward<Apply>(applyArgument));

  QPointer<AppState> guard(&state);
  const CommandID command =
      state.beginCommand(PipelineProgress{steps.firstStage, steps.firstFraction}, steps.projectID);
  ProgressReporter report = progressReporter(state, command);
  std::stop_token stop = state.commandStopToken(command);
  std::exception_ptr failure;
  CommandOutcome outcome;
  try {
    auto onWorker = runOnWorker(
        [work = std::move(work), report, stop]() mutable { return work(report, stop); });
    auto result = co_await onWorker;
    if (!guard) co_return CommandOutcome::cancelled();
    if constexpr (std::is_void_v<decltype(apply(*guard, std::move(result)))>)
      apply(*guard, std::move(result));
    else
      outcome = apply(*guard, std::move(result));
  } catch (const Cancelled&) {
    // The user asked for it; there is nothing to tell them.
    outcome = CommandOutcome::cancelled();
  } catch (...) {
    failure = std::current_exception();
  }
  if (!guard) co_return CommandOutcome::cancelled();
  if (failure) {
    // Whatever broke first (a write into the folder that went), the reason is the delete.
    const bool deleted = steps.projectID && guard->store().isDeleted(*steps.projectID);
    outcome = guard->tell(CommandOutcome::failed(
        steps.failurePrefix +
        (deleted ? std::string(ProjectDeletedError().what()) : describe(failure))));
  }
  guard->commandEnded(command);
  co_return outcome;
}

}  // namespace brisklet
