#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <QCoreApplication>

#include "app/AppState.h"
#include "media/platform/Asset.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "support/MediaGenerator.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::StartsWith;

class ExportCommandTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  ProjectStore store{folder / "Projects"};
  std::vector<std::filesystem::path> revealed;

  Project storedProject(const std::filesystem::path& video, std::optional<EditPlan> plan) {
    Project project = makeProject("Day out", makeBookmark(video), 4.0);
    project.editPlan = std::move(plan);
    project.aspectRatioRaw = "no such framing";
    store.save(project);
    return project;
  }

  std::unique_ptr<AppState> state() {
    auto made = std::make_unique<AppState>(store);
    made->setFileRevealer([this](const std::filesystem::path& file) { revealed.push_back(file); });
    return made;
  }

  std::string record(const Project& project) {
    return readFile(store.projectDirectory(project.id) / "project.json");
  }
};

TEST_F(ExportCommandTest, TheEditIsWrittenAndShownAndTheProjectStaysAsItWas) {
  const auto video = testing::makeClockVideo(folder / "walk.mp4", 4.0, 96, 54);
  EditPlan plan;
  for (const auto& [start, end, keep] :
       {std::tuple{0.0, 1.5, true}, {1.5, 3.0, false}, {3.0, 4.0, true}}) {
    Segment segment;
    segment.id = Uuid::random();
    segment.startSec = start;
    segment.endSec = end;
    segment.keep = keep;
    plan.segments.push_back(segment);
  }
  const Project project = storedProject(video, plan);
  const std::string before = record(project);
  auto app = state();
  std::vector<PipelineProgress> shown;
  QObject::connect(app.get(), &AppState::pipelineProgressChanged, [&] {
    if (app->pipelineProgress()) shown.push_back(*app->pipelineProgress());
  });
  const auto destination = folder / "Day out \u2014 Edited.mp4";
  testing::writeText(destination, "an older export");
  QCoro::waitFor(app->exportProject(project.id, destination));

  EXPECT_FALSE(app->lastError()) << app->lastError().value_or("");
  EXPECT_FALSE(app->pipelineProgress());
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front(), (PipelineProgress{"Exporting\u2026", 0.0}));
  EXPECT_NEAR(Asset::open(destination).durationSec(), 2.5, 1.0 / 30) << "replaced";
  EXPECT_EQ(Asset::open(destination).firstVideoTrack().displayWidth(), 96)
      << "an unknown framing exports the source's own";
  EXPECT_EQ(revealed, std::vector{destination});
  EXPECT_EQ(record(project), before);
}

TEST_F(ExportCommandTest, ASecondExportToTheSameFileIsRefusedAndProgressStaysUntilTheLastEnds) {
  const auto video = testing::makeClockVideo(folder / "walk.mp4", 4.0, 96, 54);
  EditPlan plan;
  plan.segments = {testing::segment(0, 4)};
  const Project project = storedProject(video, plan);
  auto app = state();
  bool exportingSeen = false;
  QObject::connect(app.get(), &AppState::exportingChanged,
                   [&] { exportingSeen |= app->isExporting(project.id); });

  int cleared = 0;
  QObject::connect(app.get(), &AppState::pipelineProgressChanged,
                   [&] { cleared += app->pipelineProgress() ? 0 : 1; });
  // Two exports run side by side (each suspends at once); a third to the first one's file is
  // refused before it starts.
  const auto destination = folder / "Day out.mp4";
  auto first = app->exportProject(project.id, destination);
  auto second = app->exportProject(project.id, folder / "Other.mp4");
  EXPECT_TRUE(app->isExporting(project.id)) << "held by the state, not by a view";
  auto refused = app->exportProject(project.id, folder / "." / "Day out.mp4");
  EXPECT_THAT(
      app->lastError().value_or(""),
      StartsWith("Export refused: \u201cDay out.mp4\u201d is being written by another export"));
  EXPECT_TRUE(app->pipelineProgress());
  const CommandOutcome refusal = QCoro::waitFor(refused);
  EXPECT_EQ(refusal.ending, CommandOutcome::Ending::failed);
  EXPECT_EQ(refusal.said, app->lastError()) << "the outcome says what the status line says";
  EXPECT_EQ(QCoro::waitFor(first).written, destination) << "the outcome names the file written";
  QCoro::waitFor(second);
  EXPECT_EQ(cleared, 1);
  EXPECT_FALSE(app->isExporting(project.id));
  EXPECT_TRUE(exportingSeen);
  EXPECT_NEAR(Asset::open(destination).durationSec(), 4.0, 1.0 / 30);
  EXPECT_NEAR(Asset::open(folder / "Other.mp4").durationSec(), 4.0, 1.0 / 30);
}

