// brisklet-cli against hostile values and places: outputs aimed at what the user keeps, pipes
// where files belong, preferences that cannot be saved, damaged clean-up entries and records
// edited by hand. Nothing the user keeps may be lost, nothing may hang, and no failure may pass
// for a success.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QThread>
#include <map>

#include "cli/CliFixture.h"
#include "media/platform/Asset.h"
#include "model/AppSettings.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "support/FakeService.h"
#include "support/MediaGenerator.h"
#include "support/ReadOnlyFolder.h"

namespace brisklet {
namespace {

using ::testing::AnyOf;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

class CliHostileTest : public CliTest {
 protected:
  testing::FakeService speech{"BRISKLET_ELEVENLABS_BASE_URL"};
  testing::FakeService model{"BRISKLET_ANTHROPIC_BASE_URL"};
  QProcessEnvironment withKeys = [] {
    QProcessEnvironment environment;
    environment.insert("ELEVENLABS_API_KEY", "el-key");
    environment.insert("ANTHROPIC_API_KEY", "sk-key");
    return environment;
  }();

  std::filesystem::path data() const { return home / "data" / "Brisklet"; }
  std::filesystem::path config() const { return home / "config" / "Brisklet"; }
  static QString text(const std::filesystem::path& file) {
    return QString::fromStdString(file.string());
  }

  // Two seconds of a test card with a tone, and a project of it with one kept segment.
  Project walk() {
    testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc=s=96x54:r=30:d=2", "-f", "lavfi", "-i",
                        "sine=d=2", "-pix_fmt", "yuv420p", (home / "walk.mp4").string()});
    Project project = makeProject("Walk", makeBookmark(home / "walk.mp4"), 2.0);
    project.editPlan = EditPlan{.segments = {testing::segment(0, 2)}};
    store.save(project);
    return project;
  }

  std::filesystem::path pipe(const std::string& name) {
    EXPECT_EQ(::mkfifo((home / name).c_str(), 0600), 0);
    return home / name;
  }
};

TEST_F(CliHostileTest, ARecordingIsNeverAimedAtWhatTheUserKeeps) {
  const Project project = stored("Trip", "2025-03-01T10:00:00Z", 2);
  const auto record = store.projectDirectory(project.id) / "project.json";
  testing::writeText(home / "holiday.mp4", "a holiday movie");
  testing::writeText(data() / "Voice" / "voice_sample.wav", "the current sample");
  std::filesystem::create_directories(home / "Takes");
  const std::map<std::filesystem::path, std::string> refusals = {
      {record, "is inside Brisklet's own data folder."},
      {home / "holiday.mp4", "is not a sound name: it must end in .wav."},
      {data() / "Voice" / "voice_sample.wav", "is inside Brisklet's own data folder."},
      {home / "Takes", "is a folder."}};
  const std::string recordBefore = readFile(record);
  for (const auto& [destination, reason] : refusals) {
    const CliRun run = cli({"record-voice", "-o", text(destination), "--seconds", "1"});
    EXPECT_EQ(run.exitCode, 1) << destination;
    EXPECT_THAT(run.err, StartsWith("Recording refused: "));
    EXPECT_THAT(run.err, HasSubstr(reason)) << destination;
    EXPECT_THAT(run.out, IsEmpty());
  }
  EXPECT_EQ(readFile(record), recordBefore);
  EXPECT_EQ(readFile(home / "holiday.mp4"), "a holiday movie");
  EXPECT_EQ(readFile(data() / "Voice" / "voice_sample.wav"), "the current sample");
  EXPECT_EQ(cli({"list"}).exitCode, 0);
  EXPECT_THAT(cli({"list"}).out, HasSubstr("Trip"));
}

TEST_F(CliHostileTest, PipesWhereFilesBelongAreRefusedAtOnce) {
  const Project project = walk();
  const QString id = QString::fromStdString(project.id.text());
  const auto movie = pipe("movie.mp4");
  const CliRun imported = cli({"import", text(movie), "--no-analyze"});
  EXPECT_EQ(imported.exitCode, 1);
  EXPECT_THAT(imported.err, HasSubstr("\u201Cmovie.mp4\u201D could not be opened as a video: it "
                                      "is a pipe, not a file."));
  const CliRun music = cli({"set", id, "music", text(pipe("bed.mp3"))});
  EXPECT_EQ(music.exitCode, 1);
  EXPECT_THAT(music.err, HasSubstr("is a pipe, not a file"));
  const CliRun probed = cli({"probe", text(movie)});
  EXPECT_EQ(probed.exitCode, 1);
  const CliRun cloned = cli({"clone-voice", text(pipe("sample.wav")), "--consent"}, withKeys);
  EXPECT_EQ(cloned.exitCode, 1);
  EXPECT_THAT(cloned.err, HasSubstr("\u201Csample.wav\u201D is a pipe, not a file."));
  EXPECT_THAT(speech.requests(), IsEmpty());
  EXPECT_EQ(store.loadAll().size(), 1u) << "nothing was imported";
}

