// Extraction of a 190 MiB payload resource against the system's own file copy (CopyFileW) of
// the same bytes, in one run, and the private memory the extracting process needs meanwhile.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "workspace/payload.h"
#include "bench_timing.h"

namespace {

using bench::Now;

constexpr std::uint32_t kPayloadId = 1;
constexpr int kRounds = 9;
constexpr double kMiB = 1048576.0;

PROCESS_MEMORY_COUNTERS_EX Memory() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
  return counters;
}

}  // namespace

int wmain() {
  HMODULE self = ::GetModuleHandleW(nullptr);
  HRSRC resource = ::FindResourceW(self, MAKEINTRESOURCEW(kPayloadId), MAKEINTRESOURCEW(10));
  if (!resource) {
    std::fprintf(stderr, "bench: payload resource missing\n");
    return 2;
  }
  const double size = ::SizeofResource(self, resource);
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"oku_extract_bench_" + std::to_wstring(::GetCurrentProcessId());
  ::CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring source = dir + L"\\source.bin";
  const std::wstring extracted = dir + L"\\extracted.bin";
  const std::wstring copied = dir + L"\\copied.bin";

  const PROCESS_MEMORY_COUNTERS_EX baseline = Memory();
  // Warm-up: both sides then read bytes that are in the page cache.
  if (!ExtractResource(self, kPayloadId, source)) {
    std::fprintf(stderr, "bench: extraction failed (%lu)\n", ::GetLastError());
    return 1;
  }
  double bestExtract = 1e9;
  double bestCopy = 1e9;
  std::uint64_t peakPrivateDuring = 0;
  for (int round = 0; round < kRounds; ++round) {
    double start = Now();
    const bool ok = ExtractResource(self, kPayloadId, extracted);
    bestExtract = std::min(bestExtract, Now() - start);
    peakPrivateDuring = std::max<std::uint64_t>(peakPrivateDuring, Memory().PrivateUsage);
    ::DeleteFileW(extracted.c_str());

    start = Now();
    const bool copiedOk = ::CopyFileW(source.c_str(), copied.c_str(), FALSE) != FALSE;
    bestCopy = std::min(bestCopy, Now() - start);
    ::DeleteFileW(copied.c_str());
    if (!ok || !copiedOk) {
      std::fprintf(stderr, "bench: round %d failed\n", round);
      return 1;
    }
  }
  const PROCESS_MEMORY_COUNTERS_EX end = Memory();
  ::DeleteFileW(source.c_str());
  ::RemoveDirectoryW(dir.c_str());

  const double extractRate = size / kMiB / bestExtract;
  const double copyRate = size / kMiB / bestCopy;
  std::printf("payload:              %.1f MiB (resource %u)\n", size / kMiB, kPayloadId);
  std::printf("ExtractResource:      %.3f s  %.0f MiB/s (best of %d)\n", bestExtract, extractRate, kRounds);
  std::printf("CopyFileW:            %.3f s  %.0f MiB/s (best of %d)\n", bestCopy, copyRate, kRounds);
  std::printf("throughput ratio:     %.2f (extract / copy; goal >= 0.90)\n", extractRate / copyRate);
  std::printf("private usage:        baseline %.1f MiB, highest after an extraction %.1f MiB, at end %.1f MiB\n",
              baseline.PrivateUsage / kMiB, peakPrivateDuring / kMiB, end.PrivateUsage / kMiB);
  std::printf("peak pagefile usage:  %.1f MiB (goal: far below the payload)\n", end.PeakPagefileUsage / kMiB);
  std::printf("peak working set:     %.1f MiB (includes the mapped image)\n", end.PeakWorkingSetSize / kMiB);
  return 0;
}
