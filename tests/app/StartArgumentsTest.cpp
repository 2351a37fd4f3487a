#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/StartArguments.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;

StartArguments parsed(std::vector<std::string> arguments) {
  return parseStartArguments(arguments, "1.2.3");
}

TEST(StartArguments, FilesAndAddressesAreImportedAndOptionsAnswered) {
  EXPECT_THAT(parsed({"/v/a.mp4", "b.MOV", "file:///v/Day%20one.mp4", "file://localhost/v/c.mp4",
                      "file:///v/caf%FF.mp4"})
                  .files,
              ElementsAre("/v/a.mp4", "b.MOV", "/v/Day one.mp4", "/v/c.mp4", "/v/caf\xFF.mp4"));
  EXPECT_EQ(parsed({"--help"}).reply, kStartUsage);
  EXPECT_EQ(parsed({"a.mp4", "-h"}).reply, kStartUsage);
  EXPECT_EQ(parsed({"--version"}).reply, "Brisklet 1.2.3\n");
  EXPECT_THAT(parsed({"--", "--help", "-x.mp4"}).files, ElementsAre("--help", "-x.mp4"));
  EXPECT_FALSE(parsed({"--", "--help"}).reply) << "after -- a name is a name";
  EXPECT_EQ(parsed({"--fullscreen"}).usageError, "unknown option --fullscreen");
  EXPECT_EQ(parsed({"file://nas/v/a.mp4"}).usageError,
            "file://nas/v/a.mp4 is not on this computer");
  EXPECT_TRUE(parsed({}).files.empty());
}

}  // namespace
}  // namespace brisklet
