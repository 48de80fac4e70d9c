/* Saves a user's logon for a server in the credential manager of the wine
   prefix it runs in, or deletes it again: what "Remember my credentials" does
   for a server on Windows, where the security packages then log on to that
   server with it as the user's own. Usage: save_credential add <server>
   <DOMAIN\user> <password> | save_credential remove <server> */
#include <string.h>
#include <wchar.h>
#include <windows.h>
#include <wincred.h>

int wmain(int argc, wchar_t** argv) {
  CREDENTIALW credential;
  if (argc == 3 && wcscmp(argv[1], L"remove") == 0)
    return CredDeleteW(argv[2], CRED_TYPE_DOMAIN_PASSWORD, 0) ? 0 : 1;
  if (argc != 5 || wcscmp(argv[1], L"add") != 0) return 2;
  memset(&credential, 0, sizeof credential);
  credential.Type = CRED_TYPE_DOMAIN_PASSWORD;
  credential.TargetName = argv[2];
  credential.UserName = argv[3];
  credential.CredentialBlob = (BYTE*)argv[4];
  credential.CredentialBlobSize = (DWORD)(wcslen(argv[4]) * sizeof(wchar_t));
  credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
  return CredWriteW(&credential, 0) ? 0 : 1;
}
