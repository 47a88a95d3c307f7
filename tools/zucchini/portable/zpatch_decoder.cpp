// Decoder: every stream is read through its own small buffer, the old file through one more, and
// the output leaves through a fixed buffer; a record may only read inside the old file and write
// up to the declared new size, and every stream must be used up exactly.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/zucchini/portable/code_model.h"
#include "tools/zucchini/portable/pe_model.h"
#include "tools/zucchini/portable/sha256.h"
#include "tools/zucchini/portable/zpatch.h"

namespace oku::zucchini {

namespace {

constexpr size_t kBuffer = size_t{64} << 10;
constexpr size_t kLookahead = 16;  // room for an instruction that starts at the end of a chunk
// Copies read the old file through a cache: records are often short and close to each other.
constexpr size_t kOldCacheBlock = size_t{64} << 10;
constexpr size_t kOldCacheBlocks = 64;

Result Fail(ResultCode code, std::string message) { return Result{code, std::move(message)}; }
Result Corrupt(const char* what) { return Fail(ResultCode::kCorruptPatch, std::string("corrupt patch: ") + what); }

uint64_t GetLe(const uint8_t* at, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

// Sequential reads of one stream [begin, end) of the patch.
class StreamReader {
 public:
  StreamReader() : buffer_(new uint8_t[kBuffer]) {}
  void Init(RandomSource* patch, uint64_t begin, uint64_t end) {
    patch_ = patch;
    position_ = begin;
    end_ = end;
  }
  uint64_t Left() const { return end_ - position_ + (filled_ - cursor_); }
  bool ioError() const { return ioError_; }

  bool Read(uint8_t* out, size_t length) {
    while (length > 0) {
      if (cursor_ == filled_ && !Refill()) return false;
      const size_t n = std::min(length, filled_ - cursor_);
      std::memcpy(out, buffer_.get() + cursor_, n);
      cursor_ += n;
      out += n;
      length -= n;
    }
    return true;
  }

  bool ReadVarint(uint64_t* value) {
    uint64_t result = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      uint8_t byte = 0;
      if (!Read(&byte, 1)) return false;
      if (shift == 63 && byte > 1) return false;  // more than 64 bits
      result |= uint64_t{byte & 0x7Fu} << shift;
      if ((byte & 0x80) == 0) {
        *value = result;
        return true;
      }
    }
    return false;
  }

 private:
  bool Refill() {
    if (position_ >= end_) return false;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kBuffer, end_ - position_));
    if (!patch_->ReadAt(position_, buffer_.get(), n)) {
      ioError_ = true;
      return false;
    }
    position_ += n;
    cursor_ = 0;
    filled_ = n;
    return true;
  }

  RandomSource* patch_ = nullptr;
  std::unique_ptr<uint8_t[]> buffer_;
  uint64_t position_ = 0;
  uint64_t end_ = 0;
  size_t cursor_ = 0;
  size_t filled_ = 0;
  bool ioError_ = false;
};

class Decoder {
 public:
  Decoder(RandomSource& old, RandomSource& patch, TargetSink& target)
      : old_(old),
        oldCache_(old, kOldCacheBlock, kOldCacheBlocks),
        patch_(patch),
        target_(target),
        oldBuffer_(new uint8_t[kBuffer + kLookahead]),
        out_(new uint8_t[kBuffer]) {}

