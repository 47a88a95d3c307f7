// Byte sources and sinks the VCDIFF coder works on, free of any platform: random-access inputs,
// a bounded block cache over them, and append-only outputs that can read back what they wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace oku::zucchini {

// A file (or memory block) of known size read at arbitrary offsets.
class RandomSource {
 public:
  virtual ~RandomSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly length bytes at offset; false on an I/O error or a range past the end.
  virtual bool ReadAt(uint64_t offset, uint8_t* buffer, size_t length) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool Write(const uint8_t* data, size_t length) = 0;
};

// The decoder's output: appended to, and read back for windows that copy from earlier target
// data (VCD_TARGET). Size() is the number of bytes written so far.
class TargetSink : public ByteSink, public RandomSource {};

// Memory-backed implementations (tests, small inputs).
class MemorySource : public RandomSource {
 public:
  explicit MemorySource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t length) override;

 private:
  const std::vector<uint8_t>& bytes_;
};

class MemorySink : public TargetSink {
 public:
  bool Write(const uint8_t* data, size_t length) override;
  uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t length) override;
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// A least-recently-used cache of fixed-size blocks over a RandomSource, so large inputs are
// read through a bounded amount of memory (blockSize * blockCount bytes).
class BlockCache {
 public:
  BlockCache(RandomSource& base, size_t blockSize, size_t blockCount);
  uint64_t Size() const { return base_.Size(); }
  // A pointer to the bytes at offset inside one cached block, with *available set to how many
  // follow contiguously (at least 1). nullptr on a read error or an offset past the end. The
  // pointer stays valid until the next call.
  const uint8_t* Span(uint64_t offset, size_t* available);
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t length);

 private:
  struct Block {
    uint64_t start = UINT64_MAX;
    size_t valid = 0;
    uint64_t lastUse = 0;
    std::unique_ptr<uint8_t[]> bytes;
  };
  RandomSource& base_;
  size_t blockSize_;
  std::vector<Block> blocks_;
  uint64_t clock_ = 0;
  size_t lastHit_ = 0;
};

}  // namespace oku::zucchini
