@echo off
setlocal DisableDelayedExpansion

set "targetDir=%~1"

set "sourceDir=%~dp0"

echo Copying files from "%sourceDir%" to "%targetDir%"

xcopy "%sourceDir%\*.exe" "%targetDir%\" /s /e /y
xcopy "%sourceDir%\*.dll" "%targetDir%\" /s /e /y
xcopy "%sourceDir%\*.pem" "%targetDir%\" /s /e /y

if not exist "%targetDir%\uninstall\" mkdir "%targetDir%\uninstall"
move /y "%targetDir%\OkuUninstall.exe" "%targetDir%\uninstall\OkuUninstall.exe"

echo Executing mini_installer.exe in "%targetDir%"

start "" /wait "%targetDir%\mini_installer.exe"

if %errorlevel% neq 0 (
    echo mini_installer.exe failed, error code: %errorlevel%
    set exitCode=%errorlevel%
) else (
    echo mini_installer.exe success
    set exitCode=0
)
exit %exitCode%