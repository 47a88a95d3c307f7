// Streaming VCDIFF decoder: one window at a time in memory, the source read through a block cache.
#include <algorithm>
#include <cstring>
#include <vector>

#include "tools/zucchini/portable/vcdiff.h"
#include "tools/zucchini/portable/vcdiff_format.h"

namespace oku::zucchini {

namespace {

using namespace format;

constexpr size_t kCacheBlock = size_t{1} << 20;
constexpr size_t kCacheBlocks = 16;

Result Fail(ResultCode code, std::string message) { return Result{code, std::move(message)}; }

// Sequential reads of the patch through a fixed buffer.
class PatchStream {
 public:
  explicit PatchStream(RandomSource& patch) : patch_(patch), buffer_(size_t{1} << 20) {}

  uint64_t position() const { return position_; }
  bool AtEnd() const { return position_ >= patch_.Size(); }
  bool ioError() const { return ioError_; }

  bool ReadByte(uint8_t* byte) { return ReadBytes(byte, 1); }

  bool ReadBytes(uint8_t* out, size_t length) {
    while (length > 0) {
      if (cursor_ == filled_ && !Refill()) return false;
      const size_t n = std::min(length, filled_ - cursor_);
      std::memcpy(out, buffer_.data() + cursor_, n);
      cursor_ += n;
      position_ += n;
      out += n;
      length -= n;
    }
    return true;
  }

  bool Skip(uint64_t length) {
    uint8_t scratch[4096];
    while (length > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(length, sizeof scratch));
      if (!ReadBytes(scratch, n)) return false;
      length -= n;
    }
    return true;
  }

  bool ReadVarint(uint64_t* value) {
    uint64_t result = 0;
    for (int i = 0; i < 10; ++i) {
      uint8_t byte = 0;
      if (!ReadByte(&byte)) return false;
      if (result > (UINT64_MAX >> 7)) return false;
      result = (result << 7) | (byte & 0x7F);
      if ((byte & 0x80) == 0) {
        *value = result;
        return true;
      }
    }
    return false;
  }

 private:
  bool Refill() {
    const uint64_t size = patch_.Size();
    if (position_ >= size) return false;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), size - position_));
    if (!patch_.ReadAt(position_, buffer_.data(), n)) {
      ioError_ = true;
      return false;
    }
    cursor_ = 0;
    filled_ = n;
    return true;
  }

  RandomSource& patch_;
  std::vector<uint8_t> buffer_;
  size_t cursor_ = 0;
  size_t filled_ = 0;
  uint64_t position_ = 0;
  bool ioError_ = false;
};

Result Truncated(const PatchStream& stream) {
  if (stream.ioError()) return Fail(ResultCode::kReadPatchFailed, "cannot read the patch file");
  return Fail(ResultCode::kCorruptPatch, "corrupt patch: truncated at byte " + std::to_string(stream.position()));
}

Result Corrupt(const std::string& what) { return Fail(ResultCode::kCorruptPatch, "corrupt patch: " + what); }

// Decodes one window's instructions into target; the copy source is the window's segment.
class WindowDecoder {
 public:
  WindowDecoder(BlockCache* segmentReader, uint64_t segmentPosition, uint64_t segmentLength,
                std::vector<uint8_t>& target, const std::vector<uint8_t>& data, const std::vector<uint8_t>& inst,
                const std::vector<uint8_t>& addr, ResultCode segmentReadError)
      : segment_(segmentReader),
        segmentPosition_(segmentPosition),
        segmentLength_(segmentLength),
        target_(target),
        data_(data.data()),
        dataEnd_(data.data() + data.size()),
        inst_(inst.data()),
        instEnd_(inst.data() + inst.size()),
        addr_(addr.data()),
        addrEnd_(addr.data() + addr.size()),
        segmentReadError_(segmentReadError) {
    cache_.Reset();
  }

  Result Run() {
    const auto& table = DefaultCodeTable();
    while (inst_ != instEnd_) {
      const CodeEntry& entry = table[*inst_++];
      for (const Instruction* in : {&entry.first, &entry.second}) {
        if (in->type == kNoop) continue;
        uint64_t size = in->size;
        if (size == 0 && !ReadVarint(&inst_, instEnd_, &size)) return Corrupt("instruction section truncated");
        if (size > target_.size() - written_) return Corrupt("instruction overruns its window");
        Result r = Execute(*in, static_cast<size_t>(size));
        if (!r.ok()) return r;
      }
    }
    if (written_ != target_.size()) return Corrupt("window shorter than its declared length");
    if (data_ != dataEnd_ || addr_ != addrEnd_) return Corrupt("unused bytes in a window's sections");
    return {};
  }