  Result Run() {
    uint8_t header[zpatch::kHeaderSizePe] = {};
    if (patch_.Size() < zpatch::kHeaderSize) return Corrupt("shorter than its header");
    if (!patch_.ReadAt(0, header, zpatch::kHeaderSize)) return Fail(ResultCode::kReadPatchFailed, "cannot read the patch");
    if (!LooksLikeZpatch(header, sizeof header)) return Corrupt("bad magic");
    const uint64_t version = GetLe(header + 4, 4);
    if (version != zpatch::kVersion && version != zpatch::kVersionPredicted && version != zpatch::kVersionPe) {
      return Fail(ResultCode::kUnsupported, "unsupported patch version");
    }
    predicted_ = version != zpatch::kVersion;
    streamCount_ = version == zpatch::kVersionPe ? zpatch::kStreamCountPe : zpatch::kStreamCount;
    const size_t headerSize = 96 + 8 * size_t{streamCount_};
    if (patch_.Size() < headerSize) return Corrupt("shorter than its header");
    if (headerSize > zpatch::kHeaderSize &&
        !patch_.ReadAt(zpatch::kHeaderSize, header + zpatch::kHeaderSize, headerSize - zpatch::kHeaderSize)) {
      return Fail(ResultCode::kReadPatchFailed, "cannot read the patch");
    }
    if (GetLe(header + 88, 4) != streamCount_ || GetLe(header + 92, 4) != 0) return Corrupt("bad stream table");
    oldSize_ = GetLe(header + 8, 8);
    newSize_ = GetLe(header + 16, 8);
    uint64_t offset = headerSize;
    for (size_t i = 0; i < streamCount_; ++i) {
      const uint64_t length = GetLe(header + 96 + 8 * i, 8);
      if (length > patch_.Size() - offset) return Corrupt("stream lengths exceed the patch");
      streamBegin_[i] = offset;
      streams_[i].Init(&patch_, offset, offset + length);
      offset += length;
    }
    if (offset != patch_.Size()) return Corrupt("trailing bytes after the streams");
    if (old_.Size() != oldSize_) return Fail(ResultCode::kSourceMismatch, "the old file's size differs from the patch's");
    if (!HashOld(header + 24)) return Fail(ResultCode::kSourceMismatch, "the old file's SHA-256 differs from the patch's");
    if (oldReadFailed_) return Fail(ResultCode::kReadSourceFailed, "cannot read the old file");

    if (predicted_) {
      Result mapped = ReadAddressMap(header);
      if (!mapped.ok()) return mapped;
    }
    if (streamCount_ == zpatch::kStreamCountPe) {
      Result layouts = ReadLayouts(header);
      if (!layouts.ok()) return layouts;
    }
    Result result = Records();
    if (!result.ok()) return result;
    if (!Flush()) return Fail(ResultCode::kWriteFailed, "cannot write the new file");
    const Sha256::Digest digest = outHash_.Finish();
    if (std::memcmp(digest.data(), header + 56, 32) != 0) {
      return Fail(ResultCode::kChecksumMismatch, "the new file's SHA-256 differs from the patch's");
    }
    return Result{};
  }

