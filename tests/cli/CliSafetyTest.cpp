// brisklet-cli used as a hostile user would: read-only data, two processes on one project, kills
// and Ctrl-C halfway through. Nothing the user keeps may be lost, and no failure may pass for a
// success.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QThread>
#include <cmath>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/CliFixture.h"
#include "media/platform/Asset.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "support/FakeService.h"
#include "support/MediaGenerator.h"
#include "support/ModelAnswers.h"
#include "support/ReadOnlyFolder.h"

namespace brisklet {
namespace {

using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::entriesOf;

class CliSafetyTest : public CliTest {
 protected:
  // `seconds` of a test card in two shots, with a tone.
  std::filesystem::path video(const std::string& name, double seconds, const std::string& size = "160x120") {
    const std::string half = std::to_string(seconds / 2);
    testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=" + size + ":r=30:d=" + half, "-f",
                        "lavfi", "-i", "smptebars=s=" + size + ":r=30:d=" + half, "-f", "lavfi",
                        "-i", "sine=d=" + std::to_string(seconds), "-filter_complex",
                        "[0:v][1:v]concat=n=2:v=1:a=0[v]", "-map", "[v]", "-map", "2:a", "-c:v",
                        "libx264", "-preset", "ultrafast", "-g", "30", (home / name).string()});
    return home / name;
  }

  Project analysedProject(const std::filesystem::path& source, double seconds) {
    Project project = makeProject("Walk", makeBookmark(source), seconds);
    project.editPlan = testing::samplePlan(static_cast<int>(std::ceil(seconds / 2.5)), 1);
    project.editPlan->segments.back().endSec = seconds;
    store.save(project);
    return project;
  }

  std::string record(const Project& project) const {
    return readFile(store.projectDirectory(project.id) / "project.json");
  }

  // Every file below `folder` with its bytes.
  static std::map<std::filesystem::path, std::string> snapshot(const std::filesystem::path& folder) {
    std::map<std::filesystem::path, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
      if (entry.is_regular_file()) files[entry.path()] = readFile(entry.path());
    return files;
  }

  // Waits until `process` reports `stage` at `percent` or more on stderr; what it wrote so far
  // goes to `seen`. Progress comes in 10 % steps, some of which a fast stage skips.
  static bool waitForProgress(QProcess& process, const std::string& stage, int percent,
                              std::string& seen) {
    const std::string prefix = stage + "\u2026 ";
    const auto reached = [&] {
      for (size_t at = seen.find(prefix); at != std::string::npos;
           at = seen.find(prefix, at + prefix.size()))
        if (std::atoi(seen.c_str() + at + prefix.size()) >= percent) return true;
      return false;
    };
    QElapsedTimer clock;
    clock.start();
    process.setReadChannel(QProcess::StandardError);
    while (!reached() && clock.elapsed() < 60000 && process.state() != QProcess::NotRunning) {
      process.waitForReadyRead(50);
      seen += process.readAllStandardError().toStdString();
    }
    return reached() && process.state() != QProcess::NotRunning;
  }

  static QString text(const std::filesystem::path& file) { return QString::fromStdString(file.string()); }
};

TEST_F(CliSafetyTest, EveryChangeOnAReadOnlyDataFolderFailsAndTouchesNothing) {
  const auto walk = video("walk.mp4", 4);
  video("lane.mp4", 2);
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=d=3", (home / "bed.wav").string()});
  const Project project = analysedProject(walk, 4);
  const QString id = QString::fromStdString(project.id.text());
  const auto before = snapshot(home / "data");

  testing::ReadOnlyFolder readOnly(home / "data");
  if (!readOnly.works()) GTEST_SKIP() << "no way to make a folder read-only here";
  const std::vector<QStringList> changes = {
      {"set", id, "aspect", "9:16"},       {"set", id, "transition", "dipToBlack"},
      {"set", id, "music", text(home / "bed.wav")}, {"set", id, "music", "none"},
      {"set", id, "music-volume", "40"},   {"set", id, "keep", "1", "yes"},
      {"set", id, "trim", "0", "0.5", "2"}, {"set", id, "narration", "0", "Off we go."},
      {"analyze", id},                     {"import", text(walk), "--no-analyze"},
      {"import", text(walk), text(home / "lane.mp4")}, {"delete", id}};
  for (const QStringList& change : changes) {
    const CliRun run = cli(change);
    EXPECT_EQ(run.exitCode, 1) << change.join(' ').toStdString() << ": " << run.err;
    EXPECT_THAT(run.err, AnyOf(HasSubstr("Read-only file system"), HasSubstr("Permission denied")))
        << change.join(' ').toStdString();
    EXPECT_THAT(run.out, IsEmpty()) << change.join(' ').toStdString();
  }
  EXPECT_EQ(snapshot(home / "data"), before);
}

