// VCDIFF (RFC 3284) delta coding: a streaming decoder for the default code table, including
// xdelta3's application header and per-window Adler-32 extension, and an encoder whose patches
// standard decoders (xdelta3 -d) read. Inputs and outputs go through byte_io.h, so memory stays
// bounded by the window size and the caches, not by the file sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/zucchini/portable/byte_io.h"

namespace oku::zucchini {

enum class ResultCode {
  kOk = 0,
  kReadSourceFailed,  // the old file could not be read
  kReadTargetFailed,  // the new file could not be read (encoder)
  kReadPatchFailed,   // the patch could not be read
  kCorruptPatch,      // malformed or truncated patch, or a range outside its inputs
  kUnsupported,       // a valid VCDIFF feature this coder does not implement
  kChecksumMismatch,  // a window's Adler-32 differs from the decoded data
  kWriteFailed,       // the output could not be written
  kSourceMismatch,    // the old file is not the one the patch was made for
};

struct Result {
  ResultCode code = ResultCode::kOk;
  std::string message;  // one line, empty on success
  bool ok() const { return code == ResultCode::kOk; }
};

// Largest target window the decoder accepts; windows are decoded in memory.
inline constexpr uint64_t kMaxDecodeWindow = uint64_t{64} << 20;

// Applies patch to source, appending the reconstructed target to target.
Result DecodeVcdiff(RandomSource& source, RandomSource& patch, TargetSink& target);

struct EncodeOptions {
  size_t windowSize = size_t{8} << 20;  // target bytes per window
  size_t blockSize = 0;                 // fingerprint block size; 0 chooses from the source size
  bool checksum = true;                 // add xdelta3's per-window Adler-32 (VCD_ADLER32)
};

// Writes a patch that turns source into target.
Result EncodeVcdiff(RandomSource& source, RandomSource& target, ByteSink& patch, const EncodeOptions& options = {});

uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t length);

}  // namespace oku::zucchini
