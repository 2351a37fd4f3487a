#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "analysis/AnalysisPipeline.h"
#include "analysis/anthropic/AnthropicClient.h"
#include "media/platform/MediaError.h"
#include "platform/AtomicFile.h"
#include "platform/Cancellation.h"
#include "support/FakeService.h"
#include "support/MediaGenerator.h"
#include "support/ModelAnswers.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::HasSubstr;

// Three 4-second shots at 25 fps: a test card, a flat colour (nothing sharp in it), colour bars.
std::filesystem::path threeShots(const std::filesystem::path& file) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=160x120:r=25:d=4", "-f", "lavfi", "-i",
                      "color=c=0x336699:s=160x120:r=25:d=4", "-f", "lavfi", "-i",
                      "smptebars=s=160x120:r=25:d=4", "-filter_complex",
                      "[0:v][1:v][2:v]concat=n=3:v=1:a=0", "-c:v", "libx264", "-g", "50",
                      file.string()});
  return file;
}

struct Recorder {
  std::vector<PipelineProgress> reports;
  AnalysisPipeline::ProgressHandler handler() {
    return [this](const PipelineProgress& progress) { reports.push_back(progress); };
  }
};

TEST(AnalysisPipeline, FindsTheShotsScoresThemAndKeepsTheirKeyframes) {
  testing::TemporaryFolder folder;
  const auto video = threeShots(folder / "three.mp4");
  Recorder recorder;
  const auto analysis = AnalysisPipeline::analyzeOnDevice(video, recorder.handler(), {});

  ASSERT_EQ(analysis.segments.size(), 3u);
  EXPECT_EQ(analysis.segments[0].startSec, 0.0);
  EXPECT_NEAR(analysis.segments[1].startSec, 4.0, 0.5);
  EXPECT_NEAR(analysis.segments[2].startSec, 8.0, 0.5);
  EXPECT_NEAR(analysis.segments[2].endSec, 12.0, 0.05);

  EXPECT_TRUE(analysis.segments[0].keep);
  EXPECT_FALSE(analysis.segments[1].keep);
  EXPECT_EQ(analysis.segments[1].keepReason, "Too blurry to use");
  EXPECT_TRUE(analysis.segments[2].keep);
  for (const Segment& segment : analysis.segments) {
    ASSERT_TRUE(segment.quality);
    const auto& jpegs = analysis.keyframeJpegs.at(segment.id);
    ASSERT_EQ(jpegs.size(), 3u);
    for (const std::string& jpeg : jpegs) {
      const cv::Mat image = cv::imdecode(
          cv::Mat(1, static_cast<int>(jpeg.size()), CV_8U, const_cast<char*>(jpeg.data())),
          cv::IMREAD_COLOR);
      EXPECT_EQ(image.size(), cv::Size(160, 120));  // small sources are never enlarged
    }
  }

  ASSERT_FALSE(recorder.reports.empty());
  EXPECT_EQ(recorder.reports.front(), (PipelineProgress{"Detecting scenes…", 0.0}));
  for (size_t index = 1; index < recorder.reports.size(); ++index)
    EXPECT_GE(recorder.reports[index].fraction, recorder.reports[index - 1].fraction);
  std::vector<PipelineProgress> scoring;
  for (const auto& report : recorder.reports)
    if (report.stageName == "Scoring visual quality…") scoring.push_back(report);
  ASSERT_EQ(scoring.size(), 3u);
  EXPECT_DOUBLE_EQ(scoring[0].fraction, 0.5);
  EXPECT_DOUBLE_EQ(scoring[1].fraction, 0.6);
  EXPECT_DOUBLE_EQ(scoring[2].fraction, 0.7);
  EXPECT_LT(recorder.reports.back().fraction, 0.8);
}