TEST_F(CliSafetyTest, TwoProcessesChangingOneProjectAtOnceLoseNothing) {
  const Project project = stored("Walk", "2025-03-01T10:00:00Z", 2);
  const QString id = QString::fromStdString(project.id.text());
  const char* aspects[] = {"16:9", "9:16", "1:1", "4:5"};
  for (int trial = 0; trial < 40; ++trial) {
    const QString aspect = aspects[trial % 4];
    const QString volume = QString::number(10 + trial);
    auto first = start({"set", id, "aspect", aspect});
    auto second = start({"set", id, "music-volume", volume});
    ASSERT_EQ(finished(*first).exitCode, 0);
    ASSERT_EQ(finished(*second).exitCode, 0);
    const Project now = store.loadAll().at(0);
    ASSERT_EQ(now.aspectRatioRaw, aspect.toStdString()) << "trial " << trial;
    ASSERT_EQ(now.musicVolumePercent, 10 + trial) << "trial " << trial;
    ASSERT_EQ(now.editPlan->planRevision, project.editPlan->planRevision + 2 * (trial + 1))
        << "trial " << trial;
  }
}

TEST_F(CliSafetyTest, ASetDuringAnAnalysisSurvivesItAndADeleteSticks) {
  const Project project = analysedProject(video("walk.mp4", 4), 4);
  const QString id = QString::fromStdString(project.id.text());
  testing::FakeService service("BRISKLET_ANTHROPIC_BASE_URL");
  const auto answerSlowly = [&] {
    nlohmann::json answer = {{"running_summary", "A card, then bars."},
                             {"scenes", nlohmann::json::array()}};
    for (int index = 0; index < 2; ++index)
      answer["scenes"].push_back({{"scene_index", index}, {"description", "Shot"},
                                  {"activity", "testing"}, {"keep", true}, {"keep_reason", "good"},
                                  {"narration", ""}, {"narration_start_offset_sec", 1.0}});
    testing::ScriptedResponse slow = testing::modelAnswer(answer.dump());
    slow.delayMilliseconds = 1500;
    service.enqueue(slow);
    service.enqueue(testing::modelAnswer(R"({"notes":["Shorter."]})"));
  };
  const auto whileTheModelThinks = [&](const QStringList& change) {
    const size_t asked = service.requests().size();
    QElapsedTimer clock;
    clock.start();
    while (service.requests().size() == asked && clock.elapsed() < 60000) QThread::msleep(20);
    return cli(change);
  };
  QProcessEnvironment key;
  key.insert("ANTHROPIC_API_KEY", "test-key");

  answerSlowly();
  auto analysis = start({"analyze", id}, key);
  EXPECT_EQ(whileTheModelThinks({"set", id, "aspect", "1:1"}).exitCode, 0);
  const CliRun analysed = finished(*analysis);
  ASSERT_EQ(analysed.exitCode, 0) << analysed.err;
  const Project after = store.loadAll().at(0);
  EXPECT_EQ(after.aspectRatioRaw, "1:1") << "the change made meanwhile survives the analysis";
  EXPECT_EQ(after.editPlan->segments.at(0).sceneDescription, "Shot");
  EXPECT_EQ(after.editPlan->planRevision, project.editPlan->planRevision + 2);
  EXPECT_EQ(analysed.out, std::to_string(after.editPlan->planRevision) + "\n");

  answerSlowly();
  analysis = start({"analyze", id}, key);
  EXPECT_EQ(whileTheModelThinks({"delete", id}).exitCode, 0);
  const CliRun orphaned = finished(*analysis);
  EXPECT_EQ(orphaned.exitCode, 1);
  EXPECT_THAT(orphaned.err, HasSubstr("The project was deleted."));
  EXPECT_FALSE(std::filesystem::exists(store.projectDirectory(project.id)));
  EXPECT_TRUE(store.loadAll().empty());
}

