// PE images, their layouts as a patch stream, and the version 3 prediction (pe_model.h).
#include "tools/zucchini/portable/pe_model.h"

#include <algorithm>

namespace oku::zucchini {

namespace {

uint64_t Le(const uint8_t* at, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

void PutLe(uint8_t* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutVarint(std::vector<uint8_t>& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<uint8_t>(value));
}

class VarintReader {
 public:
  VarintReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Read(uint64_t* value, uint64_t limit) {
    uint64_t result = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (at_ == size_) return false;
      const uint8_t byte = data_[at_++];
      if (shift == 63 && byte > 1) return false;
      result |= uint64_t{byte & 0x7Fu} << shift;
      if ((byte & 0x80) == 0) {
        *value = result;
        return result <= limit;
      }
    }
    return false;
  }
  bool Done() const { return at_ == size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

constexpr uint64_t kU32 = 0xFFFFFFFFu;

bool ParseImage(const uint8_t* data, size_t size, size_t at, PeLayout* image) {
  if (size - at < 0x40) return false;
  const uint64_t lfanew = Le(data + at + 0x3C, 4);
  if (lfanew < 0x40 || lfanew > 0x1000 || size - at < lfanew + 24) return false;
  const uint8_t* pe = data + at + lfanew;
  if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) return false;
  const uint64_t machine = Le(pe + 4, 2);
  const uint64_t sectionCount = Le(pe + 6, 2);
  const uint64_t optionalSize = Le(pe + 20, 2);
  if (sectionCount == 0 || sectionCount > kMaxPeSections) return false;
  const uint64_t optional = at + lfanew + 24;
  const uint64_t table = optional + optionalSize;
  if (table + 40 * sectionCount > size || optionalSize < 2) return false;
  const uint8_t* opt = data + optional;
  const uint64_t magic = Le(opt, 2);
  uint64_t dirs = 0, dirCount = 0;
  if (magic == 0x20B && optionalSize >= 112) {
    image->imageBase = Le(opt + 24, 8);
    dirCount = Le(opt + 108, 4);
    dirs = 112;
  } else if (magic == 0x10B && optionalSize >= 96) {
    image->imageBase = Le(opt + 28, 4);
    dirCount = Le(opt + 92, 4);
    dirs = 96;
  } else {
    return false;
  }
  dirCount = std::min<uint64_t>(dirCount, (optionalSize - dirs) / 8);
  if (dirCount > 3 && machine == 0x8664) {
    image->pdataRva = static_cast<uint32_t>(Le(opt + dirs + 24, 4));
    image->pdataSize = static_cast<uint32_t>(Le(opt + dirs + 28, 4));
  }
  if (dirCount > 5) {
    image->relocRva = static_cast<uint32_t>(Le(opt + dirs + 40, 4));
    image->relocSize = static_cast<uint32_t>(Le(opt + dirs + 44, 4));
  }
  image->start = at;
  for (uint64_t i = 0; i < sectionCount; ++i) {
    const uint8_t* s = data + table + 40 * i;
    PeSection section;
    section.virtualSize = static_cast<uint32_t>(Le(s + 8, 4));
    section.va = static_cast<uint32_t>(Le(s + 12, 4));
    section.rawSize = static_cast<uint32_t>(Le(s + 16, 4));
    section.raw = static_cast<uint32_t>(Le(s + 20, 4));
    if (section.rawSize == 0) section.raw = 0;
    if (uint64_t{section.raw} + section.rawSize > size - at) return false;
    image->sections.push_back(section);
  }
  return true;
}

}  // namespace

uint64_t PeLayout::Extent() const {
  uint64_t extent = 1;
  for (const PeSection& s : sections) extent = std::max<uint64_t>(extent, uint64_t{s.raw} + s.rawSize);
  return extent;
}

std::vector<PeLayout> FindPeImages(const uint8_t* data, size_t size) {
  std::vector<PeLayout> images;
  uint64_t taken = 0;  // images may not start before this
  for (size_t at = 0; at + 1 < size && images.size() < kMaxPeImages; ++at) {
    if (data[at] != 'M' || data[at + 1] != 'Z' || at < taken) continue;
    PeLayout image;
    if (!ParseImage(data, size, at, &image)) continue;
    taken = at + image.Extent();
    images.push_back(std::move(image));
  }
  return images;
}

std::vector<PePair> PairPeImages(const std::vector<PeLayout>& oldImages, const std::vector<PeLayout>& newImages,
                                 const AddressMap& map) {
  std::vector<PePair> pairs;
  std::vector<bool> used(newImages.size(), false);
  for (const PeLayout& old : oldImages) {
    const int64_t mapped = map.Map(static_cast<int64_t>(old.start));
    for (size_t i = 0; i < newImages.size(); ++i) {
      const PeLayout& now = newImages[i];
      if (used[i] || mapped < static_cast<int64_t>(now.start) || mapped >= static_cast<int64_t>(now.start + now.Extent())) {
        continue;
      }
      used[i] = true;
      pairs.push_back(PePair{old, now});
      break;
    }
  }
  return pairs;
}

void WritePeLayouts(const std::vector<PePair>& pairs, std::vector<uint8_t>& out) {
  PutVarint(out, pairs.size());
  for (const PePair& pair : pairs) {
    PutVarint(out, pair.old.start);
    PutVarint(out, pair.now.start);
    PutVarint(out, pair.old.imageBase);
    PutVarint(out, pair.now.imageBase);
    for (const PeLayout* image : {&pair.old, &pair.now}) {
      PutVarint(out, image->sections.size());
      for (const PeSection& s : image->sections) {
        PutVarint(out, s.va);
        PutVarint(out, s.virtualSize);
        PutVarint(out, s.raw);
        PutVarint(out, s.rawSize);
      }
    }
    PutVarint(out, pair.old.relocRva);
    PutVarint(out, pair.old.relocSize);
    PutVarint(out, pair.old.pdataRva);
    PutVarint(out, pair.old.pdataSize);
  }
}

bool ReadPeLayouts(const uint8_t* data, size_t size, uint64_t oldSize, uint64_t newSize, std::vector<PePair>* pairs) {
  VarintReader in(data, size);
  uint64_t count = 0;
  if (!in.Read(&count, kMaxPeImages)) return false;
  uint64_t oldFree = 0;
  for (uint64_t n = 0; n < count; ++n) {
    PePair pair;
    uint64_t v[4];
    if (!in.Read(&pair.old.start, oldSize) || !in.Read(&pair.now.start, newSize) ||
        !in.Read(&pair.old.imageBase, UINT64_MAX) || !in.Read(&pair.now.imageBase, UINT64_MAX) ||
        pair.old.start < oldFree) {
      return false;
    }
    for (PeLayout* image : {&pair.old, &pair.now}) {
      const uint64_t fileSize = image == &pair.old ? oldSize : newSize;
      uint64_t sections = 0;
      if (!in.Read(&sections, kMaxPeSections) || sections == 0) return false;
      for (uint64_t i = 0; i < sections; ++i) {
        for (uint64_t& value : v) {
          if (!in.Read(&value, kU32)) return false;
        }
        if (image->start + v[2] + v[3] > fileSize) return false;
        image->sections.push_back(PeSection{static_cast<uint32_t>(v[0]), static_cast<uint32_t>(v[1]),
                                            static_cast<uint32_t>(v[2]), static_cast<uint32_t>(v[3])});
      }
    }
    for (uint64_t& value : v) {
      if (!in.Read(&value, kU32)) return false;
    }
    pair.old.relocRva = static_cast<uint32_t>(v[0]);
    pair.old.relocSize = static_cast<uint32_t>(v[1]);
    pair.old.pdataRva = static_cast<uint32_t>(v[2]);
    pair.old.pdataSize = static_cast<uint32_t>(v[3]);
    oldFree = pair.old.start + pair.old.Extent();
    pairs->push_back(std::move(pair));
  }
  return in.Done();
}

PeModel::PeModel(std::vector<PePair> pairs, const AddressMap& map, uint64_t oldSize)
    : pairs_(std::move(pairs)), map_(map), oldSize_(oldSize) {}

bool PeModel::OldFileOffset(const PeLayout& image, uint64_t rva, uint64_t* offset, uint64_t* sectionEnd) const {
  for (const PeSection& s : image.sections) {
    if (rva >= s.va && rva - s.va < s.rawSize) {
      *offset = image.start + s.raw + (rva - s.va);
      if (sectionEnd != nullptr) *sectionEnd = image.start + s.raw + s.rawSize;
      return true;
    }
  }
  return false;
}

bool PeModel::LoadPointers(const OldReader& read) {
  std::vector<uint8_t> table;
  for (size_t index = 0; index < pairs_.size(); ++index) {
    const PeLayout& image = pairs_[index].old;
    uint64_t at = 0, end = 0;
    // Base relocations: blocks of (page RVA, block size, 16-bit entries: type << 12 | offset).
    if (image.relocSize >= 8 && OldFileOffset(image, image.relocRva, &at, &end)) {
      table.resize(static_cast<size_t>(std::min<uint64_t>({image.relocSize, end - at, kMaxRelocTable})));
      if (!read(at, table.data(), table.size())) return false;
      for (size_t block = 0; block + 8 <= table.size();) {
        const uint64_t page = Le(table.data() + block, 4);
        const uint64_t blockSize = Le(table.data() + block + 4, 4);
        if (blockSize < 8 || blockSize > table.size() - block) break;
        for (size_t e = block + 8; e + 2 <= block + blockSize; e += 2) {
          const uint64_t entry = Le(table.data() + e, 2);
          const uint64_t type = entry >> 12;
          if (type != 10 && type != 3) continue;
          uint64_t offset = 0;
          if (!OldFileOffset(image, page + (entry & 0xFFF), &offset, nullptr)) continue;
          if (pointers_.size() == kMaxPePointers) return false;
          pointers_.push_back(Pointer{offset, static_cast<uint32_t>(index), type == 10 ? kAbs64 : kAbs32});
        }
        block += static_cast<size_t>(blockSize);
      }
    }
    // Exception table: 12-byte entries of three RVAs (begin, end, unwind information).
    if (image.pdataSize >= 12 && OldFileOffset(image, image.pdataRva, &at, &end)) {
      const uint64_t length = std::min<uint64_t>(image.pdataSize, end - at) / 4 * 4;
      if (pointers_.size() + length / 4 > kMaxPePointers) return false;
      for (uint64_t k = 0; k < length; k += 4) pointers_.push_back(Pointer{at + k, static_cast<uint32_t>(index), kRva32});
    }
  }
  std::stable_sort(pointers_.begin(), pointers_.end(), [](const Pointer& a, const Pointer& b) { return a.offset < b.offset; });
  // Distinct and not overlapping: a later position inside an earlier pointer is dropped.
  std::vector<Pointer> kept;
  kept.reserve(pointers_.size());
  for (const Pointer& p : pointers_) {
    if (!kept.empty() && p.offset < kept.back().offset + (kept.back().kind == kAbs64 ? 8u : 4u)) continue;
    kept.push_back(p);
  }
  pointers_.swap(kept);
  return true;
}

int PeModel::ImageAt(uint64_t oldOffset) const {
  auto it = std::upper_bound(pairs_.begin(), pairs_.end(), oldOffset,
                             [](uint64_t value, const PePair& p) { return value < p.old.start; });
  if (it == pairs_.begin()) return -1;
  --it;
  if (oldOffset - it->old.start >= it->old.Extent()) return -1;
  return static_cast<int>(it - pairs_.begin());
}

const PeSection* PeModel::OldSectionAt(const PeLayout& image, uint64_t oldOffset) const {
  if (oldOffset < image.start) return nullptr;
  const uint64_t rel = oldOffset - image.start;
  for (const PeSection& s : image.sections) {
    if (rel >= s.raw && rel - s.raw < s.rawSize) return &s;
  }
  return nullptr;
}

// The new RVA of an old RVA: through the file offset and the address map where the old RVA has raw
// data and its new offset lies in a section of the paired image; else section-relative (the same
// section index); RVAs before the first section are kept.
bool PeModel::MapRva(const PePair& pair, int64_t rva, int64_t* newRva) const {
  if (rva < 0 || rva > static_cast<int64_t>(kU32)) return false;
  const uint64_t r = static_cast<uint64_t>(rva);
  for (size_t k = 0; k < pair.old.sections.size(); ++k) {
    const PeSection& s = pair.old.sections[k];
    const uint64_t span = std::max(s.virtualSize, s.rawSize);
    if (r < s.va || r - s.va >= span) continue;
    if (r - s.va < s.rawSize) {
      const int64_t mapped = map_.Map(static_cast<int64_t>(pair.old.start + s.raw + (r - s.va)));
      if (mapped >= 0 && NewRva(pair.now, static_cast<uint64_t>(mapped), static_cast<uint64_t>(mapped), newRva)) return true;
    }
    // Section-relative: the new section holding the mapped start of this one, else the same index.
    const PeSection* now = k < pair.now.sections.size() ? &pair.now.sections[k] : nullptr;
    if (s.rawSize > 0) {
      const int64_t mapped = map_.Map(static_cast<int64_t>(pair.old.start + s.raw));
      const uint64_t rel = static_cast<uint64_t>(mapped) - pair.now.start;
      for (const PeSection& candidate : pair.now.sections) {
        if (mapped >= static_cast<int64_t>(pair.now.start) && rel >= candidate.raw && rel - candidate.raw < candidate.rawSize) {
          now = &candidate;
          break;
        }
      }
    }
    if (now == nullptr) return false;
    *newRva = static_cast<int64_t>(now->va) + static_cast<int64_t>(r - s.va);
    return true;
  }
  uint64_t first = kU32;
  for (const PeSection& s : pair.old.sections) first = std::min<uint64_t>(first, s.va);
  if (r >= first) return false;
  *newRva = rva;
  return true;
}

// The RVA of new offset newOffset, by the section of image holding new offset probe.
bool PeModel::NewRva(const PeLayout& image, uint64_t probe, uint64_t newOffset, int64_t* rva) const {
  if (probe < image.start) return false;
  const uint64_t rel = probe - image.start;
  for (const PeSection& s : image.sections) {
    if (rel >= s.raw && rel - s.raw < s.rawSize) {
      *rva = static_cast<int64_t>(s.va) + static_cast<int64_t>(newOffset - image.start) - static_cast<int64_t>(s.raw);
      return true;
    }
  }
  return false;
}

bool PeModel::PredictPointer(uint8_t* at, size_t width, uint32_t image, bool rva) const {
  const PePair& pair = pairs_[image];
  const uint64_t value = Le(at, static_cast<int>(width));
  const uint64_t base = rva ? 0 : pair.old.imageBase;
  int64_t newRva = 0;
  if (value < base || value - base > kU32 || (rva && value == 0) || !MapRva(pair, static_cast<int64_t>(value - base), &newRva)) {
    return false;
  }
  PutLe(at, (rva ? 0 : pair.now.imageBase) + static_cast<uint64_t>(newRva), static_cast<int>(width));
  return true;
}

void PeModel::PredictPointers(uint8_t* buffer, size_t length, uint64_t start) const {
  auto p = std::lower_bound(pointers_.begin(), pointers_.end(), start,
                            [](const Pointer& a, uint64_t value) { return a.offset < value; });
  for (; p != pointers_.end() && p->offset - start < length; ++p) {
    const size_t width = p->kind == kAbs64 ? 8 : 4;
    if (width <= length - (p->offset - start)) PredictPointer(buffer + (p->offset - start), width, p->image, p->kind == kRva32);
  }
}

size_t PeModel::Predict(uint8_t* buffer, size_t available, size_t scanFrom, size_t scanEnd, uint64_t start,
                        int64_t delta) const {
  auto p = std::lower_bound(pointers_.begin(), pointers_.end(), start + scanFrom,
                            [](const Pointer& a, uint64_t value) { return a.offset < value; });
  size_t x = scanFrom;
  while (x < scanEnd && x < available) {
    const uint64_t at = start + x;
    while (p != pointers_.end() && p->offset < at) ++p;
    if (p != pointers_.end() && p->offset == at) {
      const size_t width = p->kind == kAbs64 ? 8 : 4;
      if (width <= available - x) {
        PredictPointer(buffer + x, width, p->image, p->kind == kRva32);
        x += width;
        continue;
      }
    }
    size_t dispAt = 0;
    const size_t length = RecogniseInstruction(buffer + x, available - x, &dispAt);
    if (length == 0 || (p != pointers_.end() && p->offset < at + length)) {
      ++x;
      continue;
    }
    uint8_t* disp = buffer + x + dispAt;
    const int64_t rel = static_cast<int32_t>(static_cast<uint32_t>(Le(disp, 4)));
    const int64_t end = static_cast<int64_t>(at + length);
    const int image = ImageAt(at);
    const PeSection* section = image < 0 ? nullptr : OldSectionAt(pairs_[static_cast<size_t>(image)].old, at);
    bool rewrite = false;
    int64_t predicted = 0;
    if (section == nullptr) {
      // Outside the paired images: file offsets, as in version 2.
      const int64_t target = end + rel;
      if (target >= 0 && static_cast<uint64_t>(target) < oldSize_) {
        predicted = map_.Map(target) - (end + delta);
        rewrite = true;
      }
    } else {
      const PePair& pair = pairs_[static_cast<size_t>(image)];
      const int64_t endRva = static_cast<int64_t>(section->va) + end - static_cast<int64_t>(pair.old.start + section->raw);
      int64_t newTarget = 0, newEnd = 0;
      if (MapRva(pair, endRva + rel, &newTarget) && static_cast<int64_t>(at) + delta >= 0 &&
          NewRva(pair.now, static_cast<uint64_t>(static_cast<int64_t>(at) + delta), static_cast<uint64_t>(end + delta), &newEnd)) {
        predicted = newTarget - newEnd;
        rewrite = true;
      }
    }
    if (rewrite) PutLe(disp, static_cast<uint64_t>(predicted), 4);
    x += length;
  }
  return x;
}

}  // namespace oku::zucchini