 private:
  bool HashOld(const uint8_t* expected) {
    Sha256 hash;
    for (uint64_t at = 0; at < oldSize_;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kBuffer, oldSize_ - at));
      if (!old_.ReadAt(at, oldBuffer_.get(), n)) {
        oldReadFailed_ = true;
        return true;
      }
      hash.Update(oldBuffer_.get(), n);
      at += n;
    }
    const Sha256::Digest digest = hash.Finish();
    return std::memcmp(digest.data(), expected, 32) == 0;
  }

  Result StreamFailure(size_t stream, const char* what) {
    if (streams_[stream].ioError()) return Fail(ResultCode::kReadPatchFailed, "cannot read the patch");
    return Corrupt(what);
  }

  Result Records() {
    uint64_t oldAt = 0;
    uint64_t written = 0;
    StreamReader& control = streams_[zpatch::kControl];
    while (control.Left() > 0) {
      uint64_t copy = 0, extra = 0, seek = 0;
      if (!control.ReadVarint(&copy) || !control.ReadVarint(&extra) || !control.ReadVarint(&seek)) {
        return StreamFailure(zpatch::kControl, "truncated control record");
      }
      if (copy > newSize_ - written || extra > newSize_ - written - copy) return Corrupt("a record writes past the new size");
      if (copy > oldSize_ - oldAt) return Corrupt("a record reads past the old file");
      Result result = CopyWithDifference(oldAt, copy, static_cast<int64_t>(written) - static_cast<int64_t>(oldAt));
      if (!result.ok()) return result;
      oldAt += copy;
      result = CopyExtra(extra);
      if (!result.ok()) return result;
      written += copy + extra;
      const uint64_t distance = seek >> 1;
      if ((seek & 1) == 0) {
        if (distance > oldSize_ - oldAt) return Corrupt("a seek leaves the old file");
        oldAt += distance;
      } else {
        if (distance >= oldAt) return Corrupt("a seek leaves the old file");
        oldAt -= distance + 1;
      }
    }
    if (written != newSize_) return Corrupt("the records do not fill the new size");
    if (zerosLeft_ != 0 || literalsLeft_ != 0 || streams_[zpatch::kDiffRuns].Left() != 0 ||
        streams_[zpatch::kDiffBytes].Left() != 0 || streams_[zpatch::kExtra].Left() != 0) {
      return Corrupt("unused stream bytes");
    }
    return Result{};
  }

  // The copy regions of all records, checked like Records() checks them, as the address map.
  Result ReadAddressMap(const uint8_t* header) {
    StreamReader control;
    control.Init(&patch_, streamBegin_[zpatch::kControl], streamBegin_[zpatch::kControl] + GetLe(header + 96, 8));
    std::vector<CopyRegion> regions;
    uint64_t oldAt = 0, written = 0;
    while (control.Left() > 0) {
      uint64_t copy = 0, extra = 0, seek = 0;
      if (!control.ReadVarint(&copy) || !control.ReadVarint(&extra) || !control.ReadVarint(&seek)) {
        return control.ioError() ? Fail(ResultCode::kReadPatchFailed, "cannot read the patch") : Corrupt("truncated control record");
      }
      if (regions.size() == zpatch::kMaxPredictedRecords) return Corrupt("too many control records");
      if (copy > newSize_ - written || extra > newSize_ - written - copy) return Corrupt("a record writes past the new size");
      if (copy > oldSize_ - oldAt) return Corrupt("a record reads past the old file");
      regions.push_back(CopyRegion{oldAt, written, copy});
      oldAt += copy;
      written += copy + extra;
      const uint64_t distance = seek >> 1;
      if ((seek & 1) == 0 ? distance > oldSize_ - oldAt : distance >= oldAt) return Corrupt("a seek leaves the old file");
      oldAt = (seek & 1) == 0 ? oldAt + distance : oldAt - distance - 1;
    }
    map_ = std::make_unique<AddressMap>(std::move(regions));
    return Result{};
  }

  // The PE layouts (stream 4) and the pointer positions of the old images they name.
  Result ReadLayouts(const uint8_t* header) {
    const uint64_t length = GetLe(header + 96 + 8 * zpatch::kLayout, 8);
    if (length > kMaxLayoutStream) return Corrupt("image layouts too long");
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    if (!patch_.ReadAt(streamBegin_[zpatch::kLayout], bytes.data(), bytes.size())) {
      return Fail(ResultCode::kReadPatchFailed, "cannot read the patch");
    }
    std::vector<PePair> pairs;
    if (!ReadPeLayouts(bytes.data(), bytes.size(), oldSize_, newSize_, &pairs)) return Corrupt("bad image layouts");
    pe_ = std::make_unique<PeModel>(std::move(pairs), *map_, oldSize_);
    bool readFailed = false;
    const bool loaded = pe_->LoadPointers([&](uint64_t at, uint8_t* out, size_t n) {
      if (oldCache_.ReadAt(at, out, n)) return true;
      readFailed = true;
      return false;
    });
    if (readFailed) return Fail(ResultCode::kReadSourceFailed, "cannot read the old file");
    if (!loaded) return Corrupt("too many pointers in the images");
    return Result{};
  }

  Result CopyWithDifference(uint64_t oldAt, uint64_t length, int64_t delta) {
    while (length > 0) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(length, kBuffer));
      const size_t available = static_cast<size_t>(std::min<uint64_t>(length, kBuffer + kLookahead));
      if (!oldCache_.ReadAt(oldAt, oldBuffer_.get(), available)) {
        return Fail(ResultCode::kReadSourceFailed, "cannot read the old file");
      }
      uint8_t* bytes = oldBuffer_.get();
      if (predicted_) {
        // An instruction that starts in this chunk and runs past it is finished here.
        n = std::max(n, pe_ ? pe_->Predict(bytes, available, 0, n, oldAt, delta)
                            : PredictDisplacements(bytes, available, 0, n, oldAt, delta, *map_, oldSize_));
      }
      size_t done = 0;
      while (done < n) {
        if (zerosLeft_ == 0 && literalsLeft_ == 0) {
          if (!streams_[zpatch::kDiffRuns].ReadVarint(&zerosLeft_) ||
              !streams_[zpatch::kDiffRuns].ReadVarint(&literalsLeft_)) {
            return StreamFailure(zpatch::kDiffRuns, "truncated difference runs");
          }
          continue;
        }
        if (zerosLeft_ > 0) {
          const size_t skip = static_cast<size_t>(std::min<uint64_t>(zerosLeft_, n - done));
          zerosLeft_ -= skip;
          done += skip;
          continue;
        }
        const size_t count = static_cast<size_t>(std::min<uint64_t>(literalsLeft_, n - done));
        uint8_t delta[4096];
        for (size_t k = 0; k < count;) {
          const size_t chunk = std::min(count - k, sizeof delta);
          if (!streams_[zpatch::kDiffBytes].Read(delta, chunk)) {
            return StreamFailure(zpatch::kDiffBytes, "truncated difference bytes");
          }
          for (size_t d = 0; d < chunk; ++d) bytes[done + k + d] = static_cast<uint8_t>(bytes[done + k + d] + delta[d]);
          k += chunk;
        }
        literalsLeft_ -= count;
        done += count;
      }
      if (!Emit(bytes, n)) return Fail(ResultCode::kWriteFailed, "cannot write the new file");
      oldAt += n;
      length -= n;
    }
    return Result{};
  }

  Result CopyExtra(uint64_t length) {
    while (length > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(length, kBuffer));
      if (!streams_[zpatch::kExtra].Read(oldBuffer_.get(), n)) return StreamFailure(zpatch::kExtra, "truncated new bytes");
      if (!Emit(oldBuffer_.get(), n)) return Fail(ResultCode::kWriteFailed, "cannot write the new file");
      length -= n;
    }
    return Result{};
  }

  bool Emit(const uint8_t* data, size_t length) {
    outHash_.Update(data, length);
    while (length > 0) {
      if (outFilled_ == kBuffer && !Flush()) return false;
      const size_t n = std::min(length, kBuffer - outFilled_);
      std::memcpy(out_.get() + outFilled_, data, n);
      outFilled_ += n;
      data += n;
      length -= n;
    }
    return true;
  }

  bool Flush() {
    if (outFilled_ > 0 && !target_.Write(out_.get(), outFilled_)) return false;
    outFilled_ = 0;
    return true;
  }

  RandomSource& old_;
  BlockCache oldCache_;
  RandomSource& patch_;
  TargetSink& target_;
  std::unique_ptr<uint8_t[]> oldBuffer_;
  std::unique_ptr<uint8_t[]> out_;
  size_t outFilled_ = 0;
  StreamReader streams_[zpatch::kStreamCountPe];
  uint64_t streamBegin_[zpatch::kStreamCountPe] = {};
  uint32_t streamCount_ = zpatch::kStreamCount;
  Sha256 outHash_;
  uint64_t oldSize_ = 0;
  uint64_t newSize_ = 0;
  uint64_t zerosLeft_ = 0;
  uint64_t literalsLeft_ = 0;
  bool oldReadFailed_ = false;
  bool predicted_ = false;
  std::unique_ptr<AddressMap> map_;
  std::unique_ptr<PeModel> pe_;
};

}  // namespace

bool LooksLikeZpatch(const uint8_t* head, size_t length) {
  return length >= sizeof zpatch::kMagic && std::memcmp(head, zpatch::kMagic, sizeof zpatch::kMagic) == 0;
}

Result DecodeZpatch(RandomSource& old, RandomSource& patch, TargetSink& target) {
  return Decoder(old, patch, target).Run();
}

Result ApplyAnyPatch(RandomSource& old, RandomSource& patch, TargetSink& target) {
  uint8_t head[4] = {};
  const size_t n = static_cast<size_t>(std::min<uint64_t>(patch.Size(), sizeof head));
  if (!patch.ReadAt(0, head, n)) return Fail(ResultCode::kReadPatchFailed, "cannot read the patch");
  if (LooksLikeZpatch(head, n)) return DecodeZpatch(old, patch, target);
  return DecodeVcdiff(old, patch, target);
}

}  // namespace oku::zucchini
