#include "tools/zucchini/portable/vcdiff_format.h"

namespace oku::zucchini::format {

namespace {

std::array<CodeEntry, 256> BuildDefaultTable() {
  std::array<CodeEntry, 256> table{};
  size_t i = 0;
  auto single = [&](uint8_t type, uint8_t size, uint8_t mode) {
    table[i++] = CodeEntry{Instruction{type, size, mode}, Instruction{}};
  };
  auto pair = [&](Instruction a, Instruction b) { table[i++] = CodeEntry{a, b}; };

  single(kRun, 0, 0);
  single(kAdd, 0, 0);
  for (uint8_t size = 1; size <= 17; ++size) single(kAdd, size, 0);
  for (uint8_t mode = 0; mode < kModeCount; ++mode) {
    single(kCopy, 0, mode);
    for (uint8_t size = 4; size <= 18; ++size) single(kCopy, size, mode);
  }
  for (uint8_t mode = 0; mode <= 5; ++mode) {
    for (uint8_t add = 1; add <= 4; ++add) {
      for (uint8_t copy = 4; copy <= 6; ++copy) pair({kAdd, add, 0}, {kCopy, copy, mode});
    }
  }
  for (uint8_t mode = 6; mode <= 8; ++mode) {
    for (uint8_t add = 1; add <= 4; ++add) pair({kAdd, add, 0}, {kCopy, 4, mode});
  }
  for (uint8_t mode = 0; mode < kModeCount; ++mode) pair({kCopy, 4, mode}, {kAdd, 1, 0});
  return table;  // i == 256
}

}  // namespace

const std::array<CodeEntry, 256>& DefaultCodeTable() {
  static const std::array<CodeEntry, 256> table = BuildDefaultTable();
  return table;
}

void AddressCache::Reset() {
  for (auto& n : near_) n = 0;
  for (auto& s : same_) s = 0;
  nextSlot_ = 0;
}

void AddressCache::Update(uint64_t address) {
  near_[nextSlot_] = address;
  nextSlot_ = (nextSlot_ + 1) % kNearSize;
  same_[address % (kSameSize * 256)] = address;
}

void AppendVarint(std::vector<uint8_t>& out, uint64_t value) {
  uint8_t bytes[10];
  int n = 0;
  do {
    bytes[n++] = static_cast<uint8_t>(value & 0x7F);
    value >>= 7;
  } while (value != 0);
  while (n > 1) out.push_back(static_cast<uint8_t>(bytes[--n] | 0x80));
  out.push_back(bytes[0]);
}

size_t VarintSize(uint64_t value) {
  size_t n = 1;
  while (value >= 0x80) {
    value >>= 7;
    ++n;
  }
  return n;
}

bool ReadVarint(const uint8_t** cursor, const uint8_t* end, uint64_t* value) {
  uint64_t result = 0;
  const uint8_t* p = *cursor;
  while (p != end) {
    const uint8_t byte = *p++;
    if (result > (UINT64_MAX >> 7)) return false;
    result = (result << 7) | (byte & 0x7F);
    if ((byte & 0x80) == 0) {
      *cursor = p;
      *value = result;
      return true;
    }
  }
  return false;
}

}  // namespace oku::zucchini::format
