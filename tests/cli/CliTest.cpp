#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QProcess>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "cli/CliFixture.h"
#include "media/platform/Asset.h"
#include "model/ModelJson.h"
#include "model/ProjectStore.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "support/FakeService.h"
#include "support/MediaGenerator.h"
#include "support/ModelAnswers.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::writeText;

TEST_F(CliTest, ListJsonShowsExactlyTheValidProjects) {
  const Project valid = stored("Valid", "2025-03-01T10:00:00Z", 4);
  std::filesystem::create_directories(store.root() / "NO-RECORD");
  writeText(store.root() / "CORRUPT" / "project.json", "{\"id\": ");
  auto broken = nlohmann::json::parse(encodeProjectRecord(valid));
  broken["id"] = Uuid::random().text();
  broken["editPlan"]["segments"][0]["narration"]["status"] = "whispering";
  writeText(store.root() / "UNKNOWN-STATUS" / "project.json", broken.dump());
  broken["editPlan"]["segments"][0]["narration"]["status"] = "ready";
  broken["editPlan"].erase("planRevision");
  writeText(store.root() / "NO-REVISION" / "project.json", broken.dump());
  writeText(store.root() / "stray.json", "{}");

  const CliRun run = cli({"list", "--json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto listed = nlohmann::json::parse(run.out);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0]["id"], valid.id.text());
  EXPECT_EQ(listed[0]["name"], "Valid");
  EXPECT_EQ(listed[0]["createdAt"], "2025-03-01T10:00:00Z");
  EXPECT_EQ(listed[0]["videoDurationSec"], valid.videoDurationSec);
  EXPECT_EQ(listed[0]["analyzed"], true);
  EXPECT_EQ(listed[0]["segments"], 4);
  EXPECT_DOUBLE_EQ(listed[0]["keptDurationSec"].get<double>(), valid.editPlan->keptDurationSec());
}

TEST_F(CliTest, ListsNewestFirstAsJsonAndAsATable) {
  stored("Older", "2025-03-01T10:00:00Z");
  stored("Newer", "2025-03-09T10:00:00Z", 2);
  const CliRun json = cli({"list", "--json"});
  ASSERT_EQ(json.exitCode, 0);
  const auto listed = nlohmann::json::parse(json.out);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0]["name"], "Newer");
  EXPECT_EQ(listed[1]["name"], "Older");
  EXPECT_EQ(listed[1]["analyzed"], false);
  EXPECT_EQ(listed[1]["segments"], 0);

  const CliRun table = cli({"list"});
  ASSERT_EQ(table.exitCode, 0);
  EXPECT_LT(table.out.find("Newer"), table.out.find("Older"));
  EXPECT_THAT(table.out, HasSubstr("0:20")) << "Newer lasts 20 s";
  EXPECT_THAT(table.err, IsEmpty());
}

TEST_F(CliTest, ShowPrintsTheRecordAsStored) {
  const Project project = stored("Shown", "2025-03-01T10:00:00Z", 2);
  const CliRun run =
      cli({"show", QString::fromStdString(project.id.text().substr(0, 8)).toLower()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, readFile(store.projectDirectory(project.id) / "project.json"));
}

TEST_F(CliTest, DeleteRemovesTheProjectAndItsFolder) {
  const Project doomed = stored("Doomed", "2025-03-01T10:00:00Z", 2);
  const Project kept = stored("Kept", "2025-03-02T10:00:00Z");
  writeText(store.projectDirectory(doomed.id) / "narration" / "n.mp3", "mp3");
  const CliRun run = cli({"delete", QString::fromStdString(doomed.id.text())});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, IsEmpty());
  EXPECT_FALSE(std::filesystem::exists(store.projectDirectory(doomed.id)));
  EXPECT_THAT(store.loadAll(), ElementsAre(kept));
}

