// The window-mode installation: prepares the chosen directory, places the install files and
// starts the installation thread, which writes the records, runs the product installer and
// finally lets the progress simulation finish.
#pragma once

#include <windows.h>

class InstallContext;

// True when an earlier installation lives in a directory this user cannot write.
bool UseAdministratorMode(InstallContext& context);
// On the pre-check thread (or the window thread in update mode): directory, install files,
// auto-start choice, then the installation thread. Returns without starting it on any failure.
void StartInstallation(InstallContext& context);
// The installation thread's body.
DWORD InstallThreadProc(InstallContext& context);
// Starts the installed product unless it already runs.
void OnLaunchBtnClick(InstallContext& context);
