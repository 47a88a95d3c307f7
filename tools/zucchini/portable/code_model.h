// What a release changes all over x86-64 code: the displacements of rel32 calls and branches
// (E8, E9, 0F 80-8F) and of RIP-relative operands, whenever code or data moved. Given where the
// patch copies old bytes to (the address map), the new displacement of each such instruction is
// predicted from the old one, so the difference left to store is zero where the prediction holds.
// Candidates are found by byte patterns (no disassembly): a false one only costs a difference.
// Encoder and decoder run the same function on the same old bytes, so they agree on every byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace oku::zucchini {

struct CopyRegion {
  uint64_t oldStart = 0;
  uint64_t newStart = 0;
  uint64_t length = 0;
};

// Old file offset -> new file offset, from the regions a patch copies. Old bytes copied more than
// once belong to the longest region holding them (ties: lower old start, then lower new start);
// regions shorter than kMinMappedRegion are ignored. An offset outside every region moves like the
// nearest mapped byte before it (unchanged when there is none).
class AddressMap {
 public:
  static constexpr uint64_t kMinMappedRegion = 64;
  explicit AddressMap(const std::vector<CopyRegion>& regions);
  int64_t Map(int64_t oldOffset) const;

 private:
  struct Interval {
    uint64_t start;
    uint64_t end;
    int64_t shift;
  };
  std::vector<Interval> intervals_;  // disjoint, sorted by start
};

// Length of an instruction recognised at b (avail bytes readable) with a rel32 or RIP-relative
// displacement, and the displacement's offset in it; 0 when none.
size_t RecogniseInstruction(const uint8_t* b, size_t avail, size_t* dispAt);

// Rewrites, in buffer (old bytes from old offset start, copied to new offset start + delta), the
// displacement of every recognised instruction that starts in [0, scanFrom..scanEnd) and ends
// within [0, available), with its target mapped through map. Scanning starts at scanFrom and
// skips over each rewritten instruction; returns where it stopped (>= scanEnd unless available
// is smaller), which is where the next call for the following bytes must start.
size_t PredictDisplacements(uint8_t* buffer, size_t available, size_t scanFrom, size_t scanEnd, uint64_t start,
                            int64_t delta, const AddressMap& map, uint64_t oldSize);

}  // namespace oku::zucchini
