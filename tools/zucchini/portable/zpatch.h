// The patcher's own patch format (docs/patch-format.md): a fixed header naming the old and new
// files by size and SHA-256, then four separately stored streams of a copy-with-difference
// edit (control records, zero/literal runs of the difference, the difference bytes, new bytes),
// laid out so a general-purpose compressor (the package's LZMA2) finds their regularities.
// The encoder matches with a suffix array over the old file and, in version 2, predicts the
// displacements of moved x86-64 code (code_model.h); version 3 does so in RVAs of paired PE
// images and also predicts their relocated pointers and exception table (pe_model.h); the decoder streams with fixed buffers and
// checks the old file before, and the output after, it writes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/zucchini/portable/byte_io.h"
#include "tools/zucchini/portable/vcdiff.h"

namespace oku::zucchini {

namespace zpatch {

inline constexpr uint8_t kMagic[4] = {'O', 'K', 'Z', 'P'};
inline constexpr uint32_t kVersion = 1;           // copies take the old bytes as they are
inline constexpr uint32_t kVersionPredicted = 2;  // copies take the old bytes with predicted displacements
// As 2, plus a stream of PE image layouts: targets in RVAs, relocated and .pdata pointers predicted.
inline constexpr uint32_t kVersionPe = 3;
// Most control records a version 2 patch may have (its decoder keeps them all as the address map).
inline constexpr size_t kMaxPredictedRecords = size_t{1} << 20;
inline constexpr size_t kHeaderSize = 128;  // 96 + 8 per stream: 128 in versions 1 and 2, 136 in 3
inline constexpr uint32_t kStreamCount = 4;
inline constexpr uint32_t kStreamCountPe = 5;
inline constexpr size_t kHeaderSizePe = 96 + 8 * kStreamCountPe;
enum Stream : size_t { kControl = 0, kDiffRuns = 1, kDiffBytes = 2, kExtra = 3, kLayout = 4 };

}  // namespace zpatch

// Whether the first bytes of a patch carry this format's magic.
bool LooksLikeZpatch(const uint8_t* head, size_t length);

// Writes a patch that turns old into target. Both inputs are read into memory; the matcher needs
// about 5 bytes per old byte plus 3 per new byte. Old files up to 2 GiB - 2 bytes.
Result EncodeZpatch(RandomSource& old, RandomSource& target, ByteSink& patch);

// Verifies old against the patch's SHA-256, then appends the new file to target while hashing it.
// Fails with kSourceMismatch for the wrong old file, kCorruptPatch for a malformed patch and
// kChecksumMismatch when the output's hash disagrees. Memory: fixed buffers, plus about 100 bytes per control
// record of a version 2 or 3 patch (at most kMaxPredictedRecords), and for version 3 the image
// layouts and 16 bytes per pointer position (at most kMaxLayoutStream, kMaxPePointers).
Result DecodeZpatch(RandomSource& old, RandomSource& patch, TargetSink& target);

// Applies a patch of either format, told apart by its first bytes (VCDIFF: D6 C3 C4).
Result ApplyAnyPatch(RandomSource& old, RandomSource& patch, TargetSink& target);

}  // namespace oku::zucchini
