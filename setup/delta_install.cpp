#include "setup/delta_install.h"

#include <shellapi.h>
#include <wincrypt.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "common/file_system.h"
#include "common/handles.h"
#include "common/paths.h"
#include "common/portable/text.h"
#include "common/process.h"
#include "common/session_log.h"
#include "common/version_info.h"
#include "setup/install_records.h"
#include "setup/pre_install_checks.h"
#include "setup/product_installer.h"
#include "uninstall/portable/deletion_commands.h"
#include "resources/payload_ids.h"
#include "workspace/payload.h"

using oku::JoinPath;
using oku::ToWide;

namespace {

constexpr DWORD kPackWaitMs = 300000;
constexpr DWORD kUnpackWaitMs = 60000;
constexpr DWORD kPatchWaitMs = 300000;
constexpr DWORD kSetupWaitMs = 300000;
constexpr std::uint64_t kManifestLimitBytes = 64ull << 20;

std::atomic<DWORD>& ToolWaitLimit() {
  static std::atomic<DWORD> limit{0};
  return limit;
}

DWORD ToolWait(DWORD waitMs) {
  const DWORD limit = ToolWaitLimit().load();
  return limit != 0 && limit < waitMs ? limit : waitMs;
}

const ResourceEntry kDeltaResources[] = {
    payload::kChrome7zPatch, payload::kSetupExe,      payload::kZucchiniExe,     payload::k7zaExe,
    payload::kManifestJson,  payload::kVersionTxt,    payload::kOkuUninstallExe,
};

// Starts a program without a window and without inherited handles and waits for it. False when
// it could not be started. A run that outlives its wait is ended and reads as still active (259).
bool RunHidden(const std::wstring& commandLine, DWORD timeoutMs, DWORD& exitCode) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  std::wstring mutableLine = commandLine;
  if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
    return false;
  }
  const auto [process, thread] = oku::OwnProcessHandles(info);
  const DWORD waitMs = ToolWait(timeoutMs);
  if (::WaitForSingleObject(process.get(), waitMs) != WAIT_OBJECT_0) {
    // Left running it would go on writing into the working directory that is about to be deleted.
    LogWarning(L"[Delta] 等待超时 (" + ToWide(waitMs) + L" ms)，结束进程: " + commandLine);
    ::TerminateProcess(process.get(), STILL_ACTIVE);
    ::WaitForSingleObject(process.get(), 5000);
    exitCode = STILL_ACTIVE;
    return true;
  }
  if (!::GetExitCodeProcess(process.get(), &exitCode)) exitCode = STILL_ACTIVE;
  return true;
}

bool HashMatches(const std::wstring& actual, const std::string& expected) {
  return !actual.empty() && actual.size() == expected.size() && oku::Utf8FromWide(actual) == expected;
}

// The first entry of the installation directory that is a directory whose name starts with a digit.
std::wstring FindVersionFolder(const std::wstring& installDir) {
  for (const oku::DirectoryEntry entry : oku::DirectoryListing(installDir)) {
    if (entry.IsDirectory() && entry.name()[0] >= L'0' && entry.name()[0] <= L'9') return entry.name();
  }
  return std::wstring();
}

