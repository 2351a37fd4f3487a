#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "cli/CliFixture.h"
#include "media/SegmentTimeMapping.h"
#include "media/platform/Asset.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "platform/TimeText.h"
#include "support/MediaGenerator.h"
#include "support/MovieSound.h"
#include "support/SpokenTalk.h"

namespace brisklet {
namespace {

using ::testing::HasSubstr;
using testing::Recording;
using testing::Room;

constexpr double kFrameSec = 1.0 / 30;
constexpr int kRate = 48000;

// Where source time `sourceSec` plays in an edit of the whole talk less `pauses`.
std::optional<double> outputTime(const std::vector<SourceSpan>& pauses, double durationSec,
                                 double sourceSec) {
  Segment whole = testing::segment(0, durationSec);
  whole.removedPauses = pauses;
  std::vector<SegmentTimeMapping> runs;
  double cursor = 0;
  for (const SourceSpan& run : whole.keptRuns()) {
    runs.push_back({whole.id, run.startSec, cursor, run.durationSec()});
    cursor += run.durationSec();
  }
  return compositionTime(runs, sourceSec);
}

// The normalised cross-correlation of `expected` with `heard` from `atSample`.
double correlation(const std::vector<float>& expected, const std::vector<float>& heard,
                   long atSample) {
  double both = 0, ofExpected = 0, ofHeard = 0;
  for (size_t index = 0; index < expected.size(); ++index) {
    const long at = atSample + static_cast<long>(index);
    const double sample = at >= 0 && static_cast<size_t>(at) < heard.size() ? heard[at] : 0.0;
    both += expected[index] * sample;
    ofExpected += static_cast<double>(expected[index]) * expected[index];
    ofHeard += sample * sample;
  }
  return both / std::sqrt(ofExpected * ofHeard + 1e-30);
}

// The first channel of interleaved stereo.
std::vector<float> leftOf(const std::vector<float>& stereo) {
  std::vector<float> left(stereo.size() / 2);
  for (size_t index = 0; index < left.size(); ++index) left[index] = stereo[2 * index];
  return left;
}

class CliTightenTest : public CliTest, public ::testing::WithParamInterface<Room> {
 protected:
  static void SetUpTestSuite() {
    testing::TemporaryFolder scratch;
    talk_ = new testing::Talk(testing::builtTalk(scratch.path()));
  }
  static void TearDownTestSuite() { delete talk_; }
  static testing::Talk* talk_;

  Recording recording = testing::inRoom(*talk_, GetParam());
  double durationSec = 0;
  QString id;

  void SetUp() override {
    testing::writeMovie(recording, home / "talk.mp4", home.path());
    durationSec = Asset::open(home / "talk.mp4").durationSec();
    Project project = makeProject("Talk", makeBookmark(home / "talk.mp4"), durationSec);
    project.editPlan = EditPlan{.segments = {testing::segment(0, durationSec)}};
    store.save(project);
    id = QString::fromStdString(project.id.text());
  }

