// Where the Windows builds load DLLs from: the system directory, never the
// program's own directory or the working directory.
//
// The loader resolves a program's imports before its entry runs, and looks
// for a DLL that is not among the system's KnownDLLs in the program's
// directory first: a version.dll, comctl32.dll or bcrypt.dll put beside the
// updater would run its code inside it, with administrator rights when it
// runs with them. So the programs import only KnownDLLs (kernel32, user32,
// gdi32, advapi32, shell32, msvcrt, ws2_32) and take the functions of the
// others through systemLibrary() and SYSTEM_FUNCTION, after the entry has
// called restrictDllSearch().
//
// Explicit loading rather than the linker's delay-load imports: mingw's
// delay-load helper asks LoadLibraryA for the bare name, which on a Windows 7
// without SetDefaultDllDirectories still searches the program's directory
// first, and raises an exception where a DLL or function is missing; it also
// takes import libraries made with dlltool for each architecture. These few
// lines hold on every system, in both builds and with link-time optimisation.
#pragma once

#include <windows.h>

#include <cwchar>

namespace platform {

// The first thing the Windows entry does. Where the system has
// SetDefaultDllDirectories (Windows 8 on, Windows 7 with KB2533623), every
// later load by name in the process, the system DLLs' own among them, searches
// the system directory only. Elsewhere the working directory at least leaves
// the search order.
inline void restrictDllSearch() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const auto setDefaultDllDirectories =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (setDefaultDllDirectories == nullptr ||
      !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
    SetDllDirectoryW(L"");
}

// The system DLL of that name (L"version.dll"), from the system directory;
// null where it cannot be loaded. By name with the search flag, so that an
// activation context's redirection (comctl32 version 6, where a manifest asks
// for it) still applies; by full path where the flag is unknown (Windows 7
// without KB2533623).
inline HMODULE systemLibrary(const wchar_t* name) {
  HMODULE library = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (library != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return library;
  wchar_t path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length + 1 + std::wcslen(name) >= MAX_PATH) return nullptr;
  path[length] = L'\\';
  std::wcscpy(path + length + 1, name);
  return LoadLibraryW(path);
}

template <typename Function>
Function systemFunction(HMODULE library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace platform

// The function `name` of the loaded system DLL `library`, typed as the system
// headers declare it (its calling convention too); null where it is missing.
#define SYSTEM_FUNCTION(library, name) ::platform::systemFunction<decltype(&name)>(library, #name)
