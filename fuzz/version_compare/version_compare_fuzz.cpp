// CompareVersions over two (and three) versions separated by newlines: besides not crashing,
// the comparison must be an order: reflexive, antisymmetric and transitive.
#include <cstddef>
#include <cstdint>

#include "common/portable/version_compare.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::wstring> parts = oku_fuzz::Split(oku_fuzz::Wide(data, size), L'\n');
  const std::wstring& a = parts[0];
  const std::wstring& b = parts.size() > 1 ? parts[1] : parts[0];
  const std::wstring& c = parts.size() > 2 ? parts[2] : parts[0];
  if (CompareVersions(a, a) != 0) __builtin_trap();
  const int ab = CompareVersions(a, b);
  if (ab != -CompareVersions(b, a)) __builtin_trap();
  // Transitivity among versions that all compare (a text that is not a version equals everything).
  const int bc = CompareVersions(b, c);
  if (ab != 0 && ab == bc && CompareVersions(a, c) != ab) __builtin_trap();
  return 0;
}
