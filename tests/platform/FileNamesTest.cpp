#include <gtest/gtest.h>

#include <string>

#include "platform/FileNames.h"

namespace brisklet {
namespace {

TEST(FileNames, OnlyANameDirectlyInsideTheFolderIsPlain) {
  for (const char* name :
       {"music.mp3", "enhanced_cc_g150.m4a", ".hidden", "a..b", "name with space"})
    EXPECT_TRUE(isPlainFileName(name)) << name;
  for (const char* name :
       {"", ".", "..", "../project.json", "/etc/passwd", "narration/x.mp3", "a/..", "..\\x", "x/"})
    EXPECT_FALSE(isPlainFileName(name)) << name;
  EXPECT_FALSE(isPlainFileName(std::string("a\0b", 3)));
}

}  // namespace
}  // namespace brisklet