 private:
  Result Execute(const Instruction& in, size_t size) {
    uint8_t* out = target_.data() + written_;
    switch (in.type) {
      case kAdd:
        if (static_cast<size_t>(dataEnd_ - data_) < size) return Corrupt("data section truncated");
        std::memcpy(out, data_, size);
        data_ += size;
        break;
      case kRun:
        if (data_ == dataEnd_) return Corrupt("data section truncated");
        std::memset(out, *data_++, size);
        break;
      case kCopy: {
        uint64_t address = 0;
        Result r = DecodeAddress(in.mode, &address);
        if (!r.ok()) return r;
        size_t done = 0;
        if (address < segmentLength_) {
          const size_t fromSegment = static_cast<size_t>(std::min<uint64_t>(size, segmentLength_ - address));
          if (segment_ == nullptr || !segment_->ReadAt(segmentPosition_ + address, out, fromSegment)) {
            return Fail(segmentReadError_, segmentReadError_ == ResultCode::kReadSourceFailed
                                               ? "cannot read the old file"
                                               : "cannot read back the new file");
          }
          done = fromSegment;
          address += fromSegment;
        }
        // The rest comes from this window's own target and may overlap the bytes being made,
        // which repeats them (byte by byte, in order).
        size_t from = static_cast<size_t>(address - segmentLength_);
        for (; done < size; ++done) out[done] = target_[from++];
        break;
      }
      default:
        return Corrupt("bad instruction");
    }
    written_ += size;
    return {};
  }

  Result DecodeAddress(uint8_t mode, uint64_t* address) {
    const uint64_t here = segmentLength_ + written_;
    uint64_t value = 0;
    if (mode < 2 + kNearSize) {
      if (!ReadVarint(&addr_, addrEnd_, &value)) return Corrupt("address section truncated");
      if (mode == kModeSelf) {
        *address = value;
      } else if (mode == kModeHere) {
        if (value > here) return Corrupt("address before the start of the window");
        *address = here - value;
      } else {
        const uint64_t base = cache_.near(mode - 2);
        if (value > UINT64_MAX - base) return Corrupt("address overflow");
        *address = base + value;
      }
    } else {
      if (addr_ == addrEnd_) return Corrupt("address section truncated");
      *address = cache_.same(static_cast<size_t>(mode - (2 + kNearSize)) * 256 + *addr_++);
    }
    if (*address >= here) return Corrupt("copy address not yet decoded");
    cache_.Update(*address);
    return {};
  }

  BlockCache* segment_;
  uint64_t segmentPosition_;
  uint64_t segmentLength_;
  std::vector<uint8_t>& target_;
  size_t written_ = 0;
  const uint8_t* data_;
  const uint8_t* dataEnd_;
  const uint8_t* inst_;
  const uint8_t* instEnd_;
  const uint8_t* addr_;
  const uint8_t* addrEnd_;
  AddressCache cache_;
  ResultCode segmentReadError_;
};

bool ReadSection(PatchStream& stream, uint64_t length, std::vector<uint8_t>& out) {
  out.resize(static_cast<size_t>(length));
  return stream.ReadBytes(out.data(), out.size());
}

}  // namespace

uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t length) {
  constexpr uint32_t kBase = 65521;
  uint32_t a = adler & 0xFFFF;
  uint32_t b = adler >> 16;
  while (length > 0) {
    const size_t n = std::min<size_t>(length, 5552);  // largest run without 32-bit overflow
    for (size_t i = 0; i < n; ++i) {
      a += data[i];
      b += a;
    }
    a %= kBase;
    b %= kBase;
    data += n;
    length -= n;
  }
  return (b << 16) | a;
}