// One shell file operation without confirmation, error dialog or progress (flags 0x414).
bool ShellFileOperation(UINT operation, const std::wstring& from, const std::wstring& to) {
  std::wstring source = from;
  source.push_back(L'\0');
  std::wstring target = to;
  target.push_back(L'\0');
  SHFILEOPSTRUCTW op{};
  op.wFunc = operation;
  op.pFrom = source.c_str();
  op.pTo = operation == FO_DELETE ? nullptr : target.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
  return ::SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

void CopyByRecursiveFallback(const std::wstring& installDir, const std::wstring& stage, const std::wstring& version) {
  LogInfo(L"[Delta] manifest 无 file_list，使用递归复制");
  for (const wchar_t* name : {L"oku.compass.exe", L"chrome_proxy.exe"}) {
    const std::wstring source = JoinPath(installDir, name);
    if (oku::PathExists(source)) ::CopyFileW(source.c_str(), JoinPath(stage, name).c_str(), FALSE);
  }
  ShellFileOperation(FO_COPY, JoinPath(installDir, version), JoinPath(stage, version));
  const std::wstring lantern = JoinPath(stage, version) + L"\\lantern";
  if (oku::PathExists(lantern)) ShellFileOperation(FO_DELETE, lantern, L"");
}

void CopyByFileList(const std::wstring& installDir, const std::wstring& stage, const DeltaManifest& manifest) {
  LogInfo(L"[Delta] 使用 file_list 白名单复制 (" + ToWide(static_cast<std::uint64_t>(manifest.file_list.size())) +
          L" 个文件)");
  std::uint64_t copied = 0;
  for (const std::wstring& entry : manifest.file_list) {
    const std::wstring relative = FileListEntryToRelativePath(entry);
    if (relative.empty()) continue;  // the archive root itself (unsafe entries refused the manifest)
    // A folder that cannot be made shows as the file's failed copy.
    const size_t slash = relative.find_last_of(L'\\');
    if (slash != std::wstring::npos) (void)oku::CreateDirectoryTree(JoinPath(stage, relative.substr(0, slash)));
    const std::wstring source = JoinPath(installDir, relative);
    if (oku::FileExists(source) && ::CopyFileW(source.c_str(), JoinPath(stage, relative).c_str(), FALSE)) ++copied;
  }
  LogInfo(L"[Delta] 白名单复制完成: " + ToWide(copied) + L" 个文件");
}

}  // namespace

void SetDeltaToolWaitLimitForTesting(DWORD milliseconds) { ToolWaitLimit().store(milliseconds); }

bool HasDeltaPayload(HMODULE module) { return ::FindResourceW(module, MAKEINTRESOURCEW(130), RT_RCDATA) != nullptr; }

bool ReadDeltaManifest(const std::wstring& workingDir, DeltaManifest& manifest) {
  const std::wstring path = workingDir + L"\\manifest.json";
  oku::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    LogError(L"[Delta] 无法打开 manifest.json");
    return false;
  }
  // No real manifest comes near the limit; a larger file is refused rather than read cut short.
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file.get(), &size) && static_cast<std::uint64_t>(size.QuadPart) > kManifestLimitBytes) {
    LogError(L"[Delta] manifest.json 过大: " + ToWide(static_cast<std::uint64_t>(size.QuadPart)) + L" 字节 (上限 " +
             ToWide(kManifestLimitBytes) + L")");
    return false;
  }
  std::string text;
  std::vector<char> buffer(65536);
  DWORD read = 0;
  while (::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read > 0) {
    text.append(buffer.data(), read);
    if (text.size() > kManifestLimitBytes) {  // grew while being read
      LogError(L"[Delta] manifest.json 过大: " + ToWide(static_cast<std::uint64_t>(text.size())) + L" 字节 (上限 " +
               ToWide(kManifestLimitBytes) + L")");
      return false;
    }
  }
  DeltaManifest parsed;
  switch (ParseDeltaManifest(text, parsed)) {
    case ManifestError::MissingHash:
      LogError(L"[Delta] manifest.json 缺少必要字段");
      return false;
    case ManifestError::UnsafeFileListEntry:
      LogError(L"[Delta] manifest.json file_list 含有不安全的路径（安装目录之外或设备名），拒绝: " +
               parsed.refused_entry);
      return false;
    case ManifestError::None:
      break;
  }
  if (!parsed.file_list.empty() || text.find("\"file_list\"") != std::string::npos) {
    LogInfo(L"[Delta] manifest file_list: " + ToWide(static_cast<std::uint64_t>(parsed.file_list.size())) +
            L" 个文件");
  }
  manifest = std::move(parsed);
  return true;
}

