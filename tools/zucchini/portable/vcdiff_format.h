// Wire-format pieces shared by the VCDIFF decoder and encoder: header bits, the default
// instruction code table, the address cache and variable-length integers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace oku::zucchini::format {

inline constexpr uint8_t kMagic[4] = {0xD6, 0xC3, 0xC4, 0x00};

// Hdr_Indicator bits.
inline constexpr uint8_t kHdrDecompress = 0x01;
inline constexpr uint8_t kHdrCodeTable = 0x02;
inline constexpr uint8_t kHdrAppHeader = 0x04;  // xdelta3 extension

// Win_Indicator bits.
inline constexpr uint8_t kWinSource = 0x01;
inline constexpr uint8_t kWinTarget = 0x02;
inline constexpr uint8_t kWinAdler32 = 0x04;  // xdelta3 extension: 4-byte big-endian checksum

enum InstructionType : uint8_t { kNoop = 0, kAdd = 1, kRun = 2, kCopy = 3 };

struct Instruction {
  uint8_t type = kNoop;
  uint8_t size = 0;  // 0: the size follows in the instruction section
  uint8_t mode = 0;
};

struct CodeEntry {
  Instruction first;
  Instruction second;
};

inline constexpr int kNearSize = 4;
inline constexpr int kSameSize = 3;
inline constexpr int kModeSelf = 0;
inline constexpr int kModeHere = 1;
inline constexpr int kModeCount = 2 + kNearSize + kSameSize;

// The default code table of RFC 3284 section 5.6.
const std::array<CodeEntry, 256>& DefaultCodeTable();

// Per-window address cache (RFC 3284 section 5.3).
class AddressCache {
 public:
  void Reset();
  void Update(uint64_t address);
  uint64_t near(int i) const { return near_[i]; }
  uint64_t same(size_t i) const { return same_[i]; }

 private:
  uint64_t near_[kNearSize] = {};
  int nextSlot_ = 0;
  uint64_t same_[kSameSize * 256] = {};
};

void AppendVarint(std::vector<uint8_t>& out, uint64_t value);
size_t VarintSize(uint64_t value);

// Reads a variable-length integer from [*cursor, end); false when truncated or wider than 64 bits.
bool ReadVarint(const uint8_t** cursor, const uint8_t* end, uint64_t* value);

}  // namespace oku::zucchini::format
