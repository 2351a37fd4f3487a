#include <QPointer>

#include "app/AppState.h"
#include "app/LongCommand.h"
#include "media/ClipMerger.h"
#include "media/EditableVideo.h"
#include "media/platform/Asset.h"
#include "platform/Bookmark.h"

namespace brisklet {

QCoro::Task<CommandOutcome> AppState::importVideo(const std::filesystem::path& fileArgument,
                                                  bool analyzeAfterwards) {
  const std::filesystem::path file = fileArgument;  // see runLongCommand on coroutine arguments
  const std::string failurePrefix = "Could not import video: ";
  QPointer<AppState> guard(this);
  std::exception_ptr failure;
  ByteString bookmark;
  double durationSec = 0;
  try {
    bookmark = makeBookmark(file);
    auto loading = runOnWorker([file] {
      const Asset asset = Asset::open(file);
      requireEditableVideo(asset);
      return asset.durationSec();
    });
    durationSec = co_await loading;
  } catch (...) {
    failure = std::current_exception();
  }
  if (!guard) co_return CommandOutcome::cancelled();
  if (failure) co_return guard->tell(CommandOutcome::failed(failurePrefix + describe(failure)));
  const Project project = makeProject(file.stem().string(), std::move(bookmark), durationSec);
  try {
    guard->insertProject(project);
  } catch (const ProjectStoreError& error) {
    co_return guard->tell(CommandOutcome::failed(failurePrefix + error.what()));
  }
  if (analyzeAfterwards && !guard->pipelineProgress()) {
    // Started, not awaited: the import is done once the project is there.
    auto analysis = guard->startAnalysis(project.id);
  }
  co_return CommandOutcome::madeProject(project.id);
}

namespace {

// What the worker hands back once the clips are one movie.
struct MergedSource {
  std::string name;
  ByteString bookmark;
  double durationSec = 0;
};

}  // namespace

QCoro::Task<CommandOutcome> AppState::importVideos(
    const std::vector<std::filesystem::path>& filesArgument, bool analyzeAfterwards) {
  const std::vector<std::filesystem::path> files = filesArgument;  // see runLongCommand
  if (files.empty()) co_return CommandOutcome::failed("No videos to import.");
  if (files.size() == 1) {
    auto single = importVideo(files.front(), analyzeAfterwards);
    CommandOutcome outcome = co_await single;
    co_return outcome;
  }
  QPointer<AppState> guard(this);
  const std::string stage = "Merging " + std::to_string(files.size()) + " clips\u2026";
  const CommandID command = beginCommand(PipelineProgress{stage, -1.0});
  ProgressReporter report = progressReporter(*this, command);
  std::exception_ptr failure;
  std::optional<ProjectStore::NewProject> made;
  MergedSource merged;
  try {
    // The movie is made in a hidden folder that becomes the project's only once its record is
    // saved: a failed or killed import leaves no half-made project behind.
    made.emplace(store().beginProject(Uuid::random()));
    auto merging =
        runOnWorker([files, folder = made->folder(), source = made->finalFolder() / "source.mov",
                     stage, report, stop = commandStopToken(command)] {
          const std::vector<std::filesystem::path> sorted = ClipMerger::sortedByCreationDate(files);
          const std::filesystem::path output = folder / "source.mov";
          ClipMerger::merge(
              sorted, output, [&](double fraction) { report(stage, fraction); }, stop);
          return MergedSource{
              sorted.front().stem().string() + " + " + std::to_string(sorted.size() - 1) + " more",
              makeBookmark(output, source), Asset::open(output).durationSec()};
        });
    merged = co_await merging;
    if (!guard) co_return CommandOutcome::cancelled();
    Project project = makeProject(merged.name, std::move(merged.bookmark), merged.durationSec);
    project.id = made->id();
    guard->insertProject(project, &*made);
    guard->commandEnded(command);
    if (analyzeAfterwards) {
      // Started, not awaited, as for a single video.
      auto analysis = guard->startAnalysis(project.id);
    }
    co_return CommandOutcome::madeProject(project.id);
  } catch (...) {
    failure = std::current_exception();
  }
  made.reset();  // removes the hidden folder and whatever the merge left in it
  if (!guard) co_return CommandOutcome::cancelled();
  guard->commandEnded(command);
  try {
    std::rethrow_exception(failure);
  } catch (const Cancelled&) {
    // The user asked for it; there is nothing to tell them.
    co_return CommandOutcome::cancelled();
  } catch (...) {
    co_return guard->tell(CommandOutcome::failed("Could not merge clips: " + describe(failure)));
  }
}

}  // namespace brisklet
