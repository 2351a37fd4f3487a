#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "model/ModelJson.h"
#include "platform/AtomicFile.h"
#include "support/Projects.h"

namespace brisklet {
namespace {

using json = nlohmann::json;

Uuid uuid(const char* text) { return *Uuid::parse(text); }

Project minimalProject() {
  Project project;
  project.id = uuid("3f2504e0-4f89-11d3-9a0c-0305e82c3301");
  project.name = "Harbour walk";
  project.videoBookmark = ByteString{'b', 'o', 'o', 'k', 'm', 'a', 'r', 'k'};
  project.videoDurationSec = 125.5;
  project.createdAt = testing::at("2025-01-31T09:15:00Z");
  return project;
}

Project fullProject() {
  Project project = minimalProject();
  Segment first;
  first.id = uuid("9B2D6B0E-7C1A-4E55-9D3B-2F7A1C0E8D41");
  first.startSec = 0;
  first.endSec = 4.25;
  first.keep = true;
  first.quality = QualityScores{0.875, 1.0, 0.5, -0.25, 0.625, false};
  first.sceneDescription = "Fishing boats tied up at the pier.";
  first.activity = "walking";
  first.keepReason = "Sets the scene.";
  first.facePath = {{1.0, 0.5, 0.25, 0.125, 0.25}, {1.5, 0.625, 0.25, 0.125, 0.25}};
  first.removedPauses = {{1.25, 2.0}, {3.0, 3.5}};
  first.narration =
      NarrationClip{.text = "Morning at the harbour.",
                    .userEditedText = false,
                    .audioFileName = "narration_9B2D6B0E-7C1A-4E55-9D3B-2F7A1C0E8D41_1f2e.mp3",
                    .startOffsetSec = 0.5,
                    .durationSec = 2.5,
                    .status = NarrationStatus::ready};
  Segment second;
  second.id = uuid("C8E4F1A2-3B5D-4C6E-8F70-91A2B3C4D5E6");
  second.startSec = 4.25;
  second.endSec = 12;
  second.keep = false;
  second.userOverrodeKeep = true;
  second.centredCrop = true;
  second.narration = NarrationClip{.text = "Then the bus, finally.",
                                   .userEditedText = true,
                                   .audioFileName = "narration_C8E4F1A2-3B5D-4C6E-8F70-91A2B3C4D5E6_0a1b.mp3",
                                   .startOffsetSec = 1,
                                   .durationSec = 1.75,
                                   .status = NarrationStatus::stale,
                                   .spokenText = "Then the bus."};
  project.editPlan =
      EditPlan{.segments = {first, second},
               .runningSummary = "I walked to the harbour at dawn.",
               .editorSuggestions =
                   std::vector<std::string>{"Open on the harbour.", "Cut the bus ride short."},
               .planRevision = 3};
  project.denoisedAudioFileName = "enhanced_cc_g150.m4a";
  project.audioCrystalClear = true;
  project.audioGainPercent = 150;
  project.aspectRatioRaw = "9:16";
  project.transitionStyleRaw = "dipToBlack";
  project.musicFileName = "music.mp3";
  project.musicVolumePercent = 30;
  project.loudnessRaw = "-16";
  return project;
}

std::string golden(const char* name) {
  return readFile(std::filesystem::path(BRISKLET_GOLDEN_DIR) / name);
}

TEST(ProjectRecord, IsWrittenExactlyAsTheGoldenFiles) {
  EXPECT_EQ(encodeProjectRecord(fullProject()), golden("full-project.json"));
  EXPECT_EQ(encodeProjectRecord(minimalProject()), golden("minimal-project.json"));
}

TEST(ProjectRecord, GoldenFilesDecodeToTheProjectsTheyWereWrittenFrom) {
  EXPECT_EQ(decodeProjectRecord(golden("full-project.json")), fullProject());
  EXPECT_EQ(decodeProjectRecord(golden("minimal-project.json")), minimalProject());
}

TEST(ProjectRecord, AbsentSettingsReadAsTheirDefaults) {
  const Project project = decodeProjectRecord(golden("minimal-project.json"));
  EXPECT_EQ(musicVolumePercent(project), 25);
  EXPECT_DOUBLE_EQ(musicVolumeFraction(project), 0.25);
  EXPECT_EQ(aspectRatio(project), AspectRatio::original);
  EXPECT_EQ(transitionStyle(project), TransitionStyle::none);
  EXPECT_EQ(audioGainPercent(project), 100);
  EXPECT_FALSE(audioCrystalClear(project));
  EXPECT_EQ(loudnessTarget(project), LoudnessTarget::streaming);

  const Project full = decodeProjectRecord(golden("full-project.json"));
  EXPECT_DOUBLE_EQ(musicVolumeFraction(full), 0.30);
  EXPECT_EQ(aspectRatio(full), AspectRatio::vertical);
  EXPECT_EQ(transitionStyle(full), TransitionStyle::dipToBlack);
  EXPECT_EQ(loudnessTarget(full), LoudnessTarget::podcast);
  EXPECT_EQ(targetLufs(loudnessTarget(full)), -16.0);
  EXPECT_EQ(spokenWords(*full.editPlan->segments[0].narration), "Morning at the harbour.");
  EXPECT_EQ(spokenWords(*full.editPlan->segments[1].narration), "Then the bus.");

  // Records from before crops followed faces and pauses were removed: every segment is cropped
  // at the centre and shown whole.
  json older = json::parse(golden("full-project.json"));
  for (json& segment : older["editPlan"]["segments"]) {
    segment.erase("facePath");
    segment.erase("centredCrop");
    segment.erase("removedPauses");
  }
  const Project olderProject = decodeProjectRecord(older.dump());
  for (const Segment& segment : olderProject.editPlan->segments) {
    EXPECT_TRUE(segment.facePath.empty());
    EXPECT_FALSE(segment.centredCrop);
    EXPECT_TRUE(segment.removedPauses.empty());
  }
}

TEST(ProjectRecord, FileNamesThatLeaveTheirFolderReadAsAbsent) {
  const json good = json::parse(golden("full-project.json"));
  const std::vector<std::string> unsafe = {
      "", ".", "..", "../../.ssh/id_rsa", "/etc/passwd", "narration/../../x", "sub/music.mp3"};
  for (const std::string& name : unsafe) {
    json record = good;
    record["denoisedAudioFileName"] = name;
    record["musicFileName"] = name;
    record["editPlan"]["segments"][0]["narration"]["audioFileName"] = name;
    const Project project = decodeProjectRecord(record.dump());
    EXPECT_FALSE(project.denoisedAudioFileName.has_value()) << name;
    EXPECT_FALSE(project.musicFileName.has_value()) << name;
    EXPECT_FALSE(project.editPlan->segments[0].narration->audioFileName.has_value()) << name;
    // The rest of the record is intact.
    EXPECT_EQ(project.editPlan->segments[0].narration->text, "Morning at the harbour.");
  }
}

TEST(ProjectRecord, MalformedRecordsFailWithoutCrashing) {
  const std::string deeplyNested = std::string(200000, '[') + std::string(200000, ']');
  const std::vector<std::string> malformed = {
      "",
      "null",
      "[]",
      "{",
      "{\"id\": 1}",
      deeplyNested,
      R"({"schemaVersion":1,"id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301","name":"x",
          "videoBookmark":"not base64!","videoDurationSec":1,"createdAt":"2025-01-31T09:15:00Z"})",
      R"({"schemaVersion":1,"id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301","name":"x",
          "videoBookmark":"","videoDurationSec":1,"createdAt":"yesterday"})",
      R"({"schemaVersion":1,"id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301","name":"x",
          "videoBookmark":"","videoDurationSec":1,"createdAt":"2025-01-31T09:15:00Z",
          "editPlan":{"segments":[],"runningSummary":""}})",
  };
  for (const std::string& text : malformed)
    EXPECT_THROW(decodeProjectRecord(text), RecordError) << text.substr(0, 60);
}

TEST(ProjectRecord, FractionalSecondsAreReadAndWholeSecondsWritten) {
  json record = json::parse(golden("minimal-project.json"));
  record["createdAt"] = "2025-01-31T09:15:00.750Z";
  const Project project = decodeProjectRecord(record.dump());
  EXPECT_EQ(project.createdAt,
            testing::at("2025-01-31T09:15:00Z") + std::chrono::milliseconds(750));
  EXPECT_EQ(encodeProjectRecord(project), golden("minimal-project.json"));
}

}  // namespace
}  // namespace brisklet
