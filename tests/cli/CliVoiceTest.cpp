#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/CliFixture.h"
#include "model/AppSettings.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "support/FakeService.h"
#include "support/MediaGenerator.h"
#include "support/MovieSound.h"

namespace brisklet {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr const char* kKey = "el-key-SENTINEL-cli9";
constexpr double kFrameSec = 1.0 / 30;

struct Cue {
  double startSec;
  double endSec;
  std::string text;
};

std::vector<Cue> cuesOf(const std::string& subRip) {
  std::vector<Cue> cues;
  std::istringstream lines(subRip);
  std::string number, times, text, blank;
  while (std::getline(lines, number) && std::getline(lines, times) && std::getline(lines, text)) {
    std::getline(lines, blank);
    int h1, m1, s1, ms1, h2, m2, s2, ms2;
    EXPECT_EQ(std::sscanf(times.c_str(), "%d:%d:%d,%d --> %d:%d:%d,%d", &h1, &m1, &s1, &ms1, &h2,
                          &m2, &s2, &ms2), 8) << times;
    cues.push_back({h1 * 3600 + m1 * 60 + s1 + ms1 / 1000.0, h2 * 3600 + m2 * 60 + s2 + ms2 / 1000.0,
                    text});
  }
  return cues;
}

class CliVoiceTest : public CliTest {
 protected:
  testing::FakeService speech{"BRISKLET_ELEVENLABS_BASE_URL"};
  QProcessEnvironment withKey = [] {
    QProcessEnvironment environment;
    environment.insert("ELEVENLABS_API_KEY", kKey);
    return environment;
  }();

  CliRun keyed(const QStringList& arguments) { return cli(arguments, withKey); }

  static void expectKeyNowhere(const CliRun& run) {
    EXPECT_THAT(run.out, Not(HasSubstr(kKey)));
    EXPECT_THAT(run.err, Not(HasSubstr(kKey)));
  }
};

constexpr const char* kVoices =
    R"({"voices":[{"voice_id":"stock_1","name":"Aria","category":"premade"},
                  {"voice_id":"clone_1","name":"Brisklet \u2013 My Voice","category":"cloned"}]})";

