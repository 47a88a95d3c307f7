#include "tools/zucchini/portable/byte_io.h"

#include <algorithm>
#include <cstring>

namespace oku::zucchini {

bool MemorySource::ReadAt(uint64_t offset, uint8_t* buffer, size_t length) {
  if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
  if (length != 0) std::memcpy(buffer, bytes_.data() + offset, length);
  return true;
}

bool MemorySink::Write(const uint8_t* data, size_t length) {
  bytes_.insert(bytes_.end(), data, data + length);
  return true;
}

bool MemorySink::ReadAt(uint64_t offset, uint8_t* buffer, size_t length) {
  if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
  if (length != 0) std::memcpy(buffer, bytes_.data() + offset, length);
  return true;
}

BlockCache::BlockCache(RandomSource& base, size_t blockSize, size_t blockCount)
    : base_(base), blockSize_(std::max<size_t>(blockSize, 1)), blocks_(std::max<size_t>(blockCount, 1)) {}

const uint8_t* BlockCache::Span(uint64_t offset, size_t* available) {
  const uint64_t size = base_.Size();
  if (offset >= size) return nullptr;
  const uint64_t start = offset - offset % blockSize_;
  const size_t inBlock = static_cast<size_t>(offset - start);
  size_t slot = blocks_.size();
  if (blocks_[lastHit_].start == start && inBlock < blocks_[lastHit_].valid) {
    slot = lastHit_;
  } else {
    for (size_t i = 0; i < blocks_.size(); ++i) {
      if (blocks_[i].start == start && inBlock < blocks_[i].valid) {
        slot = i;
        break;
      }
    }
  }
  if (slot == blocks_.size()) {
    // Load into the least recently used slot (or reload a block of a grown source).
    slot = 0;
    for (size_t i = 0; i < blocks_.size(); ++i) {
      if (blocks_[i].start == start) {
        slot = i;
        break;
      }
      if (blocks_[i].lastUse < blocks_[slot].lastUse) slot = i;
    }
    Block& block = blocks_[slot];
    if (!block.bytes) block.bytes = std::make_unique<uint8_t[]>(blockSize_);
    const size_t length = static_cast<size_t>(std::min<uint64_t>(blockSize_, size - start));
    block.start = UINT64_MAX;
    block.valid = 0;
    if (!base_.ReadAt(start, block.bytes.get(), length)) return nullptr;
    block.start = start;
    block.valid = length;
  }
  Block& block = blocks_[slot];
  block.lastUse = ++clock_;
  lastHit_ = slot;
  *available = block.valid - inBlock;
  return block.bytes.get() + inBlock;
}

bool BlockCache::ReadAt(uint64_t offset, uint8_t* buffer, size_t length) {
  while (length > 0) {
    size_t available = 0;
    const uint8_t* span = Span(offset, &available);
    if (span == nullptr) return false;
    const size_t n = std::min(available, length);
    std::memcpy(buffer, span, n);
    buffer += n;
    offset += n;
    length -= n;
  }
  return true;
}

}  // namespace oku::zucchini
