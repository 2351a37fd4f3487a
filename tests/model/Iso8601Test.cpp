#include <gtest/gtest.h>

#include "model/Iso8601.h"

namespace brisklet {
namespace {

using namespace std::chrono;

TEST(Iso8601, WritesWholeSecondsInUtcWithZ) {
  const Timestamp instant = sys_days(2025y / January / 31) + 9h + 15min + 0s + 789ms;
  EXPECT_EQ(formatIso8601(instant), "2025-01-31T09:15:00Z");
  EXPECT_EQ(formatIso8601(Timestamp(sys_days(1999y / December / 31) + 23h + 59min + 59s)),
            "1999-12-31T23:59:59Z");
}

TEST(Iso8601, ReadsFractionsAndOffsets) {
  const Timestamp expected = sys_days(2025y / January / 31) + 9h + 15min;
  EXPECT_EQ(parseIso8601("2025-01-31T09:15:00Z"), expected);
  EXPECT_EQ(parseIso8601("2025-01-31T09:15:00.250Z"), expected + 250ms);
  EXPECT_EQ(parseIso8601("2025-01-31T09:15:00.5Z"), expected + 500ms);
  EXPECT_EQ(parseIso8601("2025-01-31T11:15:00+02:00"), expected);
  EXPECT_EQ(parseIso8601("2025-01-31T04:45:00-04:30"), expected);
}

TEST(Iso8601, RejectsAnythingElse) {
  for (const char* text :
       {"", "2025-01-31", "2025-01-31T09:15:00", "2025-02-30T09:15:00Z", "2025-13-01T00:00:00Z",
        "2025-01-31T24:00:00Z", "2025-01-31 09:15:00Z", "2025-01-31T09:15:00.Z",
        "2025-01-31T09:15:00Zjunk", "2025-01-31T09:15:00+0200", "20x5-01-31T09:15:00Z"})
    EXPECT_FALSE(parseIso8601(text).has_value()) << text;
}

}  // namespace
}  // namespace brisklet