TEST(AnalysisPipeline, BarsAroundThePictureDoNotCountAgainstIt) {
  testing::TemporaryFolder folder;
  const std::string scene = "testsrc2=s=480x270:r=30:d=3";
  const std::pair<const char*, const char*> copies[] = {
      {"plain.mp4", "null"},
      {"letterboxed.mp4", "pad=480:400:0:65:black"},
      {"pillarboxed.mp4", "pad=720:270:120:0:black"}};
  std::vector<QualityScores> scores;
  for (const auto& [name, framing] : copies) {
    testing::runFfmpeg({"-f", "lavfi", "-i", scene, "-vf", framing, "-c:v", "libx264", "-crf", "18",
                        (folder / name).string()});
    const auto analysis = AnalysisPipeline::analyzeOnDevice(folder / name, [](const auto&) {}, {});
    ASSERT_EQ(analysis.segments.size(), 1u) << name;
    scores.push_back(analysis.segments[0].quality.value());
  }
  for (size_t copy = 1; copy < scores.size(); ++copy) {
    EXPECT_NEAR(scores[copy].blur, scores[0].blur, 0.05) << copies[copy].first;
    EXPECT_NEAR(scores[copy].exposure, scores[0].exposure, 0.05) << copies[copy].first;
    EXPECT_NEAR(scores[copy].shake, scores[0].shake, 0.05) << copies[copy].first;
    EXPECT_NEAR(scores[copy].aesthetics, scores[0].aesthetics, 0.05) << copies[copy].first;
    EXPECT_NEAR(scores[copy].composite, scores[0].composite, 0.05) << copies[copy].first;
    EXPECT_EQ(scores[copy].isUtility, scores[0].isUtility) << copies[copy].first;
  }
  EXPECT_GT(scores[0].exposure, 0.8) << "a well exposed picture to start from";
}

// A phone's HLG recording of a dim scene is judged as the same scene filmed in SDR: its pictures
// are tone-mapped before they are scored.
TEST(AnalysisPipeline, AnHlgClipScoresTheExposureOfTheSamePictureInSdr) {
  testing::TemporaryFolder folder;
  const auto sdr = folder / "sdr.mp4";
  testing::runFfmpeg({"-f", "lavfi", "-i", "color=c=0x2c2c2c:s=480x270:r=30:d=3", "-vf",
                      "noise=alls=40:allf=t", "-c:v", "libx264", "-crf", "10", sdr.string()});
  const auto hlg = testing::makeHighDynamicRangeVideo(sdr, "arib-std-b67", folder / "hlg.mp4");
  std::vector<double> exposures;
  for (const auto& file : {sdr, hlg}) {
    const auto analysis = AnalysisPipeline::analyzeOnDevice(file, [](const auto&) {}, {});
    ASSERT_EQ(analysis.segments.size(), 1u) << file;
    exposures.push_back(analysis.segments[0].quality.value().exposure);
  }
  EXPECT_LT(exposures[0], 0.95) << "a dim scene, whose exposure counts";
  EXPECT_NEAR(exposures[1], exposures[0], 0.1);
}

TEST(AnalysisPipeline, ALongerVideoDecodedInPiecesSideBySideMissesNoCutAtTheSeams) {
  // Eight shots, 48 s: enough samples and scenes for the work to be shared out in pieces (on a
  // machine with more than one core). The cut at 23.75 s falls between the samples at 23.5 s and
  // 24 s, where two pieces of the sampling meet.
  testing::TemporaryFolder folder;
  const std::vector<double> cuts = {6, 12, 18, 23.75, 30, 36, 42};
  const char* const sources[] = {"testsrc2", "smptebars", "rgbtestsrc"};
  std::vector<std::string> arguments;
  std::string graph;
  double start = 0;
  for (size_t shot = 0; shot <= cuts.size(); ++shot) {
    const double end = shot < cuts.size() ? cuts[shot] : 48.0;
    arguments.insert(arguments.end(), {"-f", "lavfi", "-i",
                                       std::string(sources[shot % 3]) +
                                           "=s=96x72:r=25:d=" + std::to_string(end - start)});
    graph += "[" + std::to_string(shot) + ":v]";
    start = end;
  }
  graph += "concat=n=" + std::to_string(cuts.size() + 1) + ":v=1:a=0";
  const auto video = folder / "eight.mp4";
  arguments.insert(arguments.end(), {"-filter_complex", graph, "-c:v", "libx264", "-preset",
                                     "ultrafast", "-g", "50", video.string()});
  testing::runFfmpeg(arguments);

  Recorder recorder;
  const auto analysis = AnalysisPipeline::analyzeOnDevice(video, recorder.handler(), {});
  ASSERT_EQ(analysis.segments.size(), cuts.size() + 1);
  for (size_t index = 0; index < cuts.size(); ++index)
    EXPECT_NEAR(analysis.segments[index + 1].startSec, cuts[index], 0.5) << "cut " << index;
  for (const Segment& segment : analysis.segments)
    EXPECT_EQ(analysis.keyframeJpegs.at(segment.id).size(), 3u);

  std::vector<double> scoring;
  for (size_t index = 0; index < recorder.reports.size(); ++index) {
    if (index > 0) {
      EXPECT_GE(recorder.reports[index].fraction, recorder.reports[index - 1].fraction);
    }
    if (recorder.reports[index].stageName == "Scoring visual quality…")
      scoring.push_back(recorder.reports[index].fraction);
  }
  ASSERT_EQ(scoring.size(), 8u);
  EXPECT_DOUBLE_EQ(scoring.back(), 0.5 + 0.3 * 7 / 8);
}

