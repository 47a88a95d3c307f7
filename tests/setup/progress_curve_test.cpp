// The progress curve's shape: sample values, segment boundaries, clamping.
#include <gtest/gtest.h>

#include <cmath>

#include "setup/portable/segmented_smooth_curve.h"

namespace {

TEST(SegmentedSmoothCurve, SampleValues) {
  const SegmentedSmoothCurve curve(40.0);
  struct Sample {
    double t;
    double percent;
  };
  const Sample samples[] = {{0.0, 0.0},  {1.0, 10.6},  {4.0, 35.9},  {10.0, 70.6}, {12.0, 79.5},
                            {20.0, 85.0}, {28.0, 90.0}, {36.0, 97.4}, {38.0, 99.3}, {40.0, 100.0}};
  for (const Sample& s : samples) {
    EXPECT_NEAR(curve.Evaluate(s.t), s.percent, 0.05) << "t = " << s.t;
  }
}

TEST(SegmentedSmoothCurve, SegmentsMeetAsDescribed) {
  const SegmentedSmoothCurve curve(40.0);
  EXPECT_NEAR(curve.Evaluate(12.0), 80.0 * std::log(2.7), 1e-9);  // end of the logarithmic part
  EXPECT_NEAR(curve.Evaluate(12.0 + 1e-9), 80.0, 1e-9);  // the small jump to 80
  EXPECT_NEAR(curve.Evaluate(28.0), 90.0, 1e-9);
  // Never decreasing except at the 79.46 -> 80 jump, which goes up.
  double previous = curve.Evaluate(0.0);
  for (int i = 1; i <= 400; ++i) {
    const double value = curve.Evaluate(i * 0.1);
    EXPECT_GE(value, previous) << "t = " << i * 0.1;
    previous = value;
  }
}

TEST(SegmentedSmoothCurve, ClampsOutsideTheDuration) {
  const SegmentedSmoothCurve curve(40.0);
  EXPECT_DOUBLE_EQ(curve.Evaluate(-5.0), 0.0);
  EXPECT_DOUBLE_EQ(curve.Evaluate(1000.0), 100.0);
  EXPECT_DOUBLE_EQ(curve.Evaluate(std::nan("")), 0.0);
  const SegmentedSmoothCurve degenerate(0.0);
  EXPECT_DOUBLE_EQ(degenerate.Evaluate(1.0), 100.0);
  // Through the base class, as the simulator holds it.
  const CurveAlgorithm& base = curve;
  EXPECT_NEAR(base.Evaluate(20.0), 85.0, 0.05);
}

}  // namespace