TEST_F(CliTest, FailuresAndUsageErrorsUseTheirExitCodes) {
  store.save(testing::sampleProjectWithId("A", "2025-03-01T10:00:00Z",
                                          "AB000000-0000-4000-8000-000000000001"));
  store.save(testing::sampleProjectWithId("B", "2025-03-02T10:00:00Z",
                                          "AB100000-0000-4000-8000-000000000002"));

  const std::vector<std::pair<QStringList, int>> cases = {
      {{"show", "FFFF"}, 1}, {{"delete", "AB"}, 1},  {{}, 2},
      {{"show"}, 2},         {{"list", "extra"}, 2}, {{"list", "--yaml"}, 2},
      {{"frobnicate"}, 2},   {{"export", "AB0"}, 2}, {{"delete", "AB0", "AB1"}, 2},
      {{"probe"}, 2},        {{"analyze"}, 2},
  };
  for (const auto& [arguments, expected] : cases) {
    const CliRun run = cli(arguments);
    EXPECT_EQ(run.exitCode, expected) << arguments.join(' ').toStdString();
    EXPECT_THAT(run.out, IsEmpty()) << "stdout carries only results";
    EXPECT_THAT(run.err, ::testing::Not(IsEmpty()));
  }
  EXPECT_THAT(cli({"delete", "AB"}).err, HasSubstr("matches 2 projects"));
  EXPECT_THAT(cli({"frobnicate"}).err, HasSubstr("\u201Cfrobnicate\u201D is not a command."));
  EXPECT_THAT(cli({"show"}).err, HasSubstr("usage: brisklet-cli show ID"));
  EXPECT_EQ(store.loadAll().size(), 2u) << "nothing was deleted by the failed calls";
}

