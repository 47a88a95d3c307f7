// Easing curves of the simulated installation progress: percentage (0-100, fractional) for a
// simulated time in seconds. Pure arithmetic, built for Windows and natively.
#pragma once

// An easing curve; Evaluate must be callable from any thread.
class CurveAlgorithm {
 public:
  virtual ~CurveAlgorithm() = default;
  // Percentage for the simulated time t (seconds).
  virtual double Evaluate(double t) const = 0;
};

// Logarithmic rise to about 80 % in the first 30 % of the duration, then two smoothstep segments
// 80 -> 90 (30 %-70 %) and 90 -> 100 (70 %-100 %). Times outside [0, duration] are clamped.
class SegmentedSmoothCurve : public CurveAlgorithm {
 public:
  explicit SegmentedSmoothCurve(double duration) : duration_(duration) {}
  double Evaluate(double t) const override;

 private:
  double duration_;
};
