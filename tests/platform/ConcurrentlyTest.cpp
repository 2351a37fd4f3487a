#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/Concurrently.h"

namespace brisklet {
namespace {

using ::testing::ElementsAre;

TEST(Concurrently, RangesCoverEverythingInNearlyEqualPiecesNoneTooShort) {
  EXPECT_THAT(contiguousRanges(10, 3, 1),
              ElementsAre(IndexRange{0, 3}, IndexRange{3, 6}, IndexRange{6, 10}));
  EXPECT_THAT(contiguousRanges(100, 4, 40), ElementsAre(IndexRange{0, 50}, IndexRange{50, 100}))
      << "no piece under 40";
  EXPECT_THAT(contiguousRanges(30, 4, 40), ElementsAre(IndexRange{0, 30})) << "one short piece";
  EXPECT_THAT(contiguousRanges(5, 0, 0), ElementsAre(IndexRange{0, 5}));
  EXPECT_TRUE(contiguousRanges(0, 4, 1).empty());
}

TEST(Concurrently, PiecesRunAtTheSameTimeAndTheFirstFailureComesBackAfterAllEnded) {
  // Every piece waits until all have started: run one after another, they would time out.
  std::mutex mutex;
  std::condition_variable allStarted;
  int started = 0;
  std::atomic<int> ended = 0;
  std::atomic<bool> timedOut = false;
  const auto work = [&](size_t piece) {
    {
      std::unique_lock lock(mutex);
      ++started;
      allStarted.notify_all();
      if (!allStarted.wait_for(lock, std::chrono::seconds(10), [&] { return started == 3; }))
        timedOut = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(piece == 2 ? 50 : 0));
    ++ended;
    if (piece > 0) throw std::runtime_error("piece " + std::to_string(piece));
  };
  try {
    runConcurrently(3, work);
    FAIL() << "the failures were lost";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "piece 1");
  }
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(ended, 3) << "the slowest piece was waited for";
}

}  // namespace
}  // namespace brisklet