bool RepackBaseArchive(const std::wstring& installDir, const std::wstring& workingDir, std::wstring& archivePath) {
  const std::wstring version = FindVersionFolder(installDir);
  if (version.empty()) {
    LogError(L"[Delta] 未找到版本目录");
    return false;
  }
  LogInfo(L"[Delta] 已安装版本: " + version);
  const std::wstring stage = workingDir + L"\\Chrome-bin";
  ::CreateDirectoryW(stage.c_str(), nullptr);
  DeltaManifest manifest;
  if (!ReadDeltaManifest(workingDir, manifest)) {
    LogError(L"[Delta] 读取 manifest.json 失败，无法获取 file_list");
    return false;
  }
  if (manifest.file_list.empty()) {
    CopyByRecursiveFallback(installDir, stage, version);
  } else {
    CopyByFileList(installDir, stage, manifest);
  }
  const std::wstring archive = JoinPath(workingDir, L"chrome.7z");
  const std::wstring command = L"\"" + JoinPath(workingDir, L"7za.exe") +
                               L"\" a -t7z -mx0 -mtm=off -mtc=off -mta=off \"" + archive + L"\" \"" + stage + L"\"";
  LogInfo(L"[Delta] 执行 7za: " + command);
  DWORD exitCode = 0;
  if (!RunHidden(command, kPackWaitMs, exitCode)) {
    LogError(L"[Delta] 启动 7za.exe 失败");
    return false;
  }
  if (exitCode != 0) {
    LogError(L"[Delta] 7za 退出码: " + ToWide(exitCode));
    return false;
  }
  if (!oku::FileExists(archive)) {
    LogError(L"[Delta] chrome.7z 不存在");
    return false;
  }
  archivePath = archive;
  return true;
}

std::wstring ComputeFileSha256(const std::wstring& path) {
  oku::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return std::wstring();
  HCRYPTPROV provider = 0;
  if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return std::wstring();
  HCRYPTHASH hash = 0;
  std::wstring result;
  if (::CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
    std::vector<BYTE> buffer(65536);
    DWORD read = 0;
    bool ok = true;
    while (::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read > 0) {
      if (!::CryptHashData(hash, buffer.data(), read, 0)) {
        ok = false;
        break;
      }
    }
    BYTE digest[32];
    DWORD size = sizeof(digest);
    if (ok && ::CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == sizeof(digest)) {
      wchar_t hex[65];
      for (int i = 0; i < 32; ++i) std::swprintf(hex + 2 * i, 3, L"%02x", digest[i]);
      result.assign(hex, 64);
    }
    ::CryptDestroyHash(hash);
  }
  ::CryptReleaseContext(provider, 0);
  return result;
}

bool ApplyZucchiniPatch(const std::wstring& workingDir, const std::wstring& oldArchive, std::wstring& newArchivePath) {
  const std::wstring patch = JoinPath(workingDir, L"chrome_7z.patch");
  const std::wstring target = JoinPath(workingDir, L"new_chrome.7z");
  const std::wstring command = L"\"" + JoinPath(workingDir, L"zucchini.exe") + L"\" -apply \"" + oldArchive +
                               L"\" \"" + patch + L"\" \"" + target + L"\"";
  LogInfo(L"[Delta] 执行 zucchini: " + command);
  DWORD exitCode = 0;
  if (!RunHidden(command, kPatchWaitMs, exitCode)) {
    LogError(L"[Delta] 启动 zucchini.exe 失败");
    return false;
  }
  if (exitCode != 0) {
    LogError(L"[Delta] zucchini 退出码: " + ToWide(exitCode));
    return false;
  }
  if (!oku::FileExists(target)) {
    LogError(L"[Delta] new_chrome.7z 不存在");
    return false;
  }
  newArchivePath = target;
  return true;
}

