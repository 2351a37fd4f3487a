#include <QPointer>

#include "app/AppState.h"
#include "app/LongCommand.h"
#include "media/ClipMerger.h"
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

namespace {

// What the worker hands back once the clips are one movie.
struct MergedSource {
  std::string name;
  ByteString bookmark;
  double durationSec = 0;
};

}  // namespace

QCoro::Task<> AppState::importVideos(const std::vector<std::filesystem::path>& filesArgument,
                                     bool analyzeAfterwards) {
  const std::vector<std::filesystem::path> files = filesArgument;  // see runLongCommand
  if (files.empty()) co_return;
  if (files.size() == 1) {
    auto single = importVideo(files.front(), analyzeAfterwards);
    co_await single;
    co_return;
  }
  QPointer<AppState> guard(this);
  const std::string stage = "Merging " + std::to_string(files.size()) + " clips\u2026";
  setPipelineProgress(PipelineProgress{stage, -1.0});
  const Uuid id = Uuid::random();
  const std::filesystem::path folder = store().projectDirectory(id);
  ProgressReporter report = progressReporter(*this);
  std::exception_ptr failure;
  MergedSource merged;
  try {
    auto merging = runOnWorker([files, folder, stage, report] {
      const std::vector<std::filesystem::path> sorted = ClipMerger::sortedByCreationDate(files);
      std::filesystem::create_directories(folder);
      const std::filesystem::path output = folder / "source.mov";
      ClipMerger::merge(sorted, output, [&](double fraction) { report(stage, fraction); });
      return MergedSource{sorted.front().stem().string() + " + " +
                              std::to_string(sorted.size() - 1) + " more",
                          makeBookmark(output), Asset::open(output).durationSec()};
    });
    merged = co_await merging;
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    // Nothing of a failed import stays behind: no folder, no half-written movie.
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  if (!guard) co_return;
  guard->setPipelineProgress(std::nullopt);
  if (failure) {
    guard->setLastError("Could not merge clips: " + describe(failure));
    co_return;
  }
  Project project = makeProject(merged.name, std::move(merged.bookmark), merged.durationSec);
  project.id = id;
  guard->insertProject(project);
  if (analyzeAfterwards) {
    // Started, not awaited, as for a single video.
    auto analysis = guard->startAnalysis(project.id);
  }
}

}  // namespace brisklet
