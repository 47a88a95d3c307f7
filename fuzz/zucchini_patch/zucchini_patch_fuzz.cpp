// The patcher's reader: a patch of either format applied to a fixed old file. Besides not
// crashing, an accepted patch of the own format must have produced exactly the size and SHA-256
// its header names.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tools/zucchini/portable/byte_io.h"
#include "tools/zucchini/portable/sha256.h"
#include "tools/zucchini/portable/zpatch.h"

namespace {

// The old file every seed in corpus/ was made against.
const std::vector<uint8_t>& OldFile() {
  static const std::vector<uint8_t> old = [] {
    std::vector<uint8_t> bytes(4096);
    for (uint32_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 + (i >> 5) * 7);
    return bytes;
  }();
  return old;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<uint8_t> patchBytes(data, data + size);
  oku::zucchini::MemorySource old(OldFile());
  oku::zucchini::MemorySource patch(patchBytes);
  oku::zucchini::MemorySink out;
  const oku::zucchini::Result result = oku::zucchini::ApplyAnyPatch(old, patch, out);
  if (result.ok() && oku::zucchini::LooksLikeZpatch(data, size)) {
    if (size < oku::zucchini::zpatch::kHeaderSize) __builtin_trap();
    uint64_t newSize = 0;
    for (int i = 7; i >= 0; --i) newSize = (newSize << 8) | data[16 + i];
    if (out.bytes().size() != newSize) __builtin_trap();
    const auto digest = oku::zucchini::Sha256Of(out.bytes().data(), out.bytes().size());
    if (std::memcmp(digest.data(), data + 56, 32) != 0) __builtin_trap();
  }
  if (!result.ok() && result.message.empty()) __builtin_trap();
  return 0;
}
