#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "model/ProjectStore.h"
#include "support/Projects.h"
#include "support/TemporaryFolder.h"

namespace brisklet {
namespace {

// A process killed at any moment while saving must leave a record that loads: the old one or
// the new one, never a torn one.
TEST(ProjectStoreCrash, KillingASaverAtRandomMomentsAlwaysLeavesALoadableRecord) {
  testing::TemporaryFolder folder;
  const ProjectStore store(folder / "Projects");
  Project project = testing::sampleProject("Crash", "2025-03-01T10:00:00Z", 200);
  store.save(project);

  std::mt19937 random(20261206);
  std::uniform_int_distribution<int> delayMicroseconds(0, 6000);
  constexpr int kKills = 200;
  for (int kill = 0; kill < kKills; ++kill) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Each save differs in size so a torn write would show.
      for (int round = 0;; ++round) {
        project.editPlan->segments.resize(100 + (round * 37) % 100);
        project.editPlan->planRevision = round;
        store.save(project);
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    const std::vector<Project> loaded = store.loadAll();
    ASSERT_EQ(loaded.size(), 1u) << "after kill " << kill;
    ASSERT_EQ(loaded[0].id, project.id);
    ASSERT_GE(loaded[0].editPlan->segments.size(), 100u);
  }
}

}  // namespace
}  // namespace brisklet
