/* Stand-in for one of the maker's crash-report libraries (tracer_logger.dll, dockit.dll,
 * client_extension.dll). The installer only places these files; nothing calls them. One export
 * names the library, so a loader test can tell them apart. */
#include <windows.h>

__declspec(dllexport) const char* OkuCrashComponentName(void) { return OKU_CRASH_COMPONENT; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
