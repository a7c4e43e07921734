#include "cli/process.h"

#include <windows.h>

namespace kestrine {

void RestrictDllSearchToSystemFolder() {
  // SetDefaultDllDirectories came with an update to Windows 7 and is built
  // into Windows 8; the image must still start on Windows 6.0, so it is looked
  // up rather than imported. Not LOAD_LIBRARY_SEARCH_DEFAULT_DIRS: that keeps
  // the program's own folder in the search.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const auto set_default_dll_directories =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(
          reinterpret_cast<void*>(GetProcAddress(
              GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (set_default_dll_directories != nullptr &&
      set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    return;
  }
  // Without it, at least take the current folder out of the search.
  SetDllDirectoryW(L"");
}

bool HasStandardOutput() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  return output != nullptr && output != INVALID_HANDLE_VALUE;
}

}  // namespace kestrine