TEST_F(CliTest, ProbeReportsDurationsAndDisplayedSizesOfRealClips) {
  SKIP_WITHOUT_SHARED_MEDIA();
  struct Expected {
    const char* name;
    int width, height, rotation;
    bool audio;
  };
  const std::vector<Expected> clips = {
      {"issue-134-rotate.mp4", 544, 1280, 90, true},
      {"issue-195-aspect-ratio.mp4", 1024, 576, 0, true},
      {"iphone_rotated.mov", 320, 568, 90, true},
      {"fire2.mp4", 1280, 720, 180, true},
      {"goldeneye-vfr-drop3.mp4", 1280, 544, 0, false},
      {"train.mov", 1440, 1080, 0, true},
      {"grid_swwp2s.mpg", 360, 288, 0, true},
      {"gopro_karma.mp4", 854, 480, 0, true},
      {"short_hamilton_clip.mp4", 640, 360, 0, true},
      {"counter.mp4", 1920, 1080, 0, false},
      {"testvideo.mp4", 1280, 720, 0, false},
      {"bottle-detection.mp4", 640, 360, 0, false},
  };
  for (const Expected& clip : clips) {
    SCOPED_TRACE(clip.name);
    const auto file = testing::sharedMedia(clip.name);
    const CliRun run = cli({"probe", QString::fromStdString(file.string()), "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto probe = nlohmann::json::parse(run.out);
    EXPECT_NEAR(probe["durationSec"].get<double>(), testing::ffprobeDurationSec(file), 0.05);
    EXPECT_EQ(probe["video"]["width"], clip.width);
    EXPECT_EQ(probe["video"]["height"], clip.height);
    EXPECT_EQ(probe["video"]["rotation"], clip.rotation);
    EXPECT_EQ(probe["audio"].is_null(), !clip.audio);
  }
}

TEST_F(CliTest, ProbeOfSomethingThatIsNotAVideoFailsNamingIt) {
  writeText(home / "letter.mp4", "Dear diary,");
  const CliRun run = cli({"probe", QString::fromStdString((home / "letter.mp4").string())});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.err, HasSubstr("\u201Cletter.mp4\u201D"));
  EXPECT_THAT(run.out, IsEmpty());

  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=d=1", (home / "tone.m4a").string()});
  const CliRun sound =
      cli({"probe", QString::fromStdString((home / "tone.m4a").string()), "--json"});
  ASSERT_EQ(sound.exitCode, 0) << sound.err;
  EXPECT_TRUE(nlohmann::json::parse(sound.out)["video"].is_null());
}

TEST_F(CliTest, AnalyzePrintsThePlanAndShowsProgressOnStderr) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=160x120:r=25:d=3", "-f", "lavfi", "-i",
                      "smptebars=s=160x120:r=25:d=3", "-filter_complex",
                      "[0:v][1:v]concat=n=2:v=1:a=0", (home / "two.mp4").string()});
  const CliRun run =
      cli({"analyze", QString::fromStdString((home / "two.mp4").string()), "--json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const EditPlan plan = decodeJson<EditPlan>(run.out);
  EXPECT_EQ(plan.planRevision, 1);
  ASSERT_EQ(plan.segments.size(), 2u);
  EXPECT_NEAR(plan.segments[1].startSec, 3.0, 0.5);
  // Not a terminal: one line per stage change or tenth.
  EXPECT_THAT(run.err, HasSubstr("Detecting scenes… 0%\n"));
  EXPECT_THAT(run.err, HasSubstr("Detecting scenes… 40%\n"));
  EXPECT_THAT(run.err, HasSubstr("Scoring visual quality… 50%\n"));
  EXPECT_THAT(run.err, HasSubstr("Analyzed on-device only. Add your Anthropic API key in Settings "
                                 "to get scene understanding and narration scripts.\n"));
  EXPECT_TRUE(store.loadAll().empty()) << "no project is made";

  const CliRun table = cli({"analyze", QString::fromStdString((home / "two.mp4").string())});
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_THAT(table.out, HasSubstr("2 scenes, 0:06 kept"));

  writeText(home / "broken.mp4", "not a movie");
  const CliRun broken = cli({"analyze", QString::fromStdString((home / "broken.mp4").string())});
  EXPECT_EQ(broken.exitCode, 1);
  EXPECT_THAT(broken.err, HasSubstr("\u201Cbroken.mp4\u201D"));
  EXPECT_THAT(broken.out, IsEmpty());
}

TEST_F(CliTest, AnalyzeUsesTheKeyGivenForTheRunAndNeverPrintsIt) {
  // 30 seconds in three shots.
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=160x120:r=25:d=10", "-f", "lavfi", "-i",
                      "smptebars=s=160x120:r=25:d=10", "-f", "lavfi", "-t", "10", "-i",
                      "mandelbrot=s=160x120:r=25", "-filter_complex",
                      "[0:v][1:v][2:v]concat=n=3:v=1:a=0", (home / "day.mp4").string()});
  testing::FakeService service("BRISKLET_ANTHROPIC_BASE_URL");
  nlohmann::json answer = {{"running_summary", "A card, bars and a fractal."},
                           {"scenes", nlohmann::json::array()}};
  for (int index = 0; index < 3; ++index)
    answer["scenes"].push_back({{"scene_index", index},
                                {"description", "Shot " + std::to_string(index)},
                                {"activity", "testing"},
                                {"keep", index != 1},
                                {"keep_reason", index != 1 ? "moves the story" : "dull bars"},
                                {"narration", index == 2 ? "Look at this fractal." : ""},
                                {"narration_start_offset_sec", 1.5}});
  service.enqueue(testing::modelAnswer(answer.dump()));
  service.enqueue(testing::modelAnswer(R"({"notes":["Add a second shot."]})"));
  QProcessEnvironment key;
  key.insert("ANTHROPIC_API_KEY", "run-only-key-0123456789");
  const CliRun run =
      cli({"analyze", QString::fromStdString((home / "day.mp4").string()), "--json"}, key);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const EditPlan plan = decodeJson<EditPlan>(run.out);
  ASSERT_EQ(plan.segments.size(), 3u);
  EXPECT_EQ(plan.segments[0].sceneDescription, "Shot 0");
  EXPECT_TRUE(plan.segments[0].keep);
  EXPECT_FALSE(plan.segments[1].keep);
  EXPECT_EQ(plan.segments[1].keepReason, "dull bars");
  ASSERT_TRUE(plan.segments[2].narration);
  EXPECT_EQ(plan.segments[2].narration->text, "Look at this fractal.");
  EXPECT_EQ(plan.segments[2].narration->startOffsetSec, 1.5);
  EXPECT_EQ(plan.runningSummary, "A card, bars and a fractal.");
  EXPECT_EQ(plan.editorSuggestions, std::vector<std::string>{"Add a second shot."});
  EXPECT_THAT(run.err, HasSubstr("Understanding scenes with Claude… 80%"));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("on-device only")));
  EXPECT_EQ(service.requests().at(0).headers.at("x-api-key"), "run-only-key-0123456789");
  EXPECT_THAT(run.out + run.err, ::testing::Not(HasSubstr("run-only-key")));

  // A failing service: the bare description, exit 1, nothing on stdout.
  service.enqueue({.status = 401, .body = R"({"error":{"message":"invalid x-api-key"}})"});
  const CliRun refused = cli({"analyze", QString::fromStdString((home / "day.mp4").string())}, key);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_THAT(refused.err, HasSubstr("Claude API error (401): invalid x-api-key\n"));
  EXPECT_THAT(refused.out, IsEmpty());
  EXPECT_THAT(refused.err, ::testing::Not(HasSubstr("run-only-key")));
}

