#include "setup/portable/segmented_smooth_curve.h"

#include <algorithm>
#include <cmath>

double SegmentedSmoothCurve::Evaluate(double t) const {
  // A non-positive duration would divide by zero; such a curve is already at its end.
  double x = duration_ > 0.0 ? t / duration_ : 1.0;
  if (std::isnan(x)) x = 0.0;
  x = std::clamp(x, 0.0, 1.0);
  if (x <= 0.3) return 80.0 * std::log(1.0 + 1.7 * x / 0.3);
  if (x <= 0.7) {
    const double u = (x - 0.3) / 0.4;
    return 80.0 + 10.0 * u * u * (3.0 - 2.0 * u);
  }
  const double u = (x - 0.7) / 0.3;
  return 90.0 + 10.0 * u * u * (3.0 - 2.0 * u);
}
