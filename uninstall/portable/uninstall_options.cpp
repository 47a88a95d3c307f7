#include "uninstall/portable/uninstall_options.h"

UninstallOptions ParseUninstallOptions(const std::vector<std::wstring>& arguments) {
  UninstallOptions options;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (argument == L"--force") options.force_kill = true;
    else if (argument == L"--unsilent-chrome") options.silent_chrome = false;
    else if (argument == L"--silent-oku") options.silent_oku = true;
    else if (argument == L"--keep-user-data") options.keep_user_data = true;
  }
  return options;
}
