// The installer's command-line grammar: every rule, in order, first match wins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/portable/install_options.h"

namespace {

struct GrammarCase {
  const char* name;
  std::vector<std::wstring> arguments;  // element 0 is the program path
  bool isUpdate;
  bool isQuiet;
  bool isAutoLaunch;
  bool isKill;
  std::wstring targetPath;
  std::vector<std::wstring> logLines;
};

const std::wstring kExe = L"C:\\Downloads\\oku_installer.exe";

std::vector<GrammarCase> Cases() {
  return {
      {"no arguments is window mode", {kExe}, false, false, true, false, L"", {}},
      {"update", {kExe, L"update"}, true, false, true, false, L"", {}},
      {"quiet", {kExe, L"quiet"}, false, true, true, false, L"", {L"isQuiet = true,Argument quiet"}},
      {"/s", {kExe, L"/s"}, false, true, true, false, L"", {L"isQuiet = true,Argument /s"}},
      {"/S", {kExe, L"/S"}, false, true, true, false, L"", {L"isQuiet = true,Argument /S"}},
      {"QUIET and -s select nothing", {kExe, L"QUIET", L"-s", L"Quiet"}, false, false, true, false, L"", {}},
      {"disable_autolaunch", {kExe, L"disable_autolaunch"}, false, false, false, false, L"",
       {L"isAutoLaunch = false,Argument disable_autolaunch"}},
      {"kill", {kExe, L"kill"}, false, false, true, true, L"", {L"isKill = true,Argument kill"}},
      {"/d= takes the rest verbatim", {kExe, L"/d=C:\\X y"}, false, false, true, false, L"C:\\X y",
       {L"Target path specified: C:\\X y"}},
      {"/D=C:\\X keeps the equals sign", {kExe, L"/D=C:\\X"}, false, false, true, false, L"=C:\\X",
       {L"argStr: /D=C:\\X", L"Target path specified (format /Dpath): =C:\\X"}},
      {"/Dpath (quotes removed by the splitter)", {kExe, L"/DC:\\Program Files\\Oku"}, false, false, true, false,
       L"C:\\Program Files\\Oku",
       {L"argStr: /DC:\\Program Files\\Oku", L"Target path specified (format /Dpath): C:\\Program Files\\Oku"}},
      {"/D\"path\" with surviving quotes", {kExe, L"/D\"C:\\A B\""}, false, false, true, false, L"C:\\A B",
       {L"argStr: /D\"C:\\A B\"", L"targetPath before removing quote: C:\\A B\"",
        L"Target path specified (format /D\"path\"): C:\\A B"}},
      {"/D\"path without a closing quote", {kExe, L"/D\"C:\\A"}, false, false, true, false, L"C:\\A",
       {L"argStr: /D\"C:\\A", L"targetPath before removing quote: C:\\A",
        L"Target path specified (format /D\"path\"): C:\\A"}},
      {"/D\" alone is a /Dpath of one quote", {kExe, L"/D\""}, false, false, true, false, L"\"",
       {L"argStr: /D\"", L"Target path specified (format /Dpath): \""}},
      {"/D\"\" leaves an empty path, also over an earlier one", {kExe, L"/d=C:\\First", L"/D\"\""}, false, false,
       true, false, L"",
       {L"Target path specified: C:\\First", L"argStr: /D\"\"", L"targetPath before removing quote: \"",
        L"Target path specified (format /D\"path\"): "}},
      {"/D alone keeps an earlier path", {kExe, L"/d=C:\\First", L"/D"}, false, false, true, false, L"C:\\First",
       {L"Target path specified: C:\\First", L"argStr: /D", L"Invalid /D format: no path specified"}},
      {"a later path overrides an earlier one", {kExe, L"/DC:\\One", L"/d=C:\\Two"}, false, false, true, false,
       L"C:\\Two",
       {L"argStr: /DC:\\One", L"Target path specified (format /Dpath): C:\\One", L"Target path specified: C:\\Two"}},
      {"/dC:\\X without equals is ignored", {kExe, L"/dC:\\X"}, false, false, true, false, L"", {}},
      {"CJK path", {kExe, L"/DD:\\软件\\奥库"}, false, false, true, false, L"D:\\软件\\奥库",
       {L"argStr: /DD:\\软件\\奥库", L"Target path specified (format /Dpath): D:\\软件\\奥库"}},
      {"everything at once", {kExe, L"/S", L"kill", L"disable_autolaunch", L"update", L"/DE:\\Oku"}, true, true,
       false, true, L"E:\\Oku",
       {L"isQuiet = true,Argument /S", L"isKill = true,Argument kill",
        L"isAutoLaunch = false,Argument disable_autolaunch", L"argStr: /DE:\\Oku",
        L"Target path specified (format /Dpath): E:\\Oku"}},
      {"the program path itself is examined", {L"quiet"}, false, true, true, false, L"",
       {L"isQuiet = true,Argument quiet"}},
  };
}

TEST(InstallOptionsGrammar, EveryRuleAndEdgeCase) {
  for (const GrammarCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    std::vector<std::wstring> lines;
    const InstallOptions options = ParseInstallOptions(c.arguments, lines);
    EXPECT_EQ(options.isUpdate, c.isUpdate);
    EXPECT_EQ(options.isQuiet, c.isQuiet);
    EXPECT_EQ(options.isAutoLaunch, c.isAutoLaunch);
    EXPECT_EQ(options.isKill, c.isKill);
    EXPECT_EQ(options.targetPath, c.targetPath);
    EXPECT_EQ(lines, c.logLines);
  }
}

TEST(InstallOptionsGrammar, DefaultsBeforeParsing) {
  const InstallOptions options;
  EXPECT_FALSE(options.isUpdate);
  EXPECT_FALSE(options.isQuiet);
  EXPECT_TRUE(options.isAutoLaunch);
  EXPECT_FALSE(options.isKill);
  EXPECT_TRUE(options.targetPath.empty());
}

}  // namespace