TEST_F(CliTest, ImportMakesAProjectAndAnalysesItUnlessToldNot) {
  testing::runFfmpeg(
      {"-f", "lavfi", "-i", "testsrc2=s=160x120:r=25:d=3", (home / "Beach day.mp4").string()});
  const CliRun run = cli({"import", QString::fromStdString((home / "Beach day.mp4").string())});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<Project> projects = store.loadAll();
  ASSERT_EQ(projects.size(), 1u);
  EXPECT_EQ(run.out, projects[0].id.text() + "\n");
  EXPECT_EQ(projects[0].name, "Beach day");
  ASSERT_TRUE(projects[0].editPlan) << "analysed before the tool ended";
  EXPECT_EQ(projects[0].editPlan->planRevision, 1);
  EXPECT_THAT(run.err, HasSubstr("Detecting scenes… 0%"));
  EXPECT_THAT(run.err, HasSubstr("Analyzed on-device only."));

  const CliRun plain =
      cli({"import", QString::fromStdString((home / "Beach day.mp4").string()), "--no-analyze"});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  projects = store.loadAll();
  ASSERT_EQ(projects.size(), 2u);
  const auto imported = std::find_if(projects.begin(), projects.end(), [&](const Project& p) {
    return p.id.text() + "\n" == plain.out;
  });
  ASSERT_NE(imported, projects.end());
  EXPECT_FALSE(imported->editPlan);

  const CliRun missing = cli({"import", QString::fromStdString((home / "nowhere.mp4").string())});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_THAT(missing.err, HasSubstr("Could not import video: "));
  EXPECT_THAT(missing.out, IsEmpty());
  EXPECT_EQ(cli({"import"}).exitCode, 2);
  EXPECT_EQ(store.loadAll().size(), 2u);
}

