#include "common/portable/version_compare.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace {

// One part: one or more ASCII digits whose value fits a signed 32-bit number.
std::optional<std::int32_t> ParsePart(std::wstring_view part) {
  if (part.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const wchar_t c : part) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + (c - L'0');
    if (value > INT32_MAX) return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

// Splits at every '.'; an empty text after the last dot (or an empty version) adds no part,
// two adjacent dots give an empty part. nullopt when a part is not a number.
std::optional<std::vector<std::int32_t>> ParseVersion(std::wstring_view version) {
  std::vector<std::int32_t> parts;
  std::size_t start = 0;
  while (start < version.size()) {
    std::size_t dot = version.find(L'.', start);
    if (dot == std::wstring_view::npos) dot = version.size();
    const std::optional<std::int32_t> part = ParsePart(version.substr(start, dot - start));
    if (!part) return std::nullopt;
    parts.push_back(*part);
    start = dot + 1;
  }
  return parts;
}

}  // namespace

signed char CompareVersions(std::wstring_view a, std::wstring_view b) {
  const auto left = ParseVersion(a);
  const auto right = ParseVersion(b);
  if (!left || !right) return 0;
  const std::size_t count = left->size() > right->size() ? left->size() : right->size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::int32_t x = i < left->size() ? (*left)[i] : 0;
    const std::int32_t y = i < right->size() ? (*right)[i] : 0;
    if (x < y) return -1;
    if (x > y) return 1;
  }
  return 0;
}
