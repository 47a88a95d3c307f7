// Simulated installation progress: a background thread advances a simulated clock every tick,
// maps it through an easing curve and posts each new whole percentage to the window
// (WM_USER + 100), and on the accelerated finish posts 100 and the end message (WM_USER + 102).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "common/handles.h"
#include "setup/portable/segmented_smooth_curve.h"

constexpr UINT kProgressMessage = WM_USER + 100;     // wParam: percentage
constexpr UINT kProgressDoneMessage = WM_USER + 102;  // the installation has ended

// Real-time pacing. The simulated tick stays 0.1 s whatever the real tick is, so the sequence of
// percentages does not depend on these; tests shorten them.
struct ProgressTiming {
  DWORD tickMilliseconds = 100;    // real time between ticks
  DWORD finishDelayMilliseconds = 800;  // between the final 100 and the end message
};

// Tests drive the clock with these: when set, each replaces the real pause it stands for and is
// given its length. tick runs on the progress thread after each tick with the simulated clock the
// tick advanced to; a Stop meanwhile still ends the thread once it returns. finish runs in
// FinishAccelerated between the 100 and the end message.
struct ProgressPauses {
  std::function<void(double simulatedSeconds, DWORD milliseconds)> tick;
  std::function<void(DWORD milliseconds)> finish;
};

class ProgressSimulator {
 public:
  explicit ProgressSimulator(HWND window, ProgressTiming timing = ProgressTiming(),
                             ProgressPauses pauses = ProgressPauses());
  // Ends a running thread like Stop.
  ~ProgressSimulator();
  ProgressSimulator(const ProgressSimulator&) = delete;
  ProgressSimulator& operator=(const ProgressSimulator&) = delete;

  // Starts the progress thread unless one exists (one that ended at 99 still counts until Stop).
  void Start();
  // Ends the thread and returns once it has gone: nothing is posted after Stop returns, neither
  // by the thread nor by a FinishAccelerated that is still under way. The speed is kept.
  void Stop();
  // Speeds the clock up 15 times, waits for the thread to reach 99 and end, posts 100 and, after
  // the finish delay, the end message. Blocks its caller meanwhile.
  void FinishAccelerated();
  // Simulated seconds per real second: 1, and 15 from FinishAccelerated on.
  double Speed() const { return speed_.load(); }

 private:
  static DWORD WINAPI ThreadProc(LPVOID parameter);
  DWORD Run();

  HWND window_;
  oku::KernelHandle thread_;
  std::mutex lock_;  // guards thread_ (Start, Stop, FinishAccelerated's look at it)
  std::atomic<double> speed_{1.0};
  std::unique_ptr<CurveAlgorithm> curve_;
  double duration_ = 40.0;
  double interval_ = 0.1;
  int32_t maximum_ = 100;

  ProgressTiming timing_;
  ProgressPauses pauses_;
  oku::KernelHandle stopEvent_;  // manual reset; set by Stop, reset by Start
  std::mutex postLock_;          // orders FinishAccelerated's posts against Stop
  uint64_t stopCount_ = 0;       // guarded by postLock_; a FinishAccelerated posts only if unchanged
};
