#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>

#include "model/ModelJson.h"
#include "model/ProjectStore.h"
#include "platform/AtomicFile.h"
#include "platform/Bookmark.h"
#include "support/Projects.h"
#include "support/ReadOnlyFolder.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;
using testing::entriesOf;
using ::testing::HasSubstr;
using testing::sampleProject;
using testing::TemporaryFolder;
using ::testing::UnorderedElementsAre;
using testing::writeText;

std::vector<std::string> namesOf(const std::vector<Project>& projects) {
  std::vector<std::string> names;
  for (const Project& project : projects) names.push_back(project.name);
  return names;
}

class ProjectStoreTest : public ::testing::Test {
 protected:
  TemporaryFolder folder;
  ProjectStore store{folder / "Brisklet" / "Projects"};
};

TEST_F(ProjectStoreTest, WithoutARootLoadsNothingAndCreatesNothing) {
  EXPECT_TRUE(store.loadAll().empty());
  EXPECT_FALSE(std::filesystem::exists(folder / "Brisklet"));
}

TEST_F(ProjectStoreTest, TheFirstSaveCreatesTheProjectFolders) {
  const Project project = sampleProject("First", "2025-03-01T10:00:00Z", 3);
  store.save(project);
  const auto projectFolder = store.projectDirectory(project.id);
  EXPECT_EQ(projectFolder, store.root() / project.id.text());
  EXPECT_THAT(entriesOf(projectFolder),
              UnorderedElementsAre("project.json", ".lock", "narration", "thumbs"));
  EXPECT_THAT(store.loadAll(), ElementsAre(project));
}

TEST_F(ProjectStoreTest, LoadsOnlyDecodableRecordsAndLeavesTheRestUntouched) {
  const Project valid = sampleProject("Valid", "2025-03-01T10:00:00Z", 2);
  store.save(valid);

  std::filesystem::create_directories(store.root() / "EMPTY-FOLDER");
  writeText(store.root() / "CORRUPT" / "project.json", "{\"schemaVersion\": 1, \"id\": ");

  nlohmann::json unknownStatus = nlohmann::json::parse(encodeProjectRecord(valid));
  unknownStatus["id"] = Uuid::random().text();
  unknownStatus["editPlan"]["segments"][0]["narration"]["status"] = "recording";
  writeText(store.root() / "UNKNOWN-STATUS" / "project.json", unknownStatus.dump());

  nlohmann::json noRevision = nlohmann::json::parse(encodeProjectRecord(valid));
  noRevision["id"] = Uuid::random().text();
  noRevision["editPlan"].erase("planRevision");
  writeText(store.root() / "NO-REVISION" / "project.json", noRevision.dump());

  writeText(store.root() / "stray.txt", "not a project");

  EXPECT_THAT(store.loadAll(), ElementsAre(valid));
  EXPECT_TRUE(std::filesystem::exists(store.root() / "CORRUPT" / "project.json"));
  EXPECT_TRUE(std::filesystem::exists(store.root() / "UNKNOWN-STATUS" / "project.json"));
}

TEST_F(ProjectStoreTest, ACopiedProjectFolderIsLeftAloneNotLoadedTwice) {
  const Project project = sampleProject("Trip", "2025-03-01T10:00:00Z", 2);
  store.save(project);
  const auto copy = store.root() / "Trip backup";
  std::filesystem::copy(store.projectDirectory(project.id), copy,
                        std::filesystem::copy_options::recursive);
  const std::string copied = readFile(copy / "project.json");

  ::testing::internal::CaptureStderr();
  EXPECT_THAT(store.loadAll(), ElementsAre(project));
  EXPECT_THAT(::testing::internal::GetCapturedStderr(),
              HasSubstr("ProjectStore skipped \u201CTrip backup\u201D"));
  store.deleteProject(project);
  EXPECT_TRUE(store.loadAll().empty()) << "a deleted project does not come back from its copy";
  EXPECT_EQ(readFile(copy / "project.json"), copied);
}

TEST_F(ProjectStoreTest, LoadsNewestFirst) {
  store.save(sampleProject("Middle", "2025-03-02T10:00:00Z"));
  store.save(sampleProject("Oldest", "2024-12-31T23:59:59Z"));
  store.save(sampleProject("Newest", "2025-03-02T10:00:01Z"));
  EXPECT_THAT(namesOf(store.loadAll()), ElementsAre("Newest", "Middle", "Oldest"));
}

TEST_F(ProjectStoreTest, SavingAgainReplacesTheRecordInPlace) {
  Project project = sampleProject("Before", "2025-03-01T10:00:00Z", 4);
  store.save(project);
  project.name = "After";
  project.editPlan->segments.resize(1);
  store.save(project);
  const auto projectFolder = store.projectDirectory(project.id);
  EXPECT_EQ(readFile(projectFolder / "project.json"), encodeProjectRecord(project));
  EXPECT_THAT(entriesOf(projectFolder),
              UnorderedElementsAre("project.json", ".lock", "narration", "thumbs"));
  EXPECT_THAT(store.loadAll(), ElementsAre(project));
}

