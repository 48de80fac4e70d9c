/* Holds a file open without sharing it with anyone, the way another program
   can lock a file on Windows, until it is killed. Usage:
   file_locker <file> <marker>: once the file is open, creates <marker>. */
#include <windows.h>

int main(int argc, char** argv) {
  HANDLE file, marker;
  if (argc != 3) return 2;
  file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  marker = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (marker == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(marker);
  Sleep(INFINITE);
  return 0;
}