TEST_F(CliVoiceTest, NarratedLinesSoundInTheExportWhereTheCaptionsSay) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc2=s=160x90:r=30:d=9", "-f", "lavfi", "-i",
                      "sine=f=300:d=9", (home / "walk.mp4").string()});
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=f=1000:d=1", "-c:a", "libmp3lame",
                      (home / "line.mp3").string()});
  testing::makeVoiceSample(home / "sample.wav");
  Project project = makeProject("Walk", makeBookmark(home / "walk.mp4"), 9.0);
  EditPlan plan;
  for (const auto& [start, keep, line] : {std::tuple{0.0, true, "Off we go."},
                                          {3.0, false, "Not this bit."}, {6.0, true, "Made it."}}) {
    Segment segment = testing::segment(start, start + 3, keep);
    segment.narration = NarrationClip{line, false, std::nullopt, 0.5, std::nullopt,
                                      NarrationStatus::pendingAudio};
    plan.segments.push_back(segment);
  }
  project.editPlan = plan;
  store.save(project);
  const QString id = QString::fromStdString(project.id.text());

  // The clone becomes the narration voice.
  speech.enqueue({.status = 200, .body = R"({"voice_id":"clone_1"})"});
  speech.enqueue({.status = 200, .body = kVoices});
  const CliRun cloned =
      keyed({"clone-voice", QString::fromStdString((home / "sample.wav").string()), "--consent"});
  ASSERT_EQ(cloned.exitCode, 0) << cloned.err;
  EXPECT_EQ(cloned.out, "clone_1\n");
  expectKeyNowhere(cloned);
  speech.enqueue({.status = 200, .body = kVoices});
  const CliRun voices = keyed({"voices"});
  ASSERT_EQ(voices.exitCode, 0) << voices.err;
  EXPECT_THAT(voices.out, ::testing::StartsWith("* clone_1"));
  EXPECT_THAT(voices.out, HasSubstr("\n  stock_1                   Aria  \u00B7  premade\n"));

  ASSERT_EQ(cli({"set", id, "trim", "0", "1.0", "3.0"}).exitCode, 0);
  const std::string mp3 = readFile(home / "line.mp3");
  for (int line = 0; line < 2; ++line)
    speech.enqueue({.status = 200, .body = mp3, .contentType = "audio/mpeg"});
  const CliRun narrated = keyed({"narrate", id});
  ASSERT_EQ(narrated.exitCode, 0) << narrated.err;
  EXPECT_EQ(narrated.out, "2/2 clips generated\n");
  EXPECT_THAT(narrated.err, HasSubstr("Generating narration\u2026 (2/2)"));
  expectKeyNowhere(narrated);
  const std::vector<testing::RecordedRequest> requests = speech.requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[3].path, "/v1/text-to-speech/clone_1");
  EXPECT_EQ(nlohmann::json::parse(requests[4].body).at("text"), "Made it.");
  const CliRun again = keyed({"narrate", id});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.out, "0/0 clips generated\n");
  EXPECT_THAT(again.err, HasSubstr("All narration audio is already up to date."));
  EXPECT_EQ(speech.requests().size(), 5u);

  const auto srt = home / "walk.srt";
  const CliRun captioned = cli({"captions", id, "-o", QString::fromStdString(srt.string())});
  ASSERT_EQ(captioned.exitCode, 0) << captioned.err;
  EXPECT_EQ(captioned.out, srt.string() + "\n");
  const std::vector<Cue> cues = cuesOf(readFile(srt));
  ASSERT_EQ(cues.size(), 2u) << readFile(srt);
  // The first segment now runs 0–2 s of the output and the dropped one is gone, so the lines
  // sound half a second into 0–2 and 2–5.
  EXPECT_NEAR(cues[0].startSec, 0.5, 0.001);
  EXPECT_EQ(cues[0].text, "Off we go.");
  EXPECT_NEAR(cues[1].startSec, 2.5, 0.001);
  EXPECT_EQ(cues[1].text, "Made it.");

  const auto movie = home / "walk-edited.mp4";
  const CliRun exported = cli({"export", id, "-o", QString::fromStdString(movie.string())});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  const std::vector<float> sound = testing::soundOf(movie);
  for (const Cue& cue : cues) {
    // Where the line's tone is at least half its level, in 10 ms windows a millisecond apart.
    const double full = testing::toneLevel(sound, 1000, (cue.startSec + cue.endSec) / 2, 0.01);
    std::vector<double> sounding;
    for (double at = cue.startSec - 0.2; at < cue.endSec + 0.2; at += 0.001)
      if (testing::toneLevel(sound, 1000, at, 0.01) > full / 2) sounding.push_back(at + 0.005);
    ASSERT_FALSE(sounding.empty()) << cue.text;
    EXPECT_NEAR(sounding.front(), cue.startSec, kFrameSec) << cue.text;
    EXPECT_NEAR(sounding.back(), cue.endSec, kFrameSec) << cue.text;
  }

  QProcess probe;
  probe.start("ffprobe", {"-v", "error", "-show_streams", "-of", "json",
                          QString::fromStdString(movie.string())});
  ASSERT_TRUE(probe.waitForFinished(30000));
  const nlohmann::json streams = nlohmann::json::parse(probe.readAllStandardOutput().toStdString())["streams"];
  ASSERT_EQ(streams.size(), 3u);
  const nlohmann::json& text = streams[2];
  EXPECT_EQ(text["codec_name"], "mov_text");
  EXPECT_EQ(text["tags"]["language"], "und");
  EXPECT_EQ(text["disposition"]["default"], 0) << "off until the viewer turns it on";
  QProcess extract;
  extract.start("ffmpeg", {"-v", "error", "-i", QString::fromStdString(movie.string()), "-map",
                           "0:s:0", "-f", "srt", "-"});
  ASSERT_TRUE(extract.waitForFinished(30000));
  const std::vector<Cue> embedded = cuesOf(extract.readAllStandardOutput().toStdString());
  ASSERT_EQ(embedded.size(), cues.size()) << "the movie carries the same lines";
  for (size_t index = 0; index < cues.size(); ++index) {
    EXPECT_THAT(embedded[index].text, HasSubstr(cues[index].text)) << "within its style";
    EXPECT_NEAR(embedded[index].startSec, cues[index].startSec, 0.002);
    EXPECT_NEAR(embedded[index].endSec, cues[index].endSec, 0.002);
  }
}