TEST_F(CliTest, SetChangesTheOutputAndExportWritesIt) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=160x90:r=25:d=10", "-f", "lavfi", "-i",
                      "sine=f=300:d=10", (home / "walk.mp4").string()});
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=f=600:d=4", (home / "bed.wav").string()});
  Project project = makeProject("Walk", makeBookmark(home / "walk.mp4"), 10.0);
  project.editPlan = testing::samplePlan(4, 1);
  store.save(project);
  const QString id = QString::fromStdString(project.id.text().substr(0, 6));
  const auto set = [&](const QStringList& rest) { return cli(QStringList{"set", id} + rest); };

  for (const QStringList& change : {QStringList{"aspect", "9:16"},
                                    {"transition", "dipToBlack"},
                                    {"keep", "1", "yes"},
                                    {"crop", "2", "centre"},
                                    {"trim", "0", "0.5", "2.0"},
                                    {"narration", "0", "Off we go."},
                                    {"music", QString::fromStdString((home / "bed.wav").string())},
                                    {"music-volume", "40"}}) {
    const CliRun run = set(change);
    EXPECT_EQ(run.exitCode, 0) << change.join(' ').toStdString() << ": " << run.err;
    EXPECT_THAT(run.out, IsEmpty());
  }
  const Project changed = store.loadAll().at(0);
  EXPECT_EQ(changed.aspectRatioRaw, "9:16");
  EXPECT_EQ(changed.transitionStyleRaw, "dipToBlack");
  EXPECT_EQ(changed.musicFileName, ProjectStore::musicBedName(home / "bed.wav"));
  EXPECT_EQ(changed.musicVolumePercent, 40);
  EXPECT_TRUE(changed.editPlan->segments[1].keep);
  EXPECT_TRUE(changed.editPlan->segments[1].userOverrodeKeep);
  EXPECT_EQ(changed.editPlan->segments[0].startSec, 0.5);
  EXPECT_EQ(changed.editPlan->segments[0].narration->text, "Off we go.");
  EXPECT_TRUE(changed.editPlan->segments[2].centredCrop);
  EXPECT_EQ(changed.editPlan->planRevision, 9);

  // The window's trim rule refuses, in one sentence, and stores nothing.
  const std::string record = readFile(store.projectDirectory(project.id) / "project.json");
  for (const auto& [trim, said] : {std::pair{QStringList{"trim", "0", "0", "8"},
                                             "Trim refused: segment 0 would overlap segment 1."},
                                   {QStringList{"trim", "0", "1", "1.2"},
                                    "Trim refused: segment 0 would be shorter than 0.5 s."},
                                   {QStringList{"trim", "0", "3", "2"},
                                    "Trim refused: segment 0 must start before it ends."}}) {
    const CliRun refused = set(trim);
    EXPECT_EQ(refused.exitCode, 1) << trim.join(' ').toStdString();
    EXPECT_EQ(refused.err, std::string(said) + "\n");
  }
  EXPECT_EQ(readFile(store.projectDirectory(project.id) / "project.json"), record);
  EXPECT_EQ(set({"keep", "9", "yes"}).exitCode, 1);
  EXPECT_EQ(set({"aspect", "3:2"}).exitCode, 2);
  EXPECT_EQ(set({"crop", "2", "left"}).exitCode, 2);
  EXPECT_EQ(set({"colour", "red"}).exitCode, 2);

  const CliRun exported =
      cli({"export", id, "-o", QString::fromStdString((home / "out.mp4").string())});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_EQ(exported.out, (home / "out.mp4").string() + "\n");
  EXPECT_THAT(exported.err, HasSubstr("Exporting\u2026"));
  EXPECT_EQ(Asset::open(home / "out.mp4").firstVideoTrack().displayHeight(), 1920);
  EXPECT_EQ(cli({"export", id}).exitCode, 2);
}

TEST_F(CliTest, SetNarrationFollowsTheInspectorsCommitRule) {
  Project project = stored("Lines", "2025-03-01T10:00:00Z", 2);
  project.editPlan->segments[0].narration.reset();
  project.editPlan->segments[1].narration =
      NarrationClip{"Hello.", false, "n.mp3", 1.25, 1.0, NarrationStatus::ready};
  store.save(project);
  const QString id = QString::fromStdString(project.id.text());
  const auto record = [&] { return readFile(store.projectDirectory(project.id) / "project.json"); };

  const std::string before = record();
  ASSERT_EQ(cli({"set", id, "narration", "0", ""}).exitCode, 0);
  ASSERT_EQ(cli({"set", id, "narration", "1", "Hello."}).exitCode, 0);
  EXPECT_EQ(record(), before) << "empty text on a bare segment and an unchanged line store nothing";

  ASSERT_EQ(cli({"set", id, "narration", "0", "Off we go."}).exitCode, 0);
  ASSERT_EQ(cli({"set", id, "narration", "1", "Hello again."}).exitCode, 0);
  ASSERT_EQ(cli({"set", id, "narration", "1", "Hello again."}).exitCode, 0);
  const EditPlan plan = *store.loadAll().at(0).editPlan;
  EXPECT_EQ(plan.segments[0].narration,
            (NarrationClip{"Off we go.", true, std::nullopt, 0.5, std::nullopt,
                           NarrationStatus::pendingAudio}));
  EXPECT_EQ(plan.segments[1].narration,
            (NarrationClip{"Hello again.", true, "n.mp3", 1.25, 1.0, NarrationStatus::stale,
                           "Hello."}))
      << "the clip still speaks the old words";
  EXPECT_EQ(plan.planRevision, project.editPlan->planRevision + 2);
}

