// The uninstaller's command-line grammar over the split arguments (one per line of the input).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "uninstall/portable/uninstall_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)ParseUninstallOptions(oku_fuzz::Split(oku_fuzz::Wide(data, size), L'\n'));
  return 0;
}
