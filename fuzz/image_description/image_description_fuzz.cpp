// The image-description parser ("bkimage", state and fore images).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "ui/portable/image_description.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring text = oku_fuzz::Wide(data, size);
  const DuiLib::ImageDescription description = DuiLib::ParseImageDescription(text);
  // Whatever the text, the file name is a part of it.
  if (description.file.size() > text.size()) __builtin_trap();
  (void)DuiLib::ParseImageDescription(oku_fuzz::RawUtf16(data, size));
  return 0;
}
