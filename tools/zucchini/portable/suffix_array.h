// Suffix array construction by induced sorting (SA-IS): O(n) time, 4n bytes for the array plus
// n bytes of type flags and O(alphabet) buckets per recursion level (each level at most half the
// previous one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace oku::zucchini {

// Largest text BuildSuffixArray accepts (positions are 32-bit).
inline constexpr size_t kMaxSuffixArrayText = size_t{0x7FFFFFFE};

// The start positions of all suffixes of text[0, n) in lexicographic order (a shorter suffix
// before the longer ones it prefixes). n must not exceed kMaxSuffixArrayText.
std::vector<int32_t> BuildSuffixArray(const uint8_t* text, size_t n);

}  // namespace oku::zucchini
