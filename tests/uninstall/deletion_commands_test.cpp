// Command lines of the last-resort deleters: a file name can only ever name itself.
#include <gtest/gtest.h>

#include <string>

#include "uninstall/portable/deletion_commands.h"

namespace {

TEST(DeletionCommands, CmdQuotesThePathAndRefusesWhatItWouldExpand) {
  EXPECT_EQ(oku::CmdDeleteFileCommand(L"C:\\a b\\x&del y.txt"), L"cmd.exe /C del /F /Q \"C:\\a b\\x&del y.txt\"");
  EXPECT_EQ(oku::CmdRemoveDirectoryCommand(L"C:\\it's ^;$"), L"cmd.exe /C rmdir /S /Q \"C:\\it's ^;$\"");
  struct Case {
    const wchar_t* path;
    bool carried;
  } cases[] = {
      {L"C:\\x\\a'b&c^d;e$f (g) h,i=j@k#l~m[n]o`p.txt", true},
      {L"C:\\x\\%TEMP%.txt", false},  // expanded even inside quotes
      {L"C:\\x\\50%.txt", false},
      {L"C:\\x\\!x!.txt", false},   // delayed expansion, when enabled for the user
      {L"C:\\x\\a\"b", false},      // would end the quoted text
      {L"C:\\x\\a\nb", false},
      {L"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(oku::CmdCanCarryPath(c.path), c.carried) << testing::PrintToString(std::wstring(c.path));
    EXPECT_EQ(oku::CmdDeleteFileCommand(c.path).empty(), !c.carried);
  }
}

TEST(DeletionCommands, PowerShellLiteralDoublesEverySingleQuoteKind) {
  EXPECT_EQ(oku::PowerShellSingleQuoted(L"it's"), L"'it''s'");
  EXPECT_EQ(oku::PowerShellSingleQuoted(L"a\u2018b\u2019c\u201Ad\u201Be"), L"'a\u2018\u2018b\u2019\u2019c\u201A\u201Ad\u201B\u201Be'");
  EXPECT_EQ(oku::PowerShellSingleQuoted(L"$(rm x); $env:TEMP"), L"'$(rm x); $env:TEMP'");
  EXPECT_EQ(oku::PowerShellDeleteFileCommand(L"C:\\x\\it's; rm victim"),
            L"powershell.exe -Command \"Remove-Item -LiteralPath 'C:\\x\\it''s; rm victim' -Force\"");
  EXPECT_EQ(oku::PowerShellRemoveDirectoryCommand(L"C:\\x\\[1]"),
            L"powershell.exe -Command \"Remove-Item -LiteralPath 'C:\\x\\[1]' -Recurse -Force\"");
  EXPECT_EQ(oku::PowerShellDeleteFileCommand(L"C:\\x\\50%.txt"),
            L"powershell.exe -Command \"Remove-Item -LiteralPath 'C:\\x\\50%.txt' -Force\"");
  EXPECT_TRUE(oku::PowerShellDeleteFileCommand(L"C:\\x\\a\"b").empty());
  EXPECT_TRUE(oku::PowerShellDeleteFileCommand(L"C:\\x\\a\u201Cb").empty());
  EXPECT_TRUE(oku::PowerShellDeleteFileCommand(L"C:\\x\\a\tb").empty());
  EXPECT_TRUE(oku::PowerShellDeleteFileCommand(L"").empty());
}

TEST(DeletionCommands, PathHelpers) {
  EXPECT_EQ(oku::BaseNameOf(L"C:\\a\\b.txt"), L"b.txt");
  EXPECT_EQ(oku::BaseNameOf(L"b.txt"), L"b.txt");
  EXPECT_EQ(oku::BaseNameOf(L"C:\\a\\"), L"");
  EXPECT_TRUE(oku::LooksLikeLogFile(L"C:\\x\\debug.log"));
  EXPECT_TRUE(oku::LooksLikeLogFile(L"C:\\x.logs\\data.bin"));  // anywhere in the path
  EXPECT_FALSE(oku::LooksLikeLogFile(L"C:\\x\\debug.txt"));
  EXPECT_FALSE(oku::LooksLikeLogFile(L"C:\\x\\a.lo\\g"));
}

}  // namespace
