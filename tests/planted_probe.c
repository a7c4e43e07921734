/* A DLL that does nothing: a copy of it, planted beside Kestrine.exe or in
 * its current folder, must never be loaded. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
