#include "setup/portable/install_options.h"

bool IsSilentSwitch(const std::wstring& argument) {
  return argument == L"quiet" || argument == L"/s" || argument == L"/S";
}

InstallOptions ParseInstallOptions(const std::vector<std::wstring>& arguments, std::vector<std::wstring>& logLines) {
  InstallOptions options;
  for (const std::wstring& element : arguments) {
    if (element == L"update") {
      options.isUpdate = true;
    } else if (IsSilentSwitch(element)) {
      options.isQuiet = true;
      logLines.push_back(L"isQuiet = true,Argument " + element);
    } else if (element == L"disable_autolaunch") {
      options.isAutoLaunch = false;
      logLines.push_back(L"isAutoLaunch = false,Argument " + element);
    } else if (element == L"kill") {
      options.isKill = true;
      logLines.push_back(L"isKill = true,Argument " + element);
    } else if (element.rfind(L"/d=", 0) == 0) {
      options.targetPath = element.substr(3);
      logLines.push_back(L"Target path specified: " + options.targetPath);
    } else if (element.rfind(L"/D", 0) == 0) {
      logLines.push_back(L"argStr: " + element);
      const size_t n = element.size();
      if (n < 3) {
        logLines.push_back(L"Invalid /D format: no path specified");
      } else if (n > 3 && element[2] == L'"') {
        options.targetPath = element.substr(3);
        logLines.push_back(L"targetPath before removing quote: " + options.targetPath);
        if (!options.targetPath.empty() && options.targetPath.back() == L'"') options.targetPath.pop_back();
        logLines.push_back(L"Target path specified (format /D\"path\"): " + options.targetPath);
      } else {
        options.targetPath = element.substr(2);
        logLines.push_back(L"Target path specified (format /Dpath): " + options.targetPath);
      }
    }
  }
  return options;
}