TEST_F(CliHostileTest, PreferencesThatCannotBeSavedFailTheCommandAndLoseNoClone) {
  const Project project = walk();
  const QString id = QString::fromStdString(project.id.text());
  testing::makeVoiceSample(home / "sample.wav");
  testing::writeText(home / "Music" / "Theme.mp3", "a track");
  std::filesystem::create_directories(config());
  {
    testing::ReadOnlyFolder readOnly(config());
    if (!readOnly.works()) GTEST_SKIP() << "no way to make a folder read-only here";
    const CliRun noConsent = cli({"clone-voice", text(home / "sample.wav"), "--consent"}, withKeys);
    EXPECT_EQ(noConsent.exitCode, 1);
    EXPECT_THAT(noConsent.err, StartsWith("Could not save your preferences: "));
    EXPECT_THAT(noConsent.out, IsEmpty());
    EXPECT_THAT(speech.requests(), IsEmpty()) << "without stored consent nothing is sent";

    const CliRun folder = cli({"music", id, "--auto", "--folder", text(home / "Music")}, withKeys);
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_THAT(folder.err, HasSubstr("Could not save your preferences: "));
    EXPECT_THAT(model.requests(), IsEmpty());
  }

  // Consent stored earlier; the new clone cannot be made the narration voice.
  AppSettings::setVoiceConsentGiven(true);
  std::filesystem::copy_file(AppSettings::file(), config() / "defaults.json");
  testing::ReadOnlyFolder readOnly(config());
  speech.enqueue({.status = 200, .body = R"({"voice_id":"clone77"})"});
  speech.enqueue({.status = 200, .body = R"({"voices":[]})"});
  const CliRun cloned = cli({"clone-voice", text(home / "sample.wav"), "--consent"}, withKeys);
  EXPECT_EQ(cloned.exitCode, 1);
  EXPECT_EQ(cloned.out, "clone77\n") << "the clone exists on the account: its id is told";
  EXPECT_THAT(cloned.err, HasSubstr("Your voice clone clone77 was made, but could not be chosen "
                                    "for narration: Could not save your preferences: "));
}

TEST_F(CliHostileTest, DamagedCleanUpEntriesDeleteNothing) {
  testing::writeText(home / ".precious_notes", "notes");
  testing::writeText(data() / "Unfinished" / "output-AbC123", (home / ".precious_notes").string());
  testing::writeText(data() / "Unfinished" / "output-DeF456",
                     (home / "x" / ".." / "notes").string() + "\n" +
                         (home / "x" / ".." / ".precious_notes").string() + "\n");
  std::filesystem::create_symlink(home / ".precious_notes", data() / "Unfinished" / "output-link");
  EXPECT_EQ(cli({"list"}).exitCode, 0);
  EXPECT_EQ(readFile(home / ".precious_notes"), "notes");
  EXPECT_THAT(testing::entriesOf(data() / "Unfinished"), IsEmpty()) << "the entries are dropped";
}

