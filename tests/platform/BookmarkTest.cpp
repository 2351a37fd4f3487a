#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/Bookmark.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using testing::TemporaryFolder;
using testing::writeText;

TEST(Bookmark, ResolvesToTheChosenFileAndFolder) {
  TemporaryFolder folder;
  writeText(folder / "clips" / "day one.mp4", "video");
  EXPECT_EQ(resolveBookmark(makeBookmark(folder / "clips" / "day one.mp4")),
            folder / "clips" / "day one.mp4");
  EXPECT_EQ(resolveBookmark(makeBookmark(folder / "clips")), folder / "clips");
  // A name that is bytes, not UTF-8, as Linux allows.
  writeText(folder / "caf\xFF.mp4", "video");
  EXPECT_EQ(resolveBookmark(makeBookmark(folder / "caf\xFF.mp4")).string(),
            (folder / "caf\xFF.mp4").string());
}

TEST(Bookmark, SurvivesTheFileBeingReplacedInPlace) {
  TemporaryFolder folder;
  writeText(folder / "a.mp4", "old");
  const ByteString bookmark = makeBookmark(folder / "a.mp4");
  std::filesystem::remove(folder / "a.mp4");
  writeText(folder / "a.mp4", "new");
  EXPECT_EQ(resolveBookmark(bookmark), folder / "a.mp4");
}

TEST(Bookmark, AGoneFileFailsWithASentenceNamingIt) {
  TemporaryFolder folder;
  writeText(folder / "holiday.mov", "video");
  const ByteString bookmark = makeBookmark(folder / "holiday.mov");
  std::filesystem::remove(folder / "holiday.mov");
  EXPECT_THAT([&] { resolveBookmark(bookmark); },
              ::testing::ThrowsMessage<BookmarkError>(
                  AllOf(HasSubstr("\u201Choliday.mov\u201D"), HasSubstr("could not be found"))));
  EXPECT_THAT([&] { makeBookmark(folder / "never.mov"); },
              ::testing::ThrowsMessage<BookmarkError>(HasSubstr("\u201Cnever.mov\u201D")));
}

TEST(Bookmark, DamagedBytesAreAnErrorNotACrash) {
  const std::vector<std::string> damaged = {"",
                                            "not json",
                                            "[]",
                                            R"({"version":2,"path":"/tmp"})",
                                            R"({"version":"1","path":"/tmp"})",
                                            R"({"version":1})",
                                            R"({"version":1,"path":"relative/file.mp4"})",
                                            R"({"version":1,"path":42})"};
  for (const std::string& text : damaged)
    EXPECT_THROW(resolveBookmark(ByteString(text.begin(), text.end())), BookmarkError) << text;
}

}  // namespace
}  // namespace brisklet