  std::vector<SourceSpan> removedPauses() {
    return store.loadAll().at(0).editPlan->segments.at(0).removedPauses;
  }
};
testing::Talk* CliTightenTest::talk_ = nullptr;

// Every pause longer than the shortest one and both margins is cut down to the margins, every
// shorter one is left, and no word is touched; a dry run only tells what it would do.
TEST_P(CliTightenTest, CutsTheLongPausesDownToTheirMarginsAndLeavesTheWords) {
  const std::string record =
      readFile(store.projectDirectory(store.loadAll().at(0).id) / "project.json");
  const CliRun dry = cli({"tighten", id, "--dry-run"});
  ASSERT_EQ(dry.exitCode, 0) << dry.err;
  EXPECT_THAT(dry.out, HasSubstr("Tighten would remove "));
  EXPECT_THAT(dry.err, HasSubstr("Finding speech\u2026"));
  EXPECT_EQ(readFile(store.projectDirectory(store.loadAll().at(0).id) / "project.json"), record);

  const CliRun run = cli({"tighten", id});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<SourceSpan> pauses = removedPauses();
  double removedSec = 0;
  for (const SourceSpan& pause : pauses) removedSec += pause.durationSec();
  EXPECT_EQ(run.out, "Tighten removed " + std::to_string(pauses.size()) + " pauses (" +
                         formatMinutesSeconds(removedSec) + ")\n");
  EXPECT_EQ(dry.out.substr(dry.out.rfind("Tighten")), "Tighten would remove " + run.out.substr(16))
      << "the dry run told the same";

  const std::vector<SpeechActivity::SpeechSpan>& heard = recording.heard;
  for (const SourceSpan& pause : pauses)
    for (const auto& sentence : heard)
      EXPECT_TRUE(pause.endSec <= sentence.startSec || pause.startSec >= sentence.endSec)
          << "a removed pause " << pause.startSec << " cuts a sentence at " << sentence.startSec;
  // In the loud room a word's last hundredth of a second may sink into the noise.
  const double tolerance = GetParam().snrDB >= 20 ? kFrameSec : 1.25 * kFrameSec;
  int longPauses = 0;
  for (size_t index = 0; index + 1 < heard.size(); ++index) {
    const double from = heard[index].endSec, to = heard[index + 1].startSec;
    std::vector<SourceSpan> inside;
    for (const SourceSpan& pause : pauses)
      if (pause.startSec < to && pause.endSec > from) inside.push_back(pause);
    if (to - from < 0.6) {
      EXPECT_TRUE(inside.empty()) << "a pause of " << to - from << " s at " << from;
    } else if (to - from > 0.95) {
      ++longPauses;
      ASSERT_EQ(inside.size(), 1u) << "the pause at " << from;
      EXPECT_NEAR(to - from - inside[0].durationSec(), 0.35, tolerance)
          << "what is kept of the pause at " << from;
    }
  }
  EXPECT_GE(longPauses, 25);

  // Again with other values: the pauses are replaced, from the speech found the first time (a
  // damaged copy of it is found again).
  std::vector<std::filesystem::path> cached;
  for (const auto& entry :
       std::filesystem::directory_iterator(store.projectDirectory(store.loadAll().at(0).id)))
    if (entry.path().filename().string().starts_with("speech-")) cached.push_back(entry.path());
  ASSERT_EQ(cached.size(), 1u);
  writeFileAtomically(cached[0], "{\"format\": 1, \"speech\": [[1, \"x\"]]}", 0644,
                      Durability::cacheOnly);
  ASSERT_EQ(cli({"tighten", id, "--min-pause", "2", "--margin", "0.1,0.3"}).exitCode, 0);
  const std::vector<SourceSpan> fewer = removedPauses();
  EXPECT_LT(fewer.size(), pauses.size());
  for (const SourceSpan& pause : fewer) {
    const auto after = std::find_if(heard.begin(), heard.end(), [&](const auto& sentence) {
      return sentence.startSec >= pause.endSec;
    });
    ASSERT_NE(after, heard.end());
    EXPECT_GT(after->startSec - pause.endSec, 0.1 - tolerance);
    EXPECT_LT(after->startSec - pause.endSec, 0.1 + tolerance);
  }
  EXPECT_EQ(cli({"tighten", id, "--min-pause", "-1"}).exitCode, 2);
  EXPECT_EQ(cli({"tighten", id, "--margin", "a,b"}).exitCode, 2);
}

// The edit plays tightened everywhere: the export is the kept time less the pauses, and every
// sentence sounds in it whole, where the tightened axis puts it.
using CliTightenExportTest = CliTightenTest;

TEST_P(CliTightenExportTest, PlaysEverySentenceWholeOnTheTightenedAxis) {
  ASSERT_EQ(cli({"tighten", id}).exitCode, 0);
  const std::vector<SourceSpan> pauses = removedPauses();
  double removedSec = 0;
  for (const SourceSpan& pause : pauses) removedSec += pause.durationSec();
  const auto movie = home / "tight.mp4";
  const CliRun exported = cli({"export", id, "-o", QString::fromStdString(movie.string())});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_NEAR(testing::ffprobeDurationSec(movie), durationSec - removedSec, kFrameSec);

  const std::vector<float> source = leftOf(testing::soundOf(home / "talk.mp4"));
  const std::vector<float> output = leftOf(testing::soundOf(movie));
  for (size_t index = 0; index < recording.heard.size(); ++index) {
    const auto& sentence = recording.heard[index];
    const auto first = static_cast<size_t>(sentence.startSec * kRate);
    const std::vector<float> expected(source.begin() + static_cast<long>(first),
                                      source.begin() + static_cast<long>(sentence.endSec * kRate));
    const std::optional<double> placed = outputTime(pauses, durationSec, sentence.startSec);
    ASSERT_TRUE(placed) << "sentence " << index << " is shown";
    const long at = std::lround(*placed * kRate);
    double best = -1;
    long bestLag = 0;
    for (long lag = -kRate / 100; lag <= kRate / 100; lag += 8)
      if (const double match = correlation(expected, output, at + lag); match > best) {
        best = match;
        bestLag = lag;
      }
    EXPECT_GE(best, 0.98) << "sentence " << index << " whole";
    EXPECT_LE(std::abs(bestLag), kRate / 100) << "sentence " << index << " in its place";
  }
}

// A real talker, said three times over with the corpus's own silence between (breaths and the
// studio's noise, which by default stay), cut by default and as tight as the command allows: no
// word, as the corpus times them, loses any of its span; cut tight, the takes are joined.
TEST_F(CliTest, TightenCutsNoWordOfARealTalker) {
  const std::filesystem::path clip = testing::sharedMedia("grid_swwp2s.mpg");
  if (clip.empty()) GTEST_SKIP() << "no shared media";
  const auto thrice = home / "grid.mp4";
  testing::runFfmpeg({"-stream_loop", "2", "-i", clip.string(), "-c:v", "libx264", "-preset",
                      "ultrafast", "-c:a", "aac", thrice.string()});
  const double takeSec = Asset::open(clip).durationSec();
  Project project = makeProject("Grid", makeBookmark(thrice), Asset::open(thrice).durationSec());
  project.editPlan = EditPlan{.segments = {testing::segment(0, project.videoDurationSec)}};
  store.save(project);
  std::vector<std::pair<double, double>> words;
  std::istringstream align(readFile(testing::sharedMedia("grid_swwp2s.align")));
  for (double start = 0, end = 0; align >> start >> end;) {
    std::string word;
    align >> word;
    for (int take = 0; take < 3 && word != "sil"; ++take)
      words.emplace_back(start / 25000 + take * takeSec, end / 25000 + take * takeSec);
  }
  ASSERT_EQ(words.size(), 18u);
  for (const QStringList& how :
       {QStringList{}, QStringList{"--min-pause", "0.05", "--margin", "0.02"}}) {
    ASSERT_EQ(cli(QStringList{"tighten", QString::fromStdString(project.id.text())} + how).exitCode,
              0);
    const std::vector<SourceSpan> pauses =
        store.loadAll().at(0).editPlan->segments.at(0).removedPauses;
    if (!how.empty()) {
      EXPECT_EQ(pauses.size(), 2u) << "between the takes";
    }
    for (const SourceSpan& pause : pauses)
      for (const auto& [start, end] : words)
        EXPECT_TRUE(pause.endSec <= start || pause.startSec >= end)
            << how.join(' ').toStdString() << ": a pause " << pause.startSec << "-" << pause.endSec
            << " cuts the word at " << start;
  }
}

const auto roomName = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Rooms, CliTightenTest,
                         ::testing::Values(Room{"Quiet", 20, false}, Room{"Noisy", 10, false},
                                           Room{"Humming", 20, true}),
                         roomName);
INSTANTIATE_TEST_SUITE_P(Rooms, CliTightenExportTest, ::testing::Values(Room{"Noisy", 10, false}),
                         roomName);

}  // namespace
}  // namespace brisklet
