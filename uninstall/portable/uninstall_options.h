// The uninstaller's run options and their command-line grammar (whole, case-sensitive words).
#pragma once

#include <string>
#include <vector>

struct UninstallOptions {
  bool force_kill = false;
  bool silent_chrome = true;
  bool silent_oku = false;
  bool keep_user_data = false;
};

// Examines every argument after the program name; unknown ones are ignored.
UninstallOptions ParseUninstallOptions(const std::vector<std::wstring>& arguments);
