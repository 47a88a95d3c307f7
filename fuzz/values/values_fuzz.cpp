// The attribute value syntax: integers, integer lists, booleans, colours, attribute lists,
// alignments.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "ui/portable/values.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses how many list values to read, the rest is the value text.
  const std::size_t count = data[0] % 9;
  const std::wstring text = oku_fuzz::Wide(data + 1, size - 1);
  for (std::size_t pos = 0; pos <= text.size(); ++pos) {
    const auto [value, stop] = DuiLib::ReadInteger(text, pos);
    (void)value;
    if (stop > text.size() || (stop != pos && stop < pos)) __builtin_trap();
    if (pos > 64) break;  // the start offsets that matter are the first few
  }
  int values[8] = {};
  DuiLib::ReadIntegerList(text, values, count);
  (void)DuiLib::ParseRect(text);
  (void)DuiLib::ParseSize(text);
  (void)DuiLib::ParseInteger(text);
  (void)DuiLib::ParseBool(text);
  (void)DuiLib::ParseColor(text, false);
  (void)DuiLib::ParseColor(text, true);
  (void)DuiLib::ParseHorizontalAlign(text, {});
  (void)DuiLib::ParseVerticalAlign(text, {});
  for (const auto& [name, value] : DuiLib::ParseAttributeList(text)) {
    if (name.size() + value.size() > text.size()) __builtin_trap();
  }
  return 0;
}