int RunSetupWithArchive(const std::wstring& workingDir, const std::wstring& archive) {
  const std::wstring command =
      L"\"" + JoinPath(workingDir, L"setup.exe") + L"\" --uncompressed-archive=\"" + archive + L"\" --verbose-logging";
  LogInfo(L"[Delta] 执行 setup.exe: " + command);
  DWORD exitCode = 0;
  if (!RunHidden(command, kSetupWaitMs, exitCode)) {
    LogError(L"[Delta] 启动 setup.exe 失败");
    return -1;
  }
  LogInfo(L"[Delta] setup.exe exit_code=" + ToWide(exitCode));
  return static_cast<int>(exitCode);
}

int ApplyDeltaPackage(HMODULE module, const std::wstring& workingDir, const std::wstring& installDir) {
  LogInfo(L"[Delta] ===== 增量安装开始 =====");
  LogInfo(L"[Delta] Step1: 释放增量资源");
  if (!ExtractResources(module, kDeltaResources, workingDir).allSucceeded) {
    LogError(L"[Delta] Step1 FAILED: 释放资源失败");
    return kDeltaExtractFailed;
  }
  DeltaManifest manifest;
  if (!ReadDeltaManifest(workingDir, manifest)) {
    LogError(L"[Delta] manifest.json 读取失败");
    return kDeltaManifestFailed;
  }
  LogInfo(L"[Delta] base_version=" + oku::WideFromUtf8(manifest.base_version));

  LogInfo(L"[Delta] Step2: Repack chrome.7z from install dir");
  std::wstring archive;
  if (!RepackBaseArchive(installDir, workingDir, archive)) {
    LogError(L"[Delta] Step2 FAILED: repack 失败");
    return kDeltaNoInstallOrRepack;
  }
  LogInfo(L"[Delta] Step2 OK: " + archive);

  LogInfo(L"[Delta] Step3: 校验 base chrome.7z hash");
  const std::wstring baseHash = ComputeFileSha256(archive);
  if (!HashMatches(baseHash, manifest.base_chrome_7z_sha256)) {
    LogError(L"[Delta] Step3 FAILED: hash 不匹配");
    LogError(L"[Delta]   expected: " + oku::WideFromUtf8(manifest.base_chrome_7z_sha256));
    LogError(L"[Delta]   actual:   " + baseHash);
    return kDeltaBaseHashMismatch;
  }
  LogInfo(L"[Delta] Step3 OK: hash 匹配");

  LogInfo(L"[Delta] Step3.5: 解压 LZMA2 patch");
  const std::wstring patch = JoinPath(workingDir, L"chrome_7z.patch");
  const std::wstring packed = JoinPath(workingDir, L"chrome_7z.patch.7z");
  ::MoveFileExW(patch.c_str(), packed.c_str(), MOVEFILE_REPLACE_EXISTING);
  const std::wstring unpack = L"\"" + JoinPath(workingDir, L"7za.exe") + L"\" e \"" + packed + L"\" -o\"" +
                              workingDir + L"\" -y";
  LogInfo(L"[Delta] 执行 7za: " + unpack);
  DWORD exitCode = 0;
  if (!RunHidden(unpack, kUnpackWaitMs, exitCode)) {
    LogError(L"[Delta] Step3.5 FAILED: 启动 7za 解压失败");
    return kDeltaExtractFailed;
  }
  if (exitCode != 0) {
    LogError(L"[Delta] Step3.5 FAILED: 7za 解压 patch 退出码=" + ToWide(exitCode));
    return kDeltaExtractFailed;
  }
  ::DeleteFileW(packed.c_str());
  const std::wstring raw = JoinPath(workingDir, L"chrome_7z.patch.raw");
  if (oku::PathExists(raw)) ::MoveFileExW(raw.c_str(), patch.c_str(), MOVEFILE_REPLACE_EXISTING);
  LogInfo(L"[Delta] Step3.5 OK: patch 已解压");

  LogInfo(L"[Delta] Step4: zucchini apply");
  std::wstring newArchive;
  if (!ApplyZucchiniPatch(workingDir, archive, newArchive)) {
    LogError(L"[Delta] Step4 FAILED: patch apply 失败");
    return kDeltaPatchFailed;
  }
  LogInfo(L"[Delta] Step4 OK: " + newArchive);

  LogInfo(L"[Delta] Step5: 校验 new chrome.7z hash");
  if (!HashMatches(ComputeFileSha256(newArchive), manifest.new_chrome_7z_sha256)) {
    LogError(L"[Delta] Step5 FAILED: new hash 不匹配");
    return kDeltaNewHashMismatch;
  }
  LogInfo(L"[Delta] Step5 OK: new hash 匹配");

  LogInfo(L"[Delta] Step6: setup.exe --uncompressed-archive");
  const int setupResult = RunSetupWithArchive(workingDir, newArchive);
  if (setupResult != 0) {
    LogError(L"[Delta] Step6 FAILED: setup.exe exit_code=" + ToWide(setupResult));
    return kDeltaSetupFailed;
  }
  LogInfo(L"[Delta] ===== 增量安装成功 =====");
  return kDeltaOk;
}

