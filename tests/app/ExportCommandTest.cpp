#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

#include <QCoreApplication>
#include <fstream>
#include <sstream>

#include "app/AppState.h"
#include "media/platform/Asset.h"
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
    std::ifstream file(store.projectDirectory(project.id) / "project.json");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
};

TEST_F(ExportCommandTest, TheEditIsWrittenAndShownAndTheProjectStaysAsItWas) {
  const auto video = testing::makeClockVideo(folder / "walk.mp4", 4.0, 96, 54);
  EditPlan plan;
  for (const auto& [start, end, keep] : {std::tuple{0.0, 1.5, true}, {1.5, 3.0, false},
                                         {3.0, 4.0, true}}) {
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
  QCoro::waitFor(app->exportProject(analysed.id, folder / "out.mp4"));
  EXPECT_THAT(app->lastError().value_or(""), StartsWith("Export failed: "));
  EXPECT_FALSE(app->pipelineProgress());
  EXPECT_TRUE(revealed.empty());
}

}  // namespace
}  // namespace brisklet