Result DecodeVcdiff(RandomSource& source, RandomSource& patch, TargetSink& target) {
  PatchStream stream(patch);
  uint8_t header[5];
  if (!stream.ReadBytes(header, sizeof header)) {
    if (stream.ioError()) return Truncated(stream);
    return Corrupt("not a VCDIFF patch (too short)");
  }
  if (std::memcmp(header, kMagic, 3) != 0) return Corrupt("not a VCDIFF patch (bad magic)");
  if (header[3] != 0) return Fail(ResultCode::kUnsupported, "unsupported VCDIFF version " + std::to_string(header[3]));
  const uint8_t hdrIndicator = header[4];
  if (hdrIndicator & kHdrDecompress) {
    return Fail(ResultCode::kUnsupported, "patch uses a secondary compressor (make it with -S none)");
  }
  if (hdrIndicator & kHdrCodeTable) return Fail(ResultCode::kUnsupported, "patch uses a custom code table");
  if (hdrIndicator & ~(kHdrDecompress | kHdrCodeTable | kHdrAppHeader)) return Corrupt("unknown header flags");
  if (hdrIndicator & kHdrAppHeader) {
    uint64_t length = 0;
    if (!stream.ReadVarint(&length) || !stream.Skip(length)) return Truncated(stream);
  }

  BlockCache sourceCache(source, kCacheBlock, kCacheBlocks);
  BlockCache targetCache(target, kCacheBlock, 4);
  std::vector<uint8_t> window, data, inst, addr;

  uint64_t windows = 0;
  while (!stream.AtEnd()) {
    ++windows;
    uint8_t winIndicator = 0;
    if (!stream.ReadByte(&winIndicator)) return Truncated(stream);
    if (winIndicator & ~(kWinSource | kWinTarget | kWinAdler32)) return Corrupt("unknown window flags");
    if ((winIndicator & kWinSource) && (winIndicator & kWinTarget)) return Corrupt("window names two segments");
    uint64_t segmentLength = 0, segmentPosition = 0;
    BlockCache* segment = nullptr;
    ResultCode segmentError = ResultCode::kReadSourceFailed;
    if (winIndicator & (kWinSource | kWinTarget)) {
      if (!stream.ReadVarint(&segmentLength) || !stream.ReadVarint(&segmentPosition)) return Truncated(stream);
      const bool fromSource = (winIndicator & kWinSource) != 0;
      const uint64_t limit = fromSource ? source.Size() : target.Size();
      if (segmentPosition > limit || segmentLength > limit - segmentPosition) {
        return Corrupt(fromSource ? "source segment outside the old file" : "target segment outside the new file");
      }
      segment = fromSource ? &sourceCache : &targetCache;
      if (!fromSource) segmentError = ResultCode::kReadTargetFailed;
    }

    uint64_t deltaLength = 0, targetLength = 0;
    if (!stream.ReadVarint(&deltaLength)) return Truncated(stream);
    const uint64_t deltaStart = stream.position();
    uint8_t deltaIndicator = 0;
    if (!stream.ReadVarint(&targetLength) || !stream.ReadByte(&deltaIndicator)) return Truncated(stream);
    if (deltaIndicator != 0) return Fail(ResultCode::kUnsupported, "patch has compressed sections");
    if (targetLength > kMaxDecodeWindow) return Fail(ResultCode::kUnsupported, "target window larger than 64 MiB");
    uint64_t dataLength = 0, instLength = 0, addrLength = 0;
    if (!stream.ReadVarint(&dataLength) || !stream.ReadVarint(&instLength) || !stream.ReadVarint(&addrLength)) {
      return Truncated(stream);
    }
    uint32_t expectedAdler = 0;
    if (winIndicator & kWinAdler32) {
      uint8_t b[4];
      if (!stream.ReadBytes(b, 4)) return Truncated(stream);
      expectedAdler = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    }
    const uint64_t headerPart = stream.position() - deltaStart;
    if (deltaLength < headerPart || dataLength > deltaLength || instLength > deltaLength ||
        addrLength > deltaLength || deltaLength - headerPart != dataLength + instLength + addrLength) {
      return Corrupt("window section lengths disagree");
    }
    if (deltaLength - headerPart > patch.Size() - stream.position()) return Truncated(stream);
    if (!ReadSection(stream, dataLength, data) || !ReadSection(stream, instLength, inst) ||
        !ReadSection(stream, addrLength, addr)) {
      return Truncated(stream);
    }

    window.assign(static_cast<size_t>(targetLength), 0);
    WindowDecoder decoder(segment, segmentPosition, segmentLength, window, data, inst, addr, segmentError);
    Result r = decoder.Run();
    if (!r.ok()) return r;
    if ((winIndicator & kWinAdler32) && Adler32(1, window.data(), window.size()) != expectedAdler) {
      return Fail(ResultCode::kChecksumMismatch,
                  "checksum mismatch in the window ending at byte " + std::to_string(target.Size() + window.size()));
    }
    if (!target.Write(window.data(), window.size())) return Fail(ResultCode::kWriteFailed, "cannot write the new file");
  }
  // Every encoder emits at least one window, even for an empty target; a bare header is a
  // patch cut short.
  if (windows == 0) return Corrupt("patch has no windows");
  return {};
}

}  // namespace oku::zucchini