TEST(AnalysisPipeline, WithAKeyTheModelReadsTheScenesAndWritesNotes) {
  testing::TemporaryFolder folder;
  const auto video = threeShots(folder / "three.mp4");
  testing::FakeService service("BRISKLET_ANTHROPIC_BASE_URL");
  service.enqueue(testing::modelAnswer(testing::sceneAnswers(3)));
  service.enqueue(testing::modelAnswer(R"({"notes":["Open on the bars.","Film an ending."]})"));
  Recorder recorder;
  const EditPlan plan =
      AnalysisPipeline::run(video, "key", "claude-fable-5", recorder.handler(), {});

  ASSERT_EQ(plan.segments.size(), 3u);
  EXPECT_EQ(plan.planRevision, 1);
  EXPECT_EQ(plan.runningSummary, "A test card, a wall, the bars.");
  EXPECT_EQ(plan.editorSuggestions,
            (std::vector<std::string>{"Open on the bars.", "Film an ending."}));
  EXPECT_EQ(plan.segments[0].sceneDescription, "Scene 0");
  ASSERT_TRUE(plan.segments[0].narration);
  EXPECT_EQ(plan.segments[0].narration->text, "Here we go.");
  EXPECT_FALSE(plan.segments[1].keep) << "the model cannot keep a scene too blurred to use";
  EXPECT_EQ(plan.segments[1].keepReason, "Too blurry to use");
  EXPECT_TRUE(plan.segments[2].keep);

  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 2u);
  const auto scenesBody = nlohmann::json::parse(requests[0].body);
  EXPECT_EQ(scenesBody["model"], "claude-fable-5");
  int pictures = 0;
  for (const auto& block : scenesBody["messages"][0]["content"])
    pictures += block["type"] == "image";
  EXPECT_EQ(pictures, 9) << "three keyframes of each scene";
  EXPECT_THAT(nlohmann::json::parse(requests[1].body)["messages"][0]["content"].get<std::string>(),
              HasSubstr("Scene 0 [0.0"));

  std::vector<std::string> stages;
  for (const auto& report : recorder.reports)
    if (stages.empty() || stages.back() != report.stageName) stages.push_back(report.stageName);
  EXPECT_THAT(stages, ::testing::ElementsAre("Detecting scenes…", "Scoring visual quality…",
                                             "Understanding scenes with Claude…",
                                             "Writing director's notes…"));
  EXPECT_EQ(recorder.reports.back().fraction, 0.98);
}

TEST(AnalysisPipeline, NotesAreABonusButARefusedVideoFails) {
  testing::TemporaryFolder folder;
  const auto video = threeShots(folder / "three.mp4");
  testing::FakeService service("BRISKLET_ANTHROPIC_BASE_URL");
  service.enqueue(testing::modelAnswer(testing::sceneAnswers(3)));
  service.enqueue({.status = 400, .body = R"({"error":{"message":"bad request"}})"});
  const EditPlan plan = AnalysisPipeline::run(video, "key", "m", [](const auto&) {}, {});
  EXPECT_FALSE(plan.editorSuggestions);

  // Notes the model declines to write are an empty list, not a missing one.
  service.enqueue(testing::modelAnswer(testing::sceneAnswers(3)));
  service.enqueue(testing::modelStopped("refusal"));
  const EditPlan declined = AnalysisPipeline::run(video, "key", "m", [](const auto&) {}, {});
  EXPECT_EQ(declined.editorSuggestions, std::vector<std::string>{});
  EXPECT_EQ(plan.segments[2].sceneDescription, "Scene 2");

  // Answers for scenes that do not exist describe nothing: no notes are asked for.
  service.enqueue(testing::modelAnswer(R"({"running_summary":"?","scenes":[{"scene_index":9,
      "description":"Ghost","activity":"none","keep":true,"keep_reason":"","narration":"",
      "narration_start_offset_sec":0}]})"));
  const size_t before = service.requests().size();
  const EditPlan ghostly = AnalysisPipeline::run(video, "key", "m", [](const auto&) {}, {});
  EXPECT_EQ(service.requests().size(), before + 1);
  EXPECT_FALSE(ghostly.editorSuggestions);

  service.enqueue(testing::modelStopped("refusal"));
  try {
    AnalysisPipeline::run(video, "key", "m", [](const auto&) {}, {});
    ADD_FAILURE() << "a refused video gave a plan";
  } catch (const AnthropicAPIError& error) {
    EXPECT_STREQ(error.what(), "Claude API error (200): Claude declined to analyze this video.");
  }
}

