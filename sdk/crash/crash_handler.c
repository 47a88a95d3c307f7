/* Stand-in for the maker's crash handler programs (crashpad_handler_tracer.exe,
 * crashpad_handler_extension.exe): starts, does nothing, exits 0. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR arguments, int show) {
  (void)instance;
  (void)previous;
  (void)arguments;
  (void)show;
  return 0;
}
