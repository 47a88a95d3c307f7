// Per-monitor DPI awareness for both programs, through shcore.dll from the system directory.
#pragma once

// Makes the process per-monitor DPI aware where the system offers it (Windows 8.1 and later).
void EnablePerMonitorDpiAwareness();