TEST(AnalysisPipeline, CancellingDuringScoringEndsWithoutAPlan) {
  testing::TemporaryFolder folder;
  const auto video = threeShots(folder / "three.mp4");
  std::stop_source stop;
  int scoringReports = 0;
  EXPECT_THROW(AnalysisPipeline::run(
                   video, std::nullopt, "",
                   [&](const PipelineProgress& progress) {
                     if (progress.stageName == "Scoring visual quality…") {
                       ++scoringReports;
                       stop.request_stop();
                     }
                   },
                   stop.get_token()),
               Cancelled);
  EXPECT_EQ(scoringReports, 1);  // noticed before the next scene

  std::stop_source early;
  early.request_stop();
  EXPECT_THROW(AnalysisPipeline::run(
                   video, std::nullopt, "", [](const auto&) {}, early.get_token()),
               Cancelled);
}

TEST(AnalysisPipeline, UnreadableSourcesFailWithASentenceNamingThem) {
  testing::TemporaryFolder folder;
  const auto video = threeShots(folder / "three.mp4");
  const std::string bytes = readFile(video);
  testing::writeText(folder / "truncated.mp4", bytes.substr(0, bytes.size() / 2));
  std::string noise(20000, '\0');
  for (size_t index = 0; index < noise.size(); ++index)
    noise[index] = static_cast<char>((index * 7919 + 13) % 251);
  testing::writeText(folder / "noise.mp4", noise);
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=d=2", (folder / "sound.m4a").string()});

  for (const char* name : {"truncated.mp4", "noise.mp4", "sound.m4a", "missing.mp4"}) {
    try {
      AnalysisPipeline::run(folder / name, std::nullopt, "", [](const auto&) {}, {});
      ADD_FAILURE() << name << " was analysed";
    } catch (const MediaError& error) {
      EXPECT_THAT(error.what(), HasSubstr(name));
    }
  }

  // Its index up front, a quarter of it lost: what is there is analysed.
  testing::runFfmpeg({"-i", video.string(), "-c", "copy", "-movflags", "+faststart",
                      (folder / "indexed.mp4").string()});
  const std::string indexed = readFile(folder / "indexed.mp4");
  testing::writeText(folder / "half.mp4", indexed.substr(0, indexed.size() * 3 / 4));
  const EditPlan plan =
      AnalysisPipeline::run(folder / "half.mp4", std::nullopt, "", [](const auto&) {}, {});
  EXPECT_FALSE(plan.segments.empty());
}

TEST(AnalysisPipeline, ASourceWithoutLengthFailsBeforeAnyStage) {
  testing::TemporaryFolder folder;
  // A still picture opens as a video of one frame and no duration.
  testing::runFfmpeg(
      {"-f", "lavfi", "-i", "color=s=64x48", "-frames:v", "1", (folder / "still.png").string()});
  Recorder recorder;
  try {
    AnalysisPipeline::run(folder / "still.png", std::nullopt, "", recorder.handler(), {});
    ADD_FAILURE() << "a still was analysed";
  } catch (const AnalysisPipelineError& error) {
    EXPECT_STREQ(error.what(), "The source video could not be opened.");
    EXPECT_EQ(error.which(), AnalysisPipelineError::Case::cannotOpenVideo);
  }
  EXPECT_TRUE(recorder.reports.empty());
}

TEST(AnalysisPipeline, RealFootageIsCutWhereItsShotsChange) {
  SKIP_WITHOUT_SHARED_MEDIA();
  const auto rotated = AnalysisPipeline::run(testing::sharedMedia("issue-134-rotate.mp4"),
                                             std::nullopt, "", [](const auto&) {}, {});
  // Cuts at 3.75 s and 8.76 s; the piece after the second is too short to stand alone.
  ASSERT_EQ(rotated.segments.size(), 2u);
  EXPECT_NEAR(rotated.segments[1].startSec, 3.75, 0.5);
  EXPECT_NEAR(rotated.segments[1].endSec, 10.0, 0.1);

  const auto drone = AnalysisPipeline::run(testing::sharedMedia("gopro_karma.mp4"), std::nullopt,
                                           "", [](const auto&) {}, {});
  EXPECT_EQ(drone.segments.size(), 1u);
}

}  // namespace
}  // namespace brisklet