TEST_F(CliVoiceTest, VoiceCommandsRefusePlainly) {
  testing::makeVoiceSample(home / "sample.wav");
  const QString sample = QString::fromStdString((home / "sample.wav").string());
  EXPECT_EQ(keyed({"clone-voice", sample}).exitCode, 2) << "consent is required";
  const CliRun keyless = cli({"clone-voice", sample, "--consent"});
  EXPECT_EQ(keyless.exitCode, 1);
  EXPECT_THAT(keyless.err, HasSubstr("Add your ElevenLabs API key in Settings first."));
  const CliRun noSample =
      keyed({"clone-voice", QString::fromStdString((home / "none.wav").string()), "--consent"});
  EXPECT_EQ(noSample.exitCode, 1);
  EXPECT_THAT(noSample.err, HasSubstr("There is no voice sample at"));

  // Samples that do not play, or hold too little voice, are refused before anything is sent.
  testing::writeText(home / "empty.wav", "");
  testing::writeText(home / "noise.wav", std::string(3000, '\x7f'));
  testing::writeText(home / "cut.wav", readFile(home / "sample.wav").substr(0, 30));
  testing::makeVoiceSample(home / "short.wav", 1.5);
  testing::runFfmpeg({"-f", "lavfi", "-i", "anullsrc=r=44100:cl=mono", "-t", "6",
                      (home / "silence.wav").string()});
  for (const auto& [name, reason] :
       {std::pair{"empty.wav", "it does not play as sound"}, {"noise.wav", "it does not play as sound"},
        {"cut.wav", "it does not play as sound"}, {"short.wav", "holds only 1.5 seconds of sound"},
        {"silence.wav", "holds only 0.0 seconds of sound"}}) {
    const CliRun bad = keyed({"clone-voice", QString::fromStdString((home / name).string()), "--consent"});
    EXPECT_EQ(bad.exitCode, 1) << name;
    EXPECT_THAT(bad.err, HasSubstr(std::string("The voice sample \u201C") + name + "\u201D"));
    EXPECT_THAT(bad.err, HasSubstr(reason)) << name;
  }
  EXPECT_THAT(speech.requests(), IsEmpty()) << "no clone was asked for";

  speech.enqueue({.status = 500, .body = R"({"detail":"Voice limit reached"})"});
  const CliRun refused = keyed({"clone-voice", sample, "--consent"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_THAT(refused.err, HasSubstr("ElevenLabs error (500): Voice limit reached"));
  EXPECT_THAT(refused.out, IsEmpty());
  EXPECT_EQ(speech.requests().size(), 1u);

  Project project = stored("Lines", "2025-03-01T10:00:00Z", 2);
  const CliRun noVoice = keyed({"narrate", QString::fromStdString(project.id.text())});
  EXPECT_EQ(noVoice.exitCode, 1);
  EXPECT_THAT(noVoice.err, HasSubstr("Create your voice clone first (Settings \u2192 Voice)."));
  const CliRun misnamed = cli({"captions", QString::fromStdString(project.id.text()), "-o",
                               QString::fromStdString((home / "lines.txt").string())});
  EXPECT_EQ(misnamed.exitCode, 1);
  EXPECT_THAT(misnamed.err, HasSubstr("Captions refused: \u201Clines.txt\u201D is not a captions "
                                      "name: it must end in .srt."));
  EXPECT_FALSE(std::filesystem::exists(home / "lines.txt"));

  // The test's sound server address leads nowhere, as on a machine without sound.
  const auto kept = home / "kept.wav";
  testing::writeText(kept, "an earlier sample");
  const CliRun unheard =
      cli({"record-voice", "-o", QString::fromStdString(kept.string()), "--seconds", "1"});
  EXPECT_EQ(unheard.exitCode, 1);
  EXPECT_THAT(unheard.err, HasSubstr("Microphone unavailable. Connect a microphone and check your "
                                     "system's sound settings (Input)."));
  EXPECT_EQ(readFile(kept), "an earlier sample");
  EXPECT_EQ(cli({"record-voice", "-o", "x.wav", "--seconds", "0"}).exitCode, 2);
  EXPECT_EQ(cli({"record-voice", "--seconds", "3"}).exitCode, 2);
}

}  // namespace
}  // namespace brisklet
