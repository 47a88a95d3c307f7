// Native build of the patcher's command line (benchmarks and cross-checks on Linux).
#include <cstdio>
#include <string>
#include <vector>

#include "tools/zucchini/portable/file_system.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string message;
  const int code = oku::zucchini::RunZucchini(args, oku::zucchini::StdioFileSystem(), &message);
  if (code != 0) std::fprintf(stderr, "zucchini: %s\n", message.c_str());
  return code;
}