TEST_F(ExportCommandTest, FailuresAreReportedAndUnanalysedProjectsLeftAlone) {
  const auto video = testing::makeClockVideo(folder / "walk.mp4", 2.0);
  const Project unanalysed = storedProject(video, std::nullopt);
  auto app = state();
  QCoro::waitFor(app->exportProject(unanalysed.id, folder / "out.mp4"));
  EXPECT_FALSE(app->lastError());
  EXPECT_FALSE(std::filesystem::exists(folder / "out.mp4"));

  const Project analysed = storedProject(video, testing::samplePlan(2));
  app = state();
  std::filesystem::remove(video);
  const CommandOutcome failed = QCoro::waitFor(app->exportProject(analysed.id, folder / "out.mp4"));
  EXPECT_EQ(failed.ending, CommandOutcome::Ending::failed);
  EXPECT_FALSE(failed.written);
  EXPECT_THAT(failed.said.value_or(""), StartsWith("Export failed: "));
  EXPECT_EQ(failed.said, app->lastError());
  EXPECT_FALSE(app->pipelineProgress());
  EXPECT_TRUE(revealed.empty());
}

TEST_F(ExportCommandTest, DestinationsThatWouldDestroyWhatTheUserKeepsAreRefusedUntouched) {
  const auto video = testing::makeClockVideo(folder / "src.mp4", 2.0);
  const Project project = storedProject(video, testing::samplePlan(2));
  const Project other = storedProject(video, testing::samplePlan(2));
  testing::writeText(folder / "notes.txt", "ideas for the next trip");
  std::filesystem::create_hard_link(video, folder / "same source.mp4");
  std::filesystem::create_directory(folder / "Exports.mp4");
  const std::string source = readFile(video), otherRecord = record(other);
  auto app = state();

  const struct {
    std::filesystem::path destination;
    std::string refusal;
  } cases[] = {
      {video, "\u201Csrc.mp4\u201D is this project's source video."},
      {folder / "same source.mp4", "\u201Csame source.mp4\u201D is this project's source video."},
      {store.projectDirectory(other.id) / "project.json",
       "\u201Cproject.json\u201D is inside Brisklet's own data folder."},
      {store.projectDirectory(project.id) / "edited.mp4",
       "\u201Cedited.mp4\u201D is inside Brisklet's own data folder."},
      {folder / "notes.txt",
       "\u201Cnotes.txt\u201D is not a movie name: it must end in .mp4, .m4v or .mov."},
      {folder / "Exports.mp4", "\u201CExports.mp4\u201D is a folder."},
  };
  for (const auto& [destination, refusal] : cases) {
    app->setLastError(std::nullopt);
    QCoro::waitFor(app->exportProject(project.id, destination));
    EXPECT_EQ(app->lastError(), "Export refused: " + refusal);
    EXPECT_FALSE(app->pipelineProgress()) << "refused before any progress is shown";
  }
  EXPECT_EQ(readFile(video), source);
  EXPECT_EQ(record(other), otherRecord);
  EXPECT_EQ(readFile(folder / "notes.txt"), "ideas for the next trip");
  EXPECT_TRUE(std::filesystem::is_empty(folder / "Exports.mp4"));
  EXPECT_TRUE(revealed.empty());

  app->setLastError(std::nullopt);
  QCoro::waitFor(app->exportProject(project.id, folder / "TRIP.MOV"));
  EXPECT_FALSE(app->lastError()) << "a movie name in capitals is a movie name: "
                                 << app->lastError().value_or("");
}

}  // namespace
}  // namespace brisklet
