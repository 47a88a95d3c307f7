// The progress thread against a real message-only window on the test thread: what it posts, in
// which order, and that Stop and destruction silence it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/handles.h"
#include "common/session_log.h"
#include "setup/portable/segmented_smooth_curve.h"
#include "setup/progress_simulator.h"
#include "tests/support/test_support.h"

namespace {

// Short real ticks keep the suite quick; the simulated tick is still 0.1 s.
const ProgressTiming kFast{1, 10};
constexpr ULONGLONG kPumpBoundMs = 60000;  // only against hangs; never reached when things work
constexpr WPARAM kDone = static_cast<WPARAM>(-1);  // stands for WM_USER + 102 in a sequence

class MessageSink {
 public:
  MessageSink() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"OkuProgressTestSink";
    ::RegisterClassW(&wc);  // fails harmlessly when already registered
    hwnd_.reset(
        ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr));
  }
  HWND hwnd() const { return hwnd_.get(); }

  // Moves every queued progress message into received(); others are dispatched.
  void Drain() {
    MSG msg;
    while (::PeekMessageW(&msg, hwnd_.get(), 0, 0, PM_REMOVE)) {
      if (msg.message == kProgressMessage) {
        EXPECT_EQ(msg.lParam, 0);
        received_.push_back(msg.wParam);
      } else if (msg.message == kProgressDoneMessage) {
        EXPECT_EQ(msg.wParam, 0u);
        received_.push_back(kDone);
      } else {
        ::DispatchMessageW(&msg);
      }
    }
  }

  // Pumps until the predicate holds over received() (or the hang bound passes).
  bool PumpUntil(const std::function<bool(const std::vector<WPARAM>&)>& done) {
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
      Drain();
      if (done(received_)) return true;
      if (::GetTickCount64() - start > kPumpBoundMs) return false;
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_POSTMESSAGE);
    }
  }

  std::vector<WPARAM>& received() { return received_; }

 private:
  oku::WindowHandle hwnd_;
  std::vector<WPARAM> received_;
};

// The percentages a run at speed 1 posts: every new whole value of the curve up to 99.
std::vector<WPARAM> ExpectedFullRun() {
  const SegmentedSmoothCurve curve(40.0);
  std::vector<WPARAM> values;
  int last = 0;
  double clock = 0.0;
  while (last < 99) {
    const int value = std::min(static_cast<int>(curve.Evaluate(clock)), 99);
    if (value != last) values.push_back(static_cast<WPARAM>(value));
    clock += 1.0 * 0.1;
    last = value;
  }
  return values;
}

bool StrictlyIncreasing(const std::vector<WPARAM>& values) {
  return std::adjacent_find(values.begin(), values.end(), [](WPARAM a, WPARAM b) { return a >= b; }) == values.end();
}

auto Contains(WPARAM value) {
  return [value](const std::vector<WPARAM>& v) { return std::find(v.begin(), v.end(), value) != v.end(); };
}

size_t CountOf(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++count;
  return count;
}

class ProgressSimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(sink_.hwnd(), nullptr);
    InitLog(dir_.path(), L"progress.log");
  }
  void TearDown() override { CloseLogFile(); }
  std::string LogText() { return oku::test::ReadFileBytes(dir_.Child(L"progress.log")); }

  oku::test::ScratchDirectory dir_{L"progress"};
  MessageSink sink_;
};

TEST_F(ProgressSimulatorTest, RunsToNinetyNineThenFinishPostsHundredAndEnd) {
  ProgressSimulator simulator(sink_.hwnd(), kFast);
  simulator.Start();
  simulator.Start();  // ignored: one thread only
  ASSERT_TRUE(sink_.PumpUntil(Contains(99)));

  // Every new percentage once, starting at 1 (the first tick posts nothing), ending at 99.
  const std::vector<WPARAM> expected = ExpectedFullRun();
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(expected.front(), 1u);
  EXPECT_EQ(expected.back(), 99u);
  EXPECT_EQ(sink_.received(), expected);

  // Finishing after the thread has ended (or while it ends): 100, then the end message.
  sink_.received().clear();
  simulator.FinishAccelerated();
  sink_.Drain();
  EXPECT_EQ(sink_.received(), (std::vector<WPARAM>{100, kDone}));

  CloseLogFile();
  const std::string log = LogText();
  EXPECT_EQ(CountOf(log, "进度条，启动！"), 1u);
  EXPECT_EQ(CountOf(log, "进度条线程已存在，忽略启动请求"), 1u);
  EXPECT_EQ(CountOf(log, "当前进度:"), expected.size());
  EXPECT_NE(log.find("当前进度:1\n"), std::string::npos);
  EXPECT_EQ(log.find("当前进度:0"), std::string::npos);
  EXPECT_EQ(CountOf(log, "进度条线程，结束！"), 1u);
  EXPECT_EQ(CountOf(log, "进度条，加速结束！"), 1u);
}