TEST_F(ProjectStoreTest, DeletingRemovesTheFolderWithEverythingInIt) {
  const Project doomed = sampleProject("Doomed", "2025-03-01T10:00:00Z", 2);
  const Project kept = sampleProject("Kept", "2025-03-01T11:00:00Z", 2);
  store.save(doomed);
  store.save(kept);
  const auto doomedFolder = store.projectDirectory(doomed.id);
  writeText(doomedFolder / "narration" / "narration_a_b.mp3", "mp3");
  writeText(doomedFolder / "thumbs" / "t_3.jpg", "jpg");
  writeText(doomedFolder / "enhanced_cc_g150.m4a", "m4a");

  store.deleteProject(doomed);
  EXPECT_FALSE(std::filesystem::exists(doomedFolder));
  EXPECT_THAT(namesOf(store.loadAll()), ElementsAre("Kept"));
  store.deleteProject(doomed);  // already gone: nothing happens
}

TEST_F(ProjectStoreTest, SaveFailuresAreToldAndTheOldRecordKept) {
  const Project project = sampleProject("Stored", "2025-03-01T10:00:00Z", 50);
  store.save(project);
  const std::string stored = readFile(store.projectDirectory(project.id) / "project.json");
  const auto rename = [](Project& changed) {
    changed.name = "Never stored";
    return true;
  };
  {
    testing::FileSizeLimit diskFull(1024);
    EXPECT_THAT([&] { store.modify(project.id, rename); },
                ::testing::ThrowsMessage<ProjectStoreError>(
                    ::testing::StrEq("Could not save \u201CNever stored\u201D: File too large.")));
  }
  EXPECT_THROW(store.modify(project.id,
                            [](Project& changed) {
                              changed.videoDurationSec = std::nan("");  // JSON cannot hold it
                              return true;
                            }),
               ProjectStoreError);
  EXPECT_EQ(readFile(store.projectDirectory(project.id) / "project.json"), stored);

  writeText(folder / "blocked", "a file where the root should be");
  EXPECT_THAT([&] { ProjectStore(folder / "blocked" / "Projects").create(project); },
              ::testing::ThrowsMessage<ProjectStoreError>(HasSubstr("Not a directory")));
}

TEST_F(ProjectStoreTest, AProjectDeletedMeanwhileIsNeverWrittenAgain) {
  const Project project = sampleProject("Gone", "2025-03-01T10:00:00Z", 2);
  store.save(project);
  store.deleteProject(project);
  EXPECT_THROW(store.modify(project.id, [](Project&) { return true; }), ProjectDeletedError);
  EXPECT_FALSE(std::filesystem::exists(store.projectDirectory(project.id)));

  // Deleted between the listing and the edit, its folder still there: the record decides.
  store.save(project);
  std::filesystem::remove(store.projectDirectory(project.id) / "project.json");
  EXPECT_THROW(store.modify(project.id, [](Project&) { return true; }), ProjectDeletedError);
  EXPECT_FALSE(std::filesystem::exists(store.projectDirectory(project.id) / "project.json"));
}

TEST_F(ProjectStoreTest, ANewProjectIsListedOnlyOnceItsRecordIsSaved) {
  const Project project = sampleProject("Merged", "2025-03-01T10:00:00Z");
  {
    ProjectStore::NewProject abandoned = store.beginProject(project.id);
    writeText(abandoned.folder() / "source.mov", "half a movie");
    EXPECT_TRUE(store.loadAll().empty());
  }
  EXPECT_THAT(entriesOf(store.root()), ::testing::IsEmpty()) << "an uncommitted project goes";

  ProjectStore::NewProject made = store.beginProject(project.id);
  writeText(made.folder() / "source.mov", "a movie");
  made.commit(project);
  EXPECT_THAT(store.loadAll(), ElementsAre(project));
  EXPECT_EQ(readFile(store.projectDirectory(project.id) / "source.mov"), "a movie");
  EXPECT_THAT(entriesOf(store.root()), ElementsAre(project.id.text()));
}

