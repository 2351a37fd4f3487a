#include <gtest/gtest.h>

#include "media/SegmentTimeMapping.h"

namespace brisklet {
namespace {

SegmentTimeMapping mapping(double sourceStartSec, double compositionStartSec, double durationSec) {
  return {Uuid::random(), sourceStartSec, compositionStartSec, durationSec};
}

TEST(SegmentTimeMapping, WithoutMappingsNeitherConversionAnswers) {
  EXPECT_FALSE(compositionTime({}, 0).has_value());
  EXPECT_FALSE(sourceTime({}, 0).has_value());
  EXPECT_EQ(keptDurationSec({}), 0);
}

TEST(SegmentTimeMapping, ConvertsBetweenTheAxesWithHalfOpenRanges) {
  // Kept: source 2–5 and 9–12 (dropped 5–9), output 0–3 and 3–6.
  const std::vector<SegmentTimeMapping> mappings = {mapping(2, 0, 3), mapping(9, 3, 3)};
  EXPECT_EQ(compositionTime(mappings, 2.0), 0.0);
  EXPECT_EQ(compositionTime(mappings, 4.5), 2.5);
  EXPECT_EQ(compositionTime(mappings, 9.0), 3.0);
  EXPECT_FALSE(compositionTime(mappings, 5.0).has_value()) << "end of a kept segment";
  EXPECT_FALSE(compositionTime(mappings, 7.0).has_value()) << "inside a dropped stretch";
  EXPECT_FALSE(compositionTime(mappings, 1.9).has_value()) << "before the first";
  EXPECT_FALSE(compositionTime(mappings, 12.0).has_value()) << "at the end of the last";

  EXPECT_EQ(sourceTime(mappings, 0.0), 2.0);
  EXPECT_EQ(sourceTime(mappings, 3.0), 9.0) << "a shared boundary belongs to the next segment";
  EXPECT_EQ(sourceTime(mappings, 5.5), 11.5);
  EXPECT_EQ(sourceTime(mappings, 6.0), 12.0) << "the very end is the last source end";
  EXPECT_EQ(sourceTime(mappings, 60.0), 12.0);
  EXPECT_EQ(sourceTime(mappings, -1.0), 12.0) << "a negative time also gives the end";
  EXPECT_EQ(keptDurationSec(mappings), 6.0);
}

TEST(SegmentTimeMapping, TouchingSegmentsGiveTheBoundaryToTheLaterOne) {
  const std::vector<SegmentTimeMapping> mappings = {mapping(0, 0, 4), mapping(4, 4, 2)};
  EXPECT_EQ(compositionTime(mappings, 4.0), 4.0);
  EXPECT_EQ(sourceTime(mappings, 4.0), 4.0);
  // Rounded output starts may overlap the previous segment's unrounded end by less than a
  // tick: the first match answers.
  const std::vector<SegmentTimeMapping> overlapping = {mapping(0, 0, 1.0004),
                                                       mapping(1.0004, 1.0, 1)};
  EXPECT_NEAR(*sourceTime(overlapping, 1.0002), 1.0002, 1e-12);
}

}  // namespace
}  // namespace brisklet
