#include "app/LongCommand.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace brisklet {

ProgressReporter progressReporter(AppState& state, CommandID command) {
  // The pointer is taken here on the main thread; workers only copy it, and it is read on the
  // main thread inside the queued call. The application object outlives every state, so it is
  // the safe receiver of the call.
  QPointer<AppState> weakState(&state);
  return [weakState, command](const std::string& stageName, double fraction) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weakState, command, progress = PipelineProgress{stageName, fraction}] {
          if (weakState) weakState->reportProgress(command, progress);
        },
        Qt::QueuedConnection);
  };
}

std::string describe(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "An unknown error occurred.";
  }
}

}  // namespace brisklet
