// Exit codes of OkuSetup.exe that the startup, the entry and both installation pipelines (silent
// and window mode) give; codes of one step only live beside it (quiet_install.h,
// product_installer.h, delta_install.h), and a product installer's own exit code passes through
// unchanged.
#pragma once

// The working directory could not be prepared (or is missing when the installation starts).
inline constexpr int kExitWorkingDirFailed = 3;
// A payload group could not be written into the working directory.
inline constexpr int kExitPayloadFailed = 1392;
// The installer could not start its work: the single-instance mutex, the command line or the
// installation thread could not be had.
inline constexpr int kExitStartFailed = 1008;
// An update package was started without "/S": it runs silently only and wrote nothing.
inline constexpr int kExitUpdatePackageNeedsSilent = 1009;
// Another installer runs (the single-instance gate refused this start); as the Windows
// installer service answers "another installation is in progress".
inline constexpr int kExitAlreadyRunning = 1618;

// Both pipelines: the installation directory could not be created, the install files could not
// be written into it, the uninstaller could not be moved into its "uninstall" folder.
inline constexpr int kQuietCreateDirFailed = 1000;
inline constexpr int kQuietFilesFailed = 1001;
inline constexpr int kQuietMoveUninstallerFailed = 1004;