TEST_F(CliTest, StillWritesThePictureThePreviewShowsOnEitherAxis) {
  const auto video = testing::makeClockVideo(home / "clock.mp4", 4.0);
  Project project = makeProject("Clock", makeBookmark(video), 4.0);
  project.editPlan = EditPlan{
      .segments = {testing::segment(0, 1), testing::segment(1, 2, false), testing::segment(2, 4)}};
  project.editPlan->segments[2].removedPauses = {{3.0, 3.5}};
  store.save(project);
  const QString id = QString::fromStdString(project.id.text());
  const auto still = home / "still.png";
  const auto momentShown = [&](const QStringList& arguments) {
    const CliRun run = cli(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, still.string() + "\n");
    const cv::Mat image = cv::imread(still.string());
    EXPECT_EQ(image.cols, 64);
    return image.empty() ? -1.0 : testing::clockTimeOf(image);
  };
  const QString path = QString::fromStdString(still.string());
  EXPECT_NEAR(momentShown({"still", id, "1.5", "-o", path}), 2.5, 0.04)
      << "output 1.5 is source 2.5";
  EXPECT_NEAR(momentShown({"still", id, "1.2", "-o", path, "--source"}), 2.0, 0.04)
      << "a dropped moment shows the next kept one";
  EXPECT_NEAR(momentShown({"still", id, "2.2", "-o", path}), 3.7, 0.04)
      << "the output axis skips a removed pause";
  const CliRun removed = cli({"still", id, "3.2", "-o", path, "--source"});
  EXPECT_EQ(removed.exitCode, 1);
  EXPECT_EQ(removed.err,
            "Still failed: Source time 3.20 s is in a pause Tighten removed (3.00\u20133.50 s).\n");
  const CliRun refused = cli({"still", id, "1", "-o", QString::fromStdString(video.string())});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.err, "Still failed: \u201Cclock.mp4\u201D is this project's source video.\n");
}

TEST_F(CliTest, ImportOfSeveralClipsMergesThem) {
  for (const char* name : {"morning.mp4", "noon.mp4"})
    testing::runFfmpeg(
        {"-f", "lavfi", "-i", "testsrc2=s=96x54:r=25:d=1", "-metadata",
         std::string("creation_time=2024-05-01T") + (name[0] == 'm' ? "08" : "12") + ":00:00Z",
         (home / name).string()});
  const CliRun run = cli({"import", QString::fromStdString((home / "noon.mp4").string()),
                          QString::fromStdString((home / "morning.mp4").string()), "--no-analyze"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<Project> projects = store.loadAll();
  ASSERT_EQ(projects.size(), 1u);
  EXPECT_EQ(run.out, projects[0].id.text() + "\n");
  EXPECT_EQ(projects[0].name, "morning + 1 more");
  EXPECT_NEAR(projects[0].videoDurationSec, 2.0, 0.05);

  testing::writeText(home / "notes.mp4", "not a movie at all");
  const CliRun broken = cli({"import", QString::fromStdString((home / "noon.mp4").string()),
                             QString::fromStdString((home / "notes.mp4").string())});
  EXPECT_EQ(broken.exitCode, 1);
  EXPECT_THAT(broken.err, HasSubstr("Could not merge clips: "));
  EXPECT_THAT(broken.err, HasSubstr("notes.mp4"));
  EXPECT_EQ(store.loadAll().size(), 1u);
}

}  // namespace
}  // namespace brisklet
