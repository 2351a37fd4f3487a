#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/AtomicFile.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using testing::entriesOf;
using ::testing::HasSubstr;
using testing::TemporaryFolder;

TEST(AtomicFile, ReplacesContentAndLeavesNoTemporaryFile) {
  TemporaryFolder folder;
  writeFileAtomically(folder / "record.json", "first");
  writeFileAtomically(folder / "record.json", "second, longer");
  EXPECT_EQ(readFile(folder / "record.json"), "second, longer");
  EXPECT_THAT(entriesOf(folder.path()), ::testing::ElementsAre("record.json"));
}

TEST(AtomicFile, AppliesTheRequestedPermissions) {
  TemporaryFolder folder;
  writeFileAtomically(folder / "secret", "x", 0600);
  struct stat status {};
  ASSERT_EQ(::stat((folder / "secret").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST(AtomicFile, FailureNamesTheFileAndLeavesTheOldContent) {
  TemporaryFolder folder;
  EXPECT_THAT([&] { writeFileAtomically(folder / "missing-folder" / "record.json", "x"); },
              ::testing::ThrowsMessage<FileError>(HasSubstr("record.json")));

  // A destination that is a folder cannot be replaced by a file; the folder survives.
  std::filesystem::create_directory(folder / "busy");
  EXPECT_THROW(writeFileAtomically(folder / "busy", "x"), FileError);
  EXPECT_TRUE(std::filesystem::is_directory(folder / "busy"));
  EXPECT_THAT(entriesOf(folder.path()), ::testing::ElementsAre("busy"));
}

TEST(AtomicFile, AFullDiskIsReportedAndTheOldFileKept) {
  TemporaryFolder folder;
  writeFileAtomically(folder / "record.json", "kept");
  {
    testing::FileSizeLimit diskFull(16);
    EXPECT_THAT([&] { writeFileAtomically(folder / "record.json", std::string(4096, 'x')); },
                ::testing::ThrowsMessage<FileError>(HasSubstr("record.json")));
  }
  EXPECT_EQ(readFile(folder / "record.json"), "kept");
  EXPECT_THAT(entriesOf(folder.path()), ::testing::ElementsAre("record.json"));
}

TEST(AtomicFile, ReadingMissingFilesFoldersAndPipesFailsAtOnceWithASentence) {
  TemporaryFolder folder;
  EXPECT_THAT([&] { readFile(folder / "nothing.json"); },
              ::testing::ThrowsMessage<FileError>(HasSubstr("No such file or directory")));
  EXPECT_THAT([&] { readFile(folder.path()); },
              ::testing::ThrowsMessage<FileError>(HasSubstr("is a folder, not a file.")));
  // Nobody writes into the pipe: opening it for reading the usual way would wait for ever.
  ASSERT_EQ(::mkfifo((folder / "pipe.json").c_str(), 0600), 0);
  EXPECT_THAT([&] { readFile(folder / "pipe.json"); },
              ::testing::ThrowsMessage<FileError>(
                  ::testing::StrEq("\u201Cpipe.json\u201D is a pipe, not a file.")));
  std::filesystem::create_symlink(folder / "pipe.json", folder / "link.json");
  EXPECT_THROW(requireRegularFile(folder / "link.json"), FileError) << "links are followed";
  testing::writeText(folder / "plain.json", "{}");
  EXPECT_NO_THROW(requireRegularFile(folder / "plain.json"));
}

}  // namespace
}  // namespace brisklet
