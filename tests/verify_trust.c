/* Asks Windows whether a file's Authenticode signature holds, as Explorer
 * and SmartScreen do (no UI, no revocation check), and prints the result of
 * WinVerifyTrust as 0x%08lX. */
#include <windows.h>

#include <softpub.h>
#include <wintrust.h>

#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    fputs("usage: verify_trust FILE\n", stderr);
    return 2;
  }
  WINTRUST_FILE_INFO file = {sizeof file};
  file.pcwszFilePath = argv[1];
  WINTRUST_DATA data = {sizeof data};
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = WinVerifyTrust(INVALID_HANDLE_VALUE, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(INVALID_HANDLE_VALUE, &action, &data);
  printf("0x%08lX\n", (unsigned long)result);
  return 0;
}
