#include "tools/zucchini/portable/code_model.h"

#include <algorithm>
#include <iterator>
#include <map>

namespace oku::zucchini {

namespace {

// Opcodes without an immediate whose ModRM byte 05/0D/.../3D (mod 00, r/m 101) means
// [rip + disp32] in 64-bit code: mov, lea, the ALU forms, test, xchg, movsxd.
bool RipOpcode(uint8_t op) {
  switch (op) {
    case 0x01: case 0x03: case 0x09: case 0x0B: case 0x21: case 0x23: case 0x29: case 0x2B:
    case 0x31: case 0x33: case 0x39: case 0x3B: case 0x63: case 0x85: case 0x87: case 0x89:
    case 0x8B: case 0x8D:
      return true;
    default:
      return false;
  }
}

}  // namespace

size_t RecogniseInstruction(const uint8_t* b, size_t avail, size_t* dispAt) {
  if (avail >= 5 && (b[0] == 0xE8 || b[0] == 0xE9)) {
    *dispAt = 1;
    return 5;
  }
  if (avail >= 6 && b[0] == 0x0F && (b[1] & 0xF0) == 0x80) {
    *dispAt = 2;
    return 6;
  }
  if (avail >= 6 && b[0] == 0xFF && (b[1] == 0x15 || b[1] == 0x25)) {  // call/jmp [rip + disp32]
    *dispAt = 2;
    return 6;
  }
  const size_t rex = (b[0] & 0xF0) == 0x40 ? 1 : 0;
  if (avail >= rex + 6 && RipOpcode(b[rex]) && (b[rex + 1] & 0xC7) == 0x05) {
    *dispAt = rex + 2;
    return rex + 6;
  }
  return 0;
}

AddressMap::AddressMap(const std::vector<CopyRegion>& regions) {
  std::vector<CopyRegion> order;
  for (const CopyRegion& r : regions) {
    if (r.length >= kMinMappedRegion) order.push_back(r);
  }
  std::sort(order.begin(), order.end(), [](const CopyRegion& a, const CopyRegion& b) {
    if (a.length != b.length) return a.length > b.length;
    return a.oldStart != b.oldStart ? a.oldStart < b.oldStart : a.newStart < b.newStart;
  });
  std::map<uint64_t, Interval> taken;  // by start
  for (const CopyRegion& r : order) {
    const int64_t shift = static_cast<int64_t>(r.newStart) - static_cast<int64_t>(r.oldStart);
    uint64_t at = r.oldStart;
    const uint64_t end = r.oldStart + r.length;
    auto it = taken.upper_bound(at);
    if (it != taken.begin() && std::prev(it)->second.end > at) at = std::prev(it)->second.end;
    while (at < end) {
      const uint64_t gapEnd = it == taken.end() ? end : std::min(end, it->second.start);
      if (gapEnd > at) taken.emplace(at, Interval{at, gapEnd, shift});
      if (it == taken.end() || it->second.start >= end) break;
      at = std::max(at, it->second.end);
      ++it;
    }
  }
  intervals_.reserve(taken.size());
  for (const auto& entry : taken) intervals_.push_back(entry.second);
}

int64_t AddressMap::Map(int64_t oldOffset) const {
  if (oldOffset < 0) return oldOffset;
  auto it = std::upper_bound(intervals_.begin(), intervals_.end(), static_cast<uint64_t>(oldOffset),
                             [](uint64_t value, const Interval& r) { return value < r.start; });
  if (it == intervals_.begin()) return oldOffset;
  return oldOffset + std::prev(it)->shift;
}

size_t PredictDisplacements(uint8_t* buffer, size_t available, size_t scanFrom, size_t scanEnd, uint64_t start,
                            int64_t delta, const AddressMap& map, uint64_t oldSize) {
  size_t x = scanFrom;
  while (x < scanEnd && x < available) {
    size_t dispAt = 0;
    const size_t length = RecogniseInstruction(buffer + x, available - x, &dispAt);
    if (length == 0) {
      ++x;
      continue;
    }
    uint8_t* disp = buffer + x + dispAt;
    const int32_t rel = static_cast<int32_t>(uint32_t{disp[0]} | (uint32_t{disp[1]} << 8) | (uint32_t{disp[2]} << 16) |
                                             (uint32_t{disp[3]} << 24));
    const int64_t end = static_cast<int64_t>(start + x + length);
    const int64_t target = end + rel;
    if (target >= 0 && static_cast<uint64_t>(target) < oldSize) {
      const int64_t predicted = map.Map(target) - (end + delta);
      const uint32_t value = static_cast<uint32_t>(predicted);
      disp[0] = static_cast<uint8_t>(value);
      disp[1] = static_cast<uint8_t>(value >> 8);
      disp[2] = static_cast<uint8_t>(value >> 16);
      disp[3] = static_cast<uint8_t>(value >> 24);
    }
    x += length;
  }
  return x;
}

}  // namespace oku::zucchini
