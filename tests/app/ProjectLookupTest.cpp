#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/ProjectLookup.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

using ::testing::HasSubstr;

TEST(ProjectLookup, FindsByFullIdOrUniquePrefixInEitherCase) {
  testing::TemporaryFolder folder;
  ProjectStore store(folder / "Projects");
  store.save(testing::sampleProjectWithId("First", "2025-03-01T10:00:00Z",
                                          "AB000000-0000-4000-8000-000000000001"));
  store.save(testing::sampleProjectWithId("Second", "2025-03-02T10:00:00Z",
                                          "AC000000-0000-4000-8000-000000000002"));
  AppState state(store);

  EXPECT_EQ(findProject(state, "AB000000-0000-4000-8000-000000000001").name, "First");
  EXPECT_EQ(findProject(state, "ac").name, "Second");
  EXPECT_THAT([&] { findProject(state, "A"); },
              ::testing::ThrowsMessage<ProjectLookupError>(HasSubstr("matches 2 projects")));
  EXPECT_THAT([&] { findProject(state, "FF"); },
              ::testing::ThrowsMessage<ProjectLookupError>(HasSubstr("No project has the id")));
  EXPECT_THROW(findProject(state, ""), ProjectLookupError);
}

}  // namespace
}  // namespace brisklet