TEST_F(CliHostileTest, HandEditedTimesAndTextsLoadWithinLimitsAndExportRight) {
  Project project = walk();
  const QString id = QString::fromStdString(project.id.text());
  project.editPlan->segments = {testing::segment(-1e300, 1e300)};
  project.editPlan->segments[0].narration =
      NarrationClip{.text = std::string(10'000'000, 'a'), .startOffsetSec = 1e300};
  store.save(project);

  const CliRun exported = cli({"export", id, "-o", text(home / "out.mp4")});
  EXPECT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_THAT(exported.err, HasSubstr("ProjectStore repaired the record of \u201CWalk\u201D"));
  EXPECT_NEAR(Asset::open(home / "out.mp4").durationSec(), 2.0, 0.1) << "the whole video, once";
  // The line, cut at the cap, has no audio yet: there is nothing to caption, and no empty file.
  const CliRun captions = cli({"captions", id, "-o", text(home / "out.srt")});
  EXPECT_EQ(captions.exitCode, 1);
  EXPECT_THAT(captions.err, HasSubstr("No narration line of the edit has audio to caption."));
  EXPECT_FALSE(std::filesystem::exists(home / "out.srt"));

  // Longer than a line may be: refused (an argument can hold at most 128 KiB).
  const CliRun tooLong = cli({"set", id, "narration", "0", QString(100'000, 'b')});
  EXPECT_EQ(tooLong.exitCode, 2);
  EXPECT_THAT(tooLong.err, HasSubstr("a narration line holds at most 2000 characters; this one "
                                     "has 100000"));
  for (const char* gain : {"-5", "0", "99.99", "200.5", "1e308"})
    EXPECT_EQ(cli({"enhance", id, "--gain", gain}).exitCode, 2) << gain;
}

TEST_F(CliHostileTest, AnUnreadableRecordIsListedAndADanglingDataFolderNamed) {
  const Project kept = stored("Kept", "2025-03-01T10:00:00Z");
  const Project damaged = stored("Damaged", "2025-03-02T10:00:00Z");
  testing::writeText(store.projectDirectory(damaged.id) / "project.json", "{\"id\": ");
  const CliRun listed = cli({"list"});
  EXPECT_EQ(listed.exitCode, 0);
  EXPECT_THAT(listed.out, HasSubstr("Kept"));
  EXPECT_THAT(listed.err, HasSubstr("Project " + damaged.id.text() + " is unreadable: "));
  EXPECT_EQ(readFile(store.projectDirectory(damaged.id) / "project.json"), "{\"id\": ")
      << "left as it is";

  std::filesystem::remove_all(data());
  std::filesystem::create_symlink(home / "unplugged-disk", data());
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc=s=96x54:r=30:d=1", "-pix_fmt", "yuv420p",
                      (home / "clip.mp4").string()});
  const CliRun imported = cli({"import", text(home / "clip.mp4"), "--no-analyze"});
  EXPECT_EQ(imported.exitCode, 1);
  EXPECT_THAT(imported.err, HasSubstr("\u201CBrisklet\u201D is a link to \u201C" +
                                      (home / "unplugged-disk").string() +
                                      "\u201D, which does not exist."));
}

TEST_F(CliHostileTest, ANarrationEndedByADeleteSaysSoAndCountsNothing) {
  testing::runFfmpeg({"-f", "lavfi", "-i", "sine=f=1000:d=1", "-c:a", "libmp3lame",
                      (home / "line.mp3").string()});
  Project project = walk();
  project.editPlan->segments = {testing::segment(0, 1), testing::segment(1, 2)};
  for (Segment& segment : project.editPlan->segments)
    segment.narration = NarrationClip{.text = "A line.", .status = NarrationStatus::pendingAudio};
  store.save(project);
  AppSettings::setVoiceID("voice1");
  std::filesystem::create_directories(config());
  std::filesystem::copy_file(AppSettings::file(), config() / "defaults.json");
  for (int line = 0; line < 2; ++line)
    speech.enqueue({.status = 200, .body = readFile(home / "line.mp3"), .contentType = "audio/mpeg",
                    .delayMilliseconds = 1500});

  const auto narrating = start({"narrate", QString::fromStdString(project.id.text())}, withKeys);
  QThread::msleep(500);
  ASSERT_EQ(cli({"delete", QString::fromStdString(project.id.text())}).exitCode, 0);
  const CliRun narrated = finished(*narrating);
  EXPECT_EQ(narrated.exitCode, 1);
  EXPECT_THAT(narrated.out, IsEmpty()) << "a deleted project kept no clips";
  EXPECT_THAT(narrated.err, HasSubstr("The project was deleted."));
}

TEST_F(CliHostileTest, AFileNameThatIsNotUtf8ImportsAnalysesAndExports) {
  const std::filesystem::path odd = home / "caf\xFF.mp4";
  testing::runFfmpeg({"-f", "lavfi", "-i", "testsrc=s=96x54:r=30:d=2", "-pix_fmt", "yuv420p",
                      (home / "clip.mp4").string()});
  std::filesystem::rename(home / "clip.mp4", odd);
  // The shell hands the name's bytes over as they are: a QString argument could not carry them.
  QProcess shell;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_DATA_HOME", text(home / "data"));
  environment.insert("XDG_CONFIG_HOME", text(home / "config"));
  environment.insert("ODD", text(home / "caf"));
  shell.setProcessEnvironment(environment);
  shell.start("/bin/sh", {"-c", "exec \"$0\" import \"$ODD$(printf '\\377').mp4\"", BRISKLET_CLI});
  ASSERT_TRUE(shell.waitForFinished(60000));
  ASSERT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
  const std::vector<Project> projects = store.loadAll();
  ASSERT_EQ(projects.size(), 1u);
  ASSERT_TRUE(projects[0].editPlan) << "analysed";
  const CliRun exported = cli({"export", QString::fromStdString(projects[0].id.text()), "-o",
                               text(home / "out.mp4")});
  EXPECT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_NEAR(Asset::open(home / "out.mp4").durationSec(), projects[0].editPlan->keptDurationSec(),
              0.1);
}

TEST_F(CliHostileTest, AMusicFolderThatCannotBeReachedIsToldInPlainWords) {
  const Project project = walk();
  std::filesystem::create_symlink(home / "loop", home / "loop");
  const CliRun run = cli({"music", QString::fromStdString(project.id.text()), "--auto", "--folder",
                          text(home / "loop")},
                         withKeys);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.err, HasSubstr("\u201Cloop\u201D cannot be reached: Too many levels of "
                                 "symbolic links."));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("filesystem error")));
}

}  // namespace
}  // namespace brisklet
