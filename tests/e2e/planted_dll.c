/* A DLL that someone else put beside the updater, under the name of a system
   DLL that is not among the system's KnownDLLs (comctl32.dll, bcrypt.dll).
   Loaded, it leaves "<its file name>.loaded" beside itself. It exports the
   functions the updater takes from those DLLs, each failing, so that a
   program importing them starts with it as with a planted copy that forwards
   them. Its stubs have types of their own: the system's declarations of
   those functions stay out (no windows.h). */
#include <stdarg.h>
#include <windef.h>
#include <winbase.h>

#pragma GCC diagnostic ignored "-Wunused-parameter"

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 8];
  DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcatW(path, L".loaded");
  HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  return TRUE;
}

#define EXPORT __declspec(dllexport) LONG WINAPI
/* STATUS_NOT_SUPPORTED */
#define FAILED_STATUS ((LONG)0xC00000BBL)

EXPORT InitCommonControlsEx(void* a) {
  return FALSE;
}
EXPORT BCryptOpenAlgorithmProvider(void* a, void* b, void* c, ULONG d) {
  return FAILED_STATUS;
}
EXPORT BCryptCreateHash(void* a, void* b, void* c, ULONG d, void* e, ULONG f, ULONG g) {
  return FAILED_STATUS;
}
EXPORT BCryptHashData(void* a, void* b, ULONG c, ULONG d) {
  return FAILED_STATUS;
}
EXPORT BCryptFinishHash(void* a, void* b, ULONG c, ULONG d) {
  return FAILED_STATUS;
}
EXPORT BCryptDestroyHash(void* a) {
  return FAILED_STATUS;
}
