#include "setup/progress_simulator.h"

#include <algorithm>
#include <string>
#include <utility>

#include "common/portable/text.h"
#include "common/session_log.h"

ProgressSimulator::ProgressSimulator(HWND window, ProgressTiming timing, ProgressPauses pauses)
    : window_(window),
      timing_(timing),
      pauses_(std::move(pauses)),
      stopEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  curve_ = std::make_unique<SegmentedSmoothCurve>(duration_);
}

ProgressSimulator::~ProgressSimulator() { Stop(); }

void ProgressSimulator::Start() {
  std::lock_guard<std::mutex> guard(lock_);
  if (thread_) {
    LogInfo(L"进度条线程已存在，忽略启动请求");
    return;
  }
  LogInfo(L"进度条，启动！");
  if (stopEvent_) ::ResetEvent(stopEvent_.get());
  thread_ = oku::StartThread(&ProgressSimulator::ThreadProc, this);
  if (!thread_) {
    LogInfo(L"创建进度条线程失败，错误码: " + oku::ToWide(::GetLastError()));
  }
}

void ProgressSimulator::Stop() {
  {
    std::lock_guard<std::mutex> posts(postLock_);
    ++stopCount_;
  }
  std::lock_guard<std::mutex> guard(lock_);
  // Set under the lock so that a concurrent Start cannot reset it before the thread sees it.
  if (stopEvent_) ::SetEvent(stopEvent_.get());
  if (!thread_) return;
  // The thread waits on the stop event between ticks and takes no lock of ours, so it ends within
  // one tick's work; waiting here keeps it from posting after we return.
  ::WaitForSingleObject(thread_.get(), INFINITE);
  thread_.reset();
}

void ProgressSimulator::FinishAccelerated() {
  LogInfo(L"进度条，加速结束！");
  uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> posts(postLock_);
    generation = stopCount_;
  }
  speed_.exchange(15.0);

  oku::KernelHandle running;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (thread_) {
      HANDLE copy = nullptr;
      if (::DuplicateHandle(::GetCurrentProcess(), thread_.get(), ::GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0)) {
        running.reset(copy);
      }
    }
  }
  if (running) ::WaitForSingleObject(running.get(), INFINITE);

  auto postUnlessStopped = [&](UINT message, WPARAM wParam) {
    std::lock_guard<std::mutex> posts(postLock_);
    if (stopCount_ != generation) return false;
    ::PostMessageW(window_, message, wParam, 0);
    return true;
  };
  if (!postUnlessStopped(kProgressMessage, static_cast<WPARAM>(maximum_))) return;
  if (pauses_.finish) {
    pauses_.finish(timing_.finishDelayMilliseconds);
    postUnlessStopped(kProgressDoneMessage, 0);
    return;
  }
  // A Stop during the delay cuts it short and suppresses the end message. The event may still be
  // set by a Stop from before this call (no Start since); then the full delay is slept.
  const ULONGLONG deadline = ::GetTickCount64() + timing_.finishDelayMilliseconds;
  if (!stopEvent_ || ::WaitForSingleObject(stopEvent_.get(), timing_.finishDelayMilliseconds) == WAIT_OBJECT_0) {
    bool stopped = false;
    {
      std::lock_guard<std::mutex> posts(postLock_);
      stopped = stopCount_ != generation;
    }
    const ULONGLONG now = ::GetTickCount64();
    if (!stopped && now < deadline) ::Sleep(static_cast<DWORD>(deadline - now));
  }
  postUnlessStopped(kProgressDoneMessage, 0);
}

DWORD WINAPI ProgressSimulator::ThreadProc(LPVOID parameter) {
  auto* self = static_cast<ProgressSimulator*>(parameter);
  if (!self) {
    LogInfo(L"进度条线程参数无效");
    return 1;
  }
  return self->Run();
}

DWORD ProgressSimulator::Run() {
  const int limit = maximum_ - 1;
  int last = 0;
  double clock = 0.0;
  while (last < limit) {
    const int value = std::min(static_cast<int>(curve_->Evaluate(clock)), limit);
    if (value != last) {
      LogInfo(L"当前进度:" + oku::ToWide(value));
      ::PostMessageW(window_, kProgressMessage, static_cast<WPARAM>(value), 0);
    }
    clock += speed_.load() * interval_;
    if (pauses_.tick) {
      pauses_.tick(clock, timing_.tickMilliseconds);
      if (stopEvent_ && ::WaitForSingleObject(stopEvent_.get(), 0) == WAIT_OBJECT_0) break;
      last = value;
      continue;
    }
    // Waiting on the stop event instead of sleeping lets Stop end the thread between ticks,
    // never inside a log call or any other locked section.
    if (stopEvent_ && ::WaitForSingleObject(stopEvent_.get(), timing_.tickMilliseconds) == WAIT_OBJECT_0) break;
    if (!stopEvent_) ::Sleep(timing_.tickMilliseconds);
    last = value;
  }
  LogInfo(L"进度条线程，结束！");
  return 0;
}
