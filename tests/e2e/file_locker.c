/* Holds a file open, the way another program can keep it from being changed
   on Windows, until it is killed. Usage:
   file_locker <file> <marker> [read]: once the file is open, creates <marker>.
   Without "read" the file is shared with nobody; with it, it is open for
   reading and shared for reading only, as a program running from it is. */
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
  HANDLE file, marker;
  int reader = argc == 4 && strcmp(argv[3], "read") == 0;
  if (argc != 3 && !reader) return 2;
  file = reader
             ? CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL)
             : CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  marker = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (marker == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(marker);
  Sleep(INFINITE);
  return 0;
}
