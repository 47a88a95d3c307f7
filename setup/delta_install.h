// The incremental installation: an update package patches the installed browser archive,
// verified by SHA-256 before and after, and hands the result to the product's setup program.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "setup/portable/delta_manifest.h"

// Result codes of the incremental branch.
constexpr int kDeltaOk = 0;
constexpr int kDeltaNoInstallOrRepack = 200;
constexpr int kDeltaBaseHashMismatch = 201;
constexpr int kDeltaPatchFailed = 202;
constexpr int kDeltaNewHashMismatch = 203;
constexpr int kDeltaSetupFailed = 204;
constexpr int kDeltaExtractFailed = 205;
constexpr int kDeltaManifestFailed = 206;

// True when the module carries the update-package marker (data resource 130).
bool HasDeltaPayload(HMODULE module);
// The incremental branch of the silent installation; returns its result code.
[[nodiscard]] int QuietInstallIncremental(HMODULE module, const std::wstring& workingDir, bool isKill);
[[nodiscard]] int ApplyDeltaPackage(HMODULE module, const std::wstring& workingDir, const std::wstring& installDir);
// Reads workingDir\manifest.json (logging why it was refused); manifest is untouched on failure.
[[nodiscard]] bool ReadDeltaManifest(const std::wstring& workingDir, DeltaManifest& manifest);
// Packs the installed browser files into workingDir\chrome.7z; archivePath is set only on success.
[[nodiscard]] bool RepackBaseArchive(const std::wstring& installDir, const std::wstring& workingDir,
                                     std::wstring& archivePath);
std::wstring ComputeFileSha256(const std::wstring& path);
// Patches oldArchive into workingDir\new_chrome.7z; newArchivePath is set only on success.
[[nodiscard]] bool ApplyZucchiniPatch(const std::wstring& workingDir, const std::wstring& oldArchive,
                                      std::wstring& newArchivePath);
[[nodiscard]] int RunSetupWithArchive(const std::wstring& workingDir, const std::wstring& archive);

// Caps the wait for each tool (tests of the timeout); 0 restores the waits of the table.
void SetDeltaToolWaitLimitForTesting(DWORD milliseconds);
