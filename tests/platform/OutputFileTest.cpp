#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>

#include "platform/AtomicFile.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"
#include "support/ReadOnlyFolder.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::entriesOf;
using testing::writeText;

class OutputFileTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder;
  std::vector<std::string> unfinished() const {
    return entriesOf(applicationDataFolder() / "Unfinished");
  }
};

TEST_F(OutputFileTest, TheDestinationKeepsItsOldContentUntilTheNewOneIsWhole) {
  writeText(folder / "movie.mp4", "the good movie");
  {
    OutputFile output(folder / "movie.mp4");
    EXPECT_THAT(output.temporary().filename().string(), ::testing::MatchesRegex("\\.movie\\..*\\.mp4"));
    writeText(output.temporary(), "half a new movie");
    EXPECT_EQ(readFile(folder / "movie.mp4"), "the good movie");
  }
  EXPECT_THAT(entriesOf(folder.path()), ElementsAre("movie.mp4")) << "an unfinished output goes";
  EXPECT_EQ(readFile(folder / "movie.mp4"), "the good movie");

  {
    OutputFile output(folder / "movie.mp4");
    writeText(output.temporary(), "the new movie");
    output.commit();
  }
  EXPECT_EQ(readFile(folder / "movie.mp4"), "the new movie");
  EXPECT_THAT(entriesOf(folder.path()), ElementsAre("movie.mp4"));
  EXPECT_THAT(unfinished(), IsEmpty());
}

TEST_F(OutputFileTest, AMissingFolderIsNamed) {
  EXPECT_THAT([&] { OutputFile output(folder / "gone" / "movie.mp4"); },
              ::testing::ThrowsMessage<FileError>(
                  ::testing::HasSubstr("The folder \u201C" + (folder / "gone").string() +
                                       "\u201D does not exist.")));
}

TEST_F(OutputFileTest, TheNextStartRemovesWhatAKilledWriterLeftAndNothingElse) {
  OutputFile live(folder / "live.mp4");
  writeText(live.temporary(), "still being written");

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    OutputFile killed(folder / "killed.mp4");
    writeText(killed.temporary(), "half a movie");
    ::raise(SIGKILL);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_EQ(entriesOf(folder.path()).size(), 2u) << "the killed writer's temporary is left";

  sweepAbandonedOutputs();
  EXPECT_THAT(entriesOf(folder.path()), ElementsAre(live.temporary().filename().string()));
  EXPECT_EQ(unfinished().size(), 1u);
  live.commit();
  EXPECT_THAT(entriesOf(folder.path()), ElementsAre("live.mp4"));
}

// Runs `write` in a child process, which it ends with SIGKILL as kill -9 would.
void killedWhileWriting(const std::function<void()>& write) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    write();
    ::_exit(1);  // `write` did not end as it should
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
}

TEST_F(OutputFileTest, TheSweepTrustsNothingARegisterEntrySays) {
  const std::filesystem::path register_ = applicationDataFolder() / "Unfinished";
  std::filesystem::create_directories(register_);
  writeText(folder / ".precious_notes", "notes");
  writeText(folder / "movie.mp4", "the movie");
  writeText(folder / ".movie.Abc123.mp4", "a file that only looks like a temporary");
  writeText(folder / "Shots" / "take.txt", "inside a folder");
  std::filesystem::create_symlink(folder / "movie.mp4", folder / ".clip.Link01.mp4");
  const std::string here = folder.path().string();
  const std::map<std::string, std::string> entries = {
      {"output-named", here + "/.precious_notes"},  // a bare path, as damaged entries hold
      {"output-hidden", here + "/notes\n" + here + "/.precious_notes\n"},
      {"output-folder", here + "/Shots.d\n" + here + "/Shots\n"},
      {"output-dotdot", here + "/Shots/../movie.mp4\n" + here + "/Shots/../.movie.Abc123.mp4\n"},
      {"output-elsewhere", here + "/Shots/movie.mp4\n" + here + "/.movie.Abc123.mp4\n"},
      {"output-relative", "movie.mp4\n.movie.Abc123.mp4\n"},
      {"output-link", here + "/clip.mp4\n" + here + "/.clip.Link01.mp4\n"}};
  for (const auto& [name, text] : entries) writeText(register_ / name, text);
  std::filesystem::create_symlink(folder / ".precious_notes", register_ / "output-symlink");
  std::filesystem::create_directories(register_ / "output-subfolder");

  sweepAbandonedOutputs();
  EXPECT_EQ(readFile(folder / ".precious_notes"), "notes");
  EXPECT_EQ(readFile(folder / "movie.mp4"), "the movie");
  EXPECT_EQ(readFile(folder / ".movie.Abc123.mp4"), "a file that only looks like a temporary");
  EXPECT_EQ(readFile(folder / "Shots" / "take.txt"), "inside a folder");
  EXPECT_TRUE(std::filesystem::is_symlink(folder / ".clip.Link01.mp4"));
  EXPECT_THAT(unfinished(), ElementsAre("output-subfolder"))
      << "entries are dropped; a folder is left alone";
}

TEST_F(OutputFileTest, AWriterKilledWhileTheDataFolderIsReadOnlyIsSweptLater) {
  std::filesystem::create_directories(applicationDataFolder());
  {
    testing::ReadOnlyFolder readOnly(applicationDataFolder());
    if (!readOnly.works()) GTEST_SKIP() << "no way to make a folder read-only here";
    killedWhileWriting([&] {
      OutputFile killed(folder / "killed.mp4");
      writeText(killed.temporary(), "half a movie");
      ::raise(SIGKILL);
    });
  }
  ASSERT_EQ(entriesOf(folder.path()).size(), 1u) << "the killed writer's temporary is left";
  sweepAbandonedOutputs();
  EXPECT_THAT(entriesOf(folder.path()), IsEmpty());
}

}  // namespace
}  // namespace brisklet