TEST_F(ProgressSimulatorTest, FinishEarlyRunsTheRestInOrder) {
  ProgressSimulator simulator(sink_.hwnd(), ProgressTiming{20, 10});
  simulator.Start();
  ASSERT_TRUE(sink_.PumpUntil(Contains(1)));
  simulator.FinishAccelerated();  // blocks until the thread has reached 99 and ended
  sink_.Drain();

  const std::vector<WPARAM>& got = sink_.received();
  ASSERT_GE(got.size(), 4u);
  EXPECT_EQ(got.front(), 1u);
  EXPECT_EQ(got[got.size() - 3], 99u);
  EXPECT_EQ(got[got.size() - 2], 100u);
  EXPECT_EQ(got.back(), kDone);
  const std::vector<WPARAM> percentages(got.begin(), got.end() - 2);
  EXPECT_TRUE(StrictlyIncreasing(percentages));
  // Each posted value is one the curve passes at speed 1 or faster, so a subset of the full run.
  const std::vector<WPARAM> full = ExpectedFullRun();
  for (WPARAM v : percentages) EXPECT_NE(std::find(full.begin(), full.end(), v), full.end()) << v;
}

// A clock the test drives: each pause is recorded instead of waited out; the progress thread is
// held in the pause of the first tick that reaches holdAt until released, and the finish is held
// between the 100 and the end message.
class DrivenClock {
 public:
  explicit DrivenClock(double holdAt) : holdAt_(holdAt) {}
  ProgressPauses Pauses() {
    return {[this](double clock, DWORD ms) { Tick(clock, ms); }, [this](DWORD ms) { Finish(ms); }};
  }
  std::vector<double> clocks() {
    std::lock_guard<std::mutex> guard(lock_);
    return clocks_;
  }
  std::vector<DWORD> tickPauses() {
    std::lock_guard<std::mutex> guard(lock_);
    return tickPauses_;
  }
  std::vector<DWORD> finishPauses() {
    std::lock_guard<std::mutex> guard(lock_);
    return finishPauses_;
  }
  oku::KernelHandle held{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  oku::KernelHandle release{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  oku::KernelHandle finishing{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  oku::KernelHandle finishRelease{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

 private:
  void Tick(double clock, DWORD ms) {
    bool hold = false;
    {
      std::lock_guard<std::mutex> guard(lock_);
      clocks_.push_back(clock);
      tickPauses_.push_back(ms);
      hold = !holding_ && clock >= holdAt_;
      holding_ = holding_ || hold;
    }
    if (hold) {
      ::SetEvent(held.get());
      ::WaitForSingleObject(release.get(), static_cast<DWORD>(kPumpBoundMs));
    }
  }
  void Finish(DWORD ms) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      finishPauses_.push_back(ms);
    }
    ::SetEvent(finishing.get());
    ::WaitForSingleObject(finishRelease.get(), static_cast<DWORD>(kPumpBoundMs));
  }

  const double holdAt_;
  std::mutex lock_;
  bool holding_ = false;
  std::vector<double> clocks_;
  std::vector<DWORD> tickPauses_;
  std::vector<DWORD> finishPauses_;
};

// With the production pacing and a driven clock: 100 ms per tick, 0.1 simulated seconds per tick
// until FinishAccelerated, 1.5 (15 times as fast) from the next tick on, the curve sampled at those
// clocks, then 100, an 800 ms pause, and the end message.
TEST_F(ProgressSimulatorTest, FinishRunsTheClockFifteenTimesFasterThenPausesBeforeTheEnd) {
  constexpr double kHoldAt = 2.0;
  DrivenClock clock(kHoldAt);
  ProgressSimulator simulator(sink_.hwnd(), ProgressTiming(), clock.Pauses());
  simulator.Start();
  ASSERT_EQ(::WaitForSingleObject(clock.held.get(), static_cast<DWORD>(kPumpBoundMs)), WAIT_OBJECT_0);
  EXPECT_EQ(simulator.Speed(), 1.0);
  std::thread finisher([&] { simulator.FinishAccelerated(); });
  const ULONGLONG start = ::GetTickCount64();
  while (simulator.Speed() != 15.0 && ::GetTickCount64() - start < kPumpBoundMs) ::Sleep(1);
  const bool accelerated = simulator.Speed() == 15.0;
  ::SetEvent(clock.release.get());
  const DWORD finishing = ::WaitForSingleObject(clock.finishing.get(), static_cast<DWORD>(kPumpBoundMs));
  sink_.Drain();
  const std::vector<WPARAM> beforeEnd = sink_.received();
  ::SetEvent(clock.finishRelease.get());
  finisher.join();
  ASSERT_TRUE(accelerated);
  ASSERT_EQ(finishing, WAIT_OBJECT_0);
  sink_.Drain();

  // The run the clock should have made: speed 1 up to and including the held tick, then 15.
  const SegmentedSmoothCurve curve(40.0);
  std::vector<double> clocks;
  std::vector<WPARAM> values;
  bool fast = false;
  int last = 0;
  double simulated = 0.0;
  while (last < 99) {
    const int value = std::min(static_cast<int>(curve.Evaluate(simulated)), 99);
    if (value != last) values.push_back(static_cast<WPARAM>(value));
    simulated += (fast ? 15.0 : 1.0) * 0.1;
    clocks.push_back(simulated);
    fast = fast || simulated >= kHoldAt;
    last = value;
  }
  const std::vector<double> recorded = clock.clocks();
  ASSERT_EQ(recorded.size(), clocks.size());
  for (size_t i = 0; i < clocks.size(); ++i) EXPECT_DOUBLE_EQ(recorded[i], clocks[i]) << "tick " << i;
  const auto firstFast = std::find_if(clocks.begin(), clocks.end(), [&](double c) { return c >= kHoldAt; });
  ASSERT_NE(firstFast, clocks.end());
  EXPECT_GE(clocks.end() - firstFast, 10) << "the accelerated part is many ticks long";
  EXPECT_DOUBLE_EQ(clocks.back() - clocks[clocks.size() - 2], 1.5);

  EXPECT_EQ(clock.tickPauses(), std::vector<DWORD>(clocks.size(), 100));
  EXPECT_EQ(clock.finishPauses(), std::vector<DWORD>{800});
  values.push_back(100);
  EXPECT_EQ(beforeEnd, values) << "100 is posted before the pause, the end message only after it";
  values.push_back(kDone);
  EXPECT_EQ(sink_.received(), values);
}

TEST_F(ProgressSimulatorTest, FinishWithoutStartPostsHundredThenEnd) {
  ProgressSimulator simulator(sink_.hwnd(), kFast);
  simulator.FinishAccelerated();
  sink_.Drain();
  EXPECT_EQ(sink_.received(), (std::vector<WPARAM>{100, kDone}));
  // With the production pacing as well (one 800 ms delay).
  sink_.received().clear();
  ProgressSimulator production(sink_.hwnd());
  production.FinishAccelerated();
  sink_.Drain();
  EXPECT_EQ(sink_.received(), (std::vector<WPARAM>{100, kDone}));
}

TEST_F(ProgressSimulatorTest, StopSilencesTheThreadAndStartBeginsAgainAtZero) {
  ProgressSimulator simulator(sink_.hwnd(), ProgressTiming{5, 10});
  simulator.Start();
  ASSERT_TRUE(sink_.PumpUntil(Contains(5)));
  simulator.Stop();
  sink_.Drain();  // whatever was posted before Stop returned
  const std::vector<WPARAM> beforeStop = sink_.received();
  EXPECT_TRUE(StrictlyIncreasing(beforeStop));
  EXPECT_LT(beforeStop.back(), 99u);

  ::Sleep(200);  // many ticks' worth: a thread still running would have posted by now
  sink_.Drain();
  EXPECT_EQ(sink_.received(), beforeStop);
  simulator.Stop();  // a second Stop is harmless

  sink_.received().clear();
  simulator.Start();
  ASSERT_TRUE(sink_.PumpUntil(Contains(3)));
  EXPECT_EQ(sink_.received().front(), 1u);  // from 0 again, the same values again
  simulator.Stop();

  CloseLogFile();
  const std::string log = LogText();
  EXPECT_EQ(CountOf(log, "进度条，启动！"), 2u);
  EXPECT_EQ(CountOf(log, "进度条线程，结束！"), 2u);
  EXPECT_EQ(CountOf(log, "进度条线程已存在，忽略启动请求"), 0u);
}

TEST_F(ProgressSimulatorTest, DestructionEndsARunningThread) {
  {
    ProgressSimulator simulator(sink_.hwnd(), kFast);
    simulator.Start();
    ASSERT_TRUE(sink_.PumpUntil(Contains(2)));
  }
  sink_.Drain();
  const std::vector<WPARAM> before = sink_.received();
  ::Sleep(100);
  sink_.Drain();
  EXPECT_EQ(sink_.received(), before);
  EXPECT_EQ(std::find(before.begin(), before.end(), kDone), before.end());
}

TEST_F(ProgressSimulatorTest, StopDuringTheFinishDelaySuppressesTheEndMessage) {
  ProgressSimulator simulator(sink_.hwnd(), ProgressTiming{1, 600000});
  simulator.Start();
  std::thread finisher([&] { simulator.FinishAccelerated(); });
  const bool sawHundred = sink_.PumpUntil(Contains(100));
  simulator.Stop();  // wakes the finisher out of its long delay
  finisher.join();
  ASSERT_TRUE(sawHundred);
  ::Sleep(50);
  sink_.Drain();
  EXPECT_EQ(std::find(sink_.received().begin(), sink_.received().end(), kDone), sink_.received().end());
  EXPECT_EQ(sink_.received().back(), 100u);
}

}  // namespace
