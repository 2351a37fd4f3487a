#include <QPointer>

#include "app/AppState.h"
#include "app/LongCommand.h"
#include "media/platform/Asset.h"
#include "platform/Bookmark.h"

namespace brisklet {

QCoro::Task<> AppState::importVideo(const std::filesystem::path& fileArgument,
                                    bool analyzeAfterwards) {
  const std::filesystem::path file = fileArgument;  // see runLongCommand on coroutine arguments
  const std::string failurePrefix = "Could not import video: ";
  QPointer<AppState> guard(this);
  std::exception_ptr failure;
  ByteString bookmark;
  double durationSec = 0;
  try {
    bookmark = makeBookmark(file);
    auto loading = runOnWorker([file] { return Asset::open(file).durationSec(); });
    durationSec = co_await loading;
  } catch (...) {
    failure = std::current_exception();
  }
  if (!guard) co_return;
  if (failure) {
    guard->setLastError(failurePrefix + describe(failure));
    co_return;
  }
  const Project project = makeProject(file.stem().string(), std::move(bookmark), durationSec);
  guard->insertProject(project);
  if (analyzeAfterwards && !guard->pipelineProgress()) {
    // Started, not awaited: the import is done once the project is there.
    auto analysis = guard->startAnalysis(project.id);
  }
}

}  // namespace brisklet
