// Executables inside the diffed files: the PE images of the old and the new file, paired, with
// their section tables. In a version 3 patch, displacement targets are computed in RVAs (so a
// reference from code into another section is predicted as well as one inside it), and the
// absolute addresses named by the old image's base relocations and the RVAs of its exception
// table (.pdata) are predicted through the address map of the patch's copies. The encoder finds
// the images; the patch carries their layouts, so the decoder parses no PE headers, only the old
// image's relocation and exception tables, out of the old file it has already verified.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "tools/zucchini/portable/code_model.h"

namespace oku::zucchini {

struct PeSection {
  uint32_t va = 0;
  uint32_t virtualSize = 0;
  uint32_t raw = 0;  // file offset relative to the image's start
  uint32_t rawSize = 0;
};

struct PeLayout {
  uint64_t start = 0;  // file offset of the image's "MZ"
  uint64_t imageBase = 0;
  std::vector<PeSection> sections;
  uint32_t relocRva = 0, relocSize = 0;  // base relocation directory
  uint32_t pdataRva = 0, pdataSize = 0;  // exception directory (x86-64 only)
  uint64_t Extent() const;               // bytes from start to the end of the last section's raw data
};

struct PePair {
  PeLayout old;
  PeLayout now;
};

inline constexpr size_t kMaxPeImages = 4096;
inline constexpr size_t kMaxPeSections = 96;
inline constexpr size_t kMaxLayoutStream = size_t{4} << 20;
inline constexpr size_t kMaxPePointers = size_t{4} << 20;
inline constexpr size_t kMaxRelocTable = size_t{64} << 20;  // bytes of one relocation table read

// The PE images found at every "MZ" whose e_lfanew leads to "PE\0\0" with a section table inside
// data; an image that starts inside an earlier one's extent is skipped.
std::vector<PeLayout> FindPeImages(const uint8_t* data, size_t size);

// Pairs each old image with the new image its start maps into, ordered by old start.
std::vector<PePair> PairPeImages(const std::vector<PeLayout>& oldImages, const std::vector<PeLayout>& newImages,
                                 const AddressMap& map);

void WritePeLayouts(const std::vector<PePair>& pairs, std::vector<uint8_t>& out);
// False when the stream is malformed or describes sections outside the files.
bool ReadPeLayouts(const uint8_t* data, size_t size, uint64_t oldSize, uint64_t newSize, std::vector<PePair>* pairs);

// Reads old bytes [offset, offset + length); false on a read failure.
using OldReader = std::function<bool(uint64_t offset, uint8_t* out, size_t length)>;

class PeModel {
 public:
  PeModel(std::vector<PePair> pairs, const AddressMap& map, uint64_t oldSize);
  // Collects the pointer positions from the old images' relocation and exception tables. False on
  // a read failure or more than kMaxPePointers positions.
  bool LoadPointers(const OldReader& read);
  // As PredictDisplacements (code_model.h), with RVA targets inside paired images and the pointer
  // positions rewritten; a pointer position takes precedence over an instruction overlapping it.
  size_t Predict(uint8_t* buffer, size_t available, size_t scanFrom, size_t scanEnd, uint64_t start,
                 int64_t delta) const;
  // Rewrites only the pointer positions that lie wholly in buffer (old bytes from old offset start).
  void PredictPointers(uint8_t* buffer, size_t length, uint64_t start) const;

 private:
  bool PredictPointer(uint8_t* at, size_t width, uint32_t image, bool rva) const;
  enum Kind : uint8_t { kAbs64, kAbs32, kRva32 };
  struct Pointer {
    uint64_t offset;
    uint32_t image;
    Kind kind;
  };
  int ImageAt(uint64_t oldOffset) const;
  const PeSection* OldSectionAt(const PeLayout& image, uint64_t oldOffset) const;
  bool OldFileOffset(const PeLayout& image, uint64_t rva, uint64_t* offset, uint64_t* sectionEnd) const;
  bool MapRva(const PePair& pair, int64_t rva, int64_t* newRva) const;
  bool NewRva(const PeLayout& image, uint64_t probe, uint64_t newOffset, int64_t* rva) const;

  std::vector<PePair> pairs_;
  const AddressMap& map_;
  uint64_t oldSize_;
  std::vector<Pointer> pointers_;  // sorted by offset, distinct
};

}  // namespace oku::zucchini