TEST_F(CliSafetyTest, AnExportStoppedHalfwayLeavesTheMovieThereAsItWas) {
  // 8 s reframed to 1920 x 1080: a few seconds of work to stop halfway.
  Project project = analysedProject(video("walk.mp4", 8), 8);
  for (Segment& segment : project.editPlan->segments) segment.keep = true;
  project.aspectRatioRaw = "16:9";
  store.save(project);
  const QString id = QString::fromStdString(project.id.text());
  const auto movie = home / "out" / "Walk.mp4";
  std::filesystem::create_directories(movie.parent_path());
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=blue:s=64x48:d=1", movie.string()});
  const std::string good = readFile(movie);

  for (const int signal : {SIGKILL, SIGINT, SIGTERM}) {
    auto exporting = start({"export", id, "-o", text(movie)});
    std::string seen;
    ASSERT_TRUE(waitForProgress(*exporting, "Exporting", 50, seen)) << seen;
    ::kill(static_cast<pid_t>(exporting->processId()), signal);
    const CliRun stopped = finished(*exporting);
    EXPECT_EQ(readFile(movie), good) << strsignal(signal);
    if (signal != SIGKILL) {
      EXPECT_EQ(stopped.exitCode, 128 + signal);
      EXPECT_THAT(stopped.err, HasSubstr("Interrupted."));
      EXPECT_THAT(stopped.out, IsEmpty());
      EXPECT_THAT(entriesOf(home / "out"), ElementsAre("Walk.mp4")) << "it cleaned up itself";
    } else {
      EXPECT_EQ(entriesOf(home / "out").size(), 2u) << "a kill leaves its hidden temporary";
      EXPECT_EQ(cli({"list"}).exitCode, 0);
      EXPECT_THAT(entriesOf(home / "out"), ElementsAre("Walk.mp4")) << "the next start sweeps it";
    }
  }

  // Two exports to one place: the last to finish wins, and the file is one whole movie.
  ASSERT_EQ(cli({"set", id, "aspect", "original"}).exitCode, 0);
  auto first = start({"export", id, "-o", text(movie)});
  auto second = start({"export", id, "-o", text(movie)});
  EXPECT_EQ(finished(*first).exitCode, 0);
  EXPECT_EQ(finished(*second).exitCode, 0);
  EXPECT_NEAR(Asset::open(movie).durationSec(), project.editPlan->keptDurationSec(), 0.1);
  EXPECT_THAT(entriesOf(home / "out"), ElementsAre("Walk.mp4"));
}

TEST_F(CliSafetyTest, AMergeKilledHalfwayLeavesNothingAfterTheNextStart) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=320x180:r=30:d=20", (home / "a.mp4").string()});
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=160x120:r=30:d=20", (home / "b.mp4").string()});
  auto merging = start({"import", text(home / "a.mp4"), text(home / "b.mp4"), "--no-analyze"});
  std::string seen;
  ASSERT_TRUE(waitForProgress(*merging, "Merging 2 clips", 50, seen)) << seen;
  ::kill(static_cast<pid_t>(merging->processId()), SIGKILL);
  finished(*merging);
  ASSERT_FALSE(entriesOf(store.root()).empty()) << "the killed merge left its hidden folder";

  const CliRun list = cli({"list", "--json"});
  EXPECT_EQ(list.out, "[]\n");
  EXPECT_THAT(entriesOf(store.root()), IsEmpty());
}

TEST_F(CliSafetyTest, OddNamesAndMissingFoldersAreHandledPlainly) {
  const auto odd = video("--json.mp4", 2);
  const CliRun imported = cli({"import", "--no-analyze", "--", text(odd)});
  ASSERT_EQ(imported.exitCode, 0) << imported.err;

  Project project = store.loadAll().at(0);
  project.name = "Two\nlines";
  store.save(project);
  const CliRun list = cli({"list"});
  EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 2) << list.out;
  EXPECT_THAT(list.out, HasSubstr("Two lines"));

  project.editPlan = testing::samplePlan(1, 1);
  project.editPlan->segments[0].endSec = project.videoDurationSec;
  store.save(project);
  const CliRun exported = cli({"export", QString::fromStdString(project.id.text()), "-o",
                               text(home / "gone" / "out.mp4")});
  EXPECT_EQ(exported.exitCode, 1);
  EXPECT_EQ(exported.err, "Exporting\u2026 0%\nExport failed: The folder \u201C" +
                              (home / "gone").string() + "\u201D does not exist.\n");
}

}  // namespace
}  // namespace brisklet
