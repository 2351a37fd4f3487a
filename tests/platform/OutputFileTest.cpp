#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/AtomicFile.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"
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

}  // namespace
}  // namespace brisklet