TEST_F(ProjectStoreTest, TheSweepRemovesWhatKilledProcessesLeftAndNothingInUse) {
  const Project project = sampleProject("Kept", "2025-03-01T10:00:00Z", 2);
  store.save(project);
  const auto projectFolder = store.projectDirectory(project.id);
  writeText(projectFolder / ".project.json.k1Ll3d", "a save that never finished");
  writeText(projectFolder / "thumbs" / ".t_4.jpg.Ab12Cd", "a thumbnail abandoned long ago");
  std::filesystem::last_write_time(projectFolder / "thumbs" / ".t_4.jpg.Ab12Cd",
                                   std::filesystem::file_time_type::clock::now() -
                                       std::chrono::hours(2));
  writeText(projectFolder / "thumbs" / ".t_5.jpg.Ef34Gh", "a thumbnail being written");
  ProjectStore::NewProject inProgress = store.beginProject(Uuid::random());

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ProjectStore::NewProject killed = store.beginProject(Uuid::random());
    writeText(killed.folder() / "source.mov", "half a movie");
    ::raise(SIGKILL);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_EQ(entriesOf(store.root()).size(), 3u);

  store.sweepAbandoned();
  EXPECT_THAT(entriesOf(store.root()),
              ::testing::UnorderedElementsAre(project.id.text(), inProgress.folder().filename()));
  EXPECT_THAT(entriesOf(projectFolder),
              ::testing::UnorderedElementsAre("project.json", ".lock", "narration", "thumbs"));
  EXPECT_THAT(entriesOf(projectFolder / "thumbs"), ElementsAre(".t_5.jpg.Ef34Gh"));
  EXPECT_THAT(store.loadAll(), ElementsAre(project));
}

TEST_F(ProjectStoreTest, ADeleteThatCannotFinishRemovesTheRecordAndSaysWhatItLeft) {
  const Project project = sampleProject("Stuck", "2025-03-01T10:00:00Z", 2);
  store.save(project);
  const auto narration = store.projectDirectory(project.id) / "narration";
  writeText(narration / "line.mp3", "mp3");
  {
    testing::ReadOnlyFolder stuck(narration);
    if (!stuck.works()) GTEST_SKIP() << "no way to make a folder read-only here";
    EXPECT_THAT([&] { store.deleteProject(project); },
                ::testing::ThrowsMessage<ProjectStoreError>(HasSubstr(
                    "\u201CStuck\u201D is deleted, but its folder \u201C" +
                    store.projectDirectory(project.id).string() + "\u201D could not be removed")));
  }
  EXPECT_TRUE(store.loadAll().empty()) << "the record went first";
  EXPECT_TRUE(std::filesystem::exists(narration / "line.mp3"));
}

TEST_F(ProjectStoreTest, TheSourceVideoIsTheMergedFileOrTheBookmarkedOne) {
  writeText(folder / "clips" / "walk.mp4", "video");
  Project project = makeProject("Walk", makeBookmark(folder / "clips" / "walk.mp4"), 12);
  store.save(project);
  EXPECT_EQ(store.resolveVideoURL(project), folder / "clips" / "walk.mp4");

  writeText(store.projectDirectory(project.id) / "source.mov", "merged");
  EXPECT_EQ(store.resolveVideoURL(project), store.projectDirectory(project.id) / "source.mov");

  std::filesystem::remove(store.projectDirectory(project.id) / "source.mov");
  std::filesystem::remove(folder / "clips" / "walk.mp4");
  EXPECT_THAT([&] { store.resolveVideoURL(project); },
              ::testing::ThrowsMessage<BookmarkError>(HasSubstr("\u201Cwalk.mp4\u201D")));
}

TEST_F(ProjectStoreTest, DerivedFilesAreFoundOnlyInsideTheProjectFolder) {
  Project project = sampleProject("Audio", "2025-03-01T10:00:00Z", 1);
  store.save(project);
  const auto projectFolder = store.projectDirectory(project.id);
  EXPECT_FALSE(store.cleanAudioLocation(project).has_value());
  EXPECT_FALSE(store.musicLocation(project).has_value());

  project.denoisedAudioFileName = "enhanced_raw_g120.m4a";
  project.musicFileName = "music.mp3";
  EXPECT_FALSE(store.cleanAudioLocation(project).has_value()) << "named but not on disk";
  writeText(projectFolder / "enhanced_raw_g120.m4a", "m4a");
  writeText(projectFolder / "music.mp3", "mp3");
  EXPECT_EQ(store.cleanAudioLocation(project), projectFolder / "enhanced_raw_g120.m4a");
  EXPECT_EQ(store.musicLocation(project), projectFolder / "music.mp3");

  NarrationClip clip{.text = "Hi",
                     .userEditedText = false,
                     .audioFileName = "narration_a_b.mp3",
                     .startOffsetSec = 0.5,
                     .durationSec = std::nullopt,
                     .status = NarrationStatus::ready};
  writeText(projectFolder / "narration" / "narration_a_b.mp3", "mp3");
  EXPECT_EQ(store.narrationAudioLocation(project, clip),
            projectFolder / "narration" / "narration_a_b.mp3");

  // Names that would reach outside never resolve, even for files that exist there.
  writeText(store.root() / "outside.m4a", "m4a");
  project.denoisedAudioFileName = "../outside.m4a";
  project.musicFileName = "../outside.m4a";
  clip.audioFileName = "../music.mp3";
  EXPECT_FALSE(store.cleanAudioLocation(project).has_value());
  EXPECT_FALSE(store.musicLocation(project).has_value());
  EXPECT_FALSE(store.narrationAudioLocation(project, clip).has_value());
}

}  // namespace
}  // namespace brisklet