namespace {

// The product's setup program works in "<installation directory>\..\Temp". That folder is the
// product's own only in the product's data folder ("...\oku.compass\Application" beside
// "...\oku.compass\Temp"); beside any other installation directory it may be a user's folder.
void RemoveSetupTempFolder(const std::wstring& installDir) {
  wchar_t full[MAX_PATH] = {};
  const std::wstring leftover = installDir + L"\\..\\Temp";
  const DWORD length = ::GetFullPathNameW(leftover.c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return;
  const DWORD attributes = ::GetFileAttributesW(full);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  std::wstring directory = installDir;
  while (directory.size() > 3 && directory.back() == L'\\') directory.pop_back();
  const size_t slash = directory.find_last_of(L'\\');
  const std::wstring parent = slash == std::wstring::npos ? std::wstring() : directory.substr(0, slash);
  const bool productDataFolder = slash != std::wstring::npos &&
                                 oku::EqualsIgnoreCaseAscii(directory.substr(slash + 1), L"Application") &&
                                 oku::EqualsIgnoreCaseAscii(oku::BaseNameOf(parent), L"oku.compass");
  if (!productDataFolder || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    LogInfo(std::wstring(L"[Delta] 安装目录不在产品数据目录内，保留同级 Temp 目录: ") + full);
    return;
  }
  LogInfo(std::wstring(L"[Delta] 清理 setup.exe 残留目录: ") + full);
  DeleteAllFilesInDirectory(full);
}

}  // namespace

int QuietInstallIncremental(HMODULE module, const std::wstring& workingDir, bool isKill) {
  LogInfo(L"[Delta] 检测到增量模式，进入增量安装流程");
  const std::wstring installDir = ReadInstallPath();
  if (installDir.empty()) {
    LogError(L"[Delta] 未找到安装路径，无法增量安装");
    return kDeltaNoInstallOrRepack;
  }
  if (isKill) KillProcessByName(L"oku.compass.exe");
  const int code = ApplyDeltaPackage(module, workingDir, installDir);
  if (code == kDeltaOk) {
    LogInfo(L"[Delta] 增量安装成功，更新卸载器和注册表");
    ::CopyFileW(JoinPath(workingDir, L"OkuUninstall.exe").c_str(), (installDir + L"\\OkuUninstall.exe").c_str(), FALSE);
    // Best effort: a failure was logged; the update's result stays the patch's.
    (void)MoveUninstaller(installDir);
    WriteVersionRecord(oku::WideFromUtf8(ReadVersionFile(workingDir.c_str())));
    WriteInstallerName();
  }
  RemoveSetupTempFolder(installDir);
  LogInfo(L"[Delta] 退出，exit_code=" + ToWide(code));
  return code;
}
