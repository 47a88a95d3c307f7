// The installer's command-line grammar over the split arguments (one per line of the input).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "setup/portable/install_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::wstring> arguments = oku_fuzz::Split(oku_fuzz::Wide(data, size), L'\n');
  std::vector<std::wstring> lines;
  const InstallOptions options = ParseInstallOptions(arguments, lines);
  // The target path is always taken from one argument, never longer than it.
  std::size_t longest = 0;
  for (const std::wstring& argument : arguments) longest = argument.size() > longest ? argument.size() : longest;
  if (options.targetPath.size() > longest) __builtin_trap();
  return 0;
}
