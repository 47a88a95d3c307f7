// The installer's run options and the grammar that fills them from the split command line.
// Free of the platform so the grammar is tested natively and fuzzed.
#pragma once

#include <string>
#include <vector>

struct InstallOptions {
  bool isUpdate = false;
  bool isQuiet = false;
  bool isAutoLaunch = true;
  bool isKill = false;
  std::wstring targetPath;
};

// "quiet", "/s" or "/S": the whole argument asks for silent mode.
bool IsSilentSwitch(const std::wstring& argument);

// Examines every element (the program path in element 0 included) in order; the first rule that
// matches an element wins. The log lines the rules write are appended to logLines in order.
InstallOptions ParseInstallOptions(const std::vector<std::wstring>& arguments, std::vector<std::wstring>& logLines);
