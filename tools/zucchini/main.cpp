// zucchini.exe: the update package's binary patcher.
//   zucchini.exe -apply <old> <patch> <new>   rebuild new from old and a patch (own format or VCDIFF)
//   zucchini.exe -gen <old> <new> <patch>     make a patch in the own format (docs/patch-format.md)
// Exit code 0 on success; otherwise non-zero with one line on stderr, and no output file.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/portable/text.h"
#include "tools/zucchini/portable/file_system.h"
#include "tools/zucchini/win_file_system.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(oku::Utf8FromWide(argv[i]));
  std::string message;
  const int code = oku::zucchini::RunZucchini(args, oku::zucchini::Win32FileSystem(), &message);
  if (code != 0) {
    std::fprintf(stderr, "zucchini: %s\n", message.c_str());
    std::fflush(stderr);
  }
  return code;
}
