#include <exception>
#include <new>

#include "tools/zucchini/portable/file_system.h"
#include "tools/zucchini/portable/vcdiff.h"
#include "tools/zucchini/portable/zpatch.h"

namespace oku::zucchini {

namespace {

constexpr const char* kUsage = "usage: zucchini -apply <old> <patch> <new> | -gen <old> <new> <patch>";

int ExitFor(ResultCode code) {
  switch (code) {
    case ResultCode::kOk: return kExitOk;
    case ResultCode::kReadSourceFailed:
    case ResultCode::kReadTargetFailed:
    case ResultCode::kReadPatchFailed: return kExitInput;
    case ResultCode::kCorruptPatch:
    case ResultCode::kUnsupported: return kExitCorrupt;
    case ResultCode::kChecksumMismatch: return kExitChecksum;
    case ResultCode::kWriteFailed: return kExitWrite;
    case ResultCode::kSourceMismatch: return kExitWrongOld;
  }
  return kExitInternal;
}

int Run(const std::vector<std::string>& args, FileSystem& files, std::string* message) {
  if (args.size() != 4 || (args[0] != "-apply" && args[0] != "-gen")) {
    *message = kUsage;
    return kExitUsage;
  }
  const bool apply = args[0] == "-apply";
  std::string error;
  auto old = files.OpenRead(args[1], &error);
  if (!old) {
    *message = error;
    return kExitInput;
  }
  auto second = files.OpenRead(args[2], &error);
  if (!second) {
    *message = error;
    return kExitInput;
  }
  auto out = files.CreateOutput(args[3], &error);
  if (!out) {
    *message = error;
    return kExitWrite;
  }
  const Result result = apply ? ApplyAnyPatch(*old, *second, *out) : EncodeZpatch(*old, *second, *out);
  if (!result.ok()) {
    *message = result.message;
    return ExitFor(result.code);
  }
  if (!out->Commit(&error)) {
    *message = error;
    return kExitWrite;
  }
  return kExitOk;
}

}  // namespace

int RunZucchini(const std::vector<std::string>& args, FileSystem& files, std::string* message) {
  try {
    return Run(args, files, message);
  } catch (const std::bad_alloc&) {
    *message = "out of memory";
  } catch (const std::exception& e) {
    *message = std::string("unexpected failure: ") + e.what();
  }
  return kExitInternal;
}

}  // namespace oku::zucchini
