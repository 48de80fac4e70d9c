// New files through CreateFileW(CREATE_NEW); the permissions are those the
// folder passes on, which in a user's own folders admit that user alone.
#include "release/new_file.h"

#include <windows.h>

#include <algorithm>

namespace release {

NewFile writeNewFile(const std::filesystem::path& path, std::string_view bytes, bool,
                     std::error_code& error) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return NewFile::Exists;
    error.assign(static_cast<int>(code), std::system_category());
    return NewFile::Failed;
  }
  DWORD failure = 0;
  while (!bytes.empty() && !failure) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr))
      failure = GetLastError();
    else if (written == 0)
      failure = ERROR_HANDLE_DISK_FULL;
    else
      bytes.remove_prefix(written);
  }
  if (!CloseHandle(file) && !failure) failure = GetLastError();
  if (!failure) return NewFile::Written;
  DeleteFileW(path.c_str());
  error.assign(static_cast<int>(failure), std::system_category());
  return NewFile::Failed;
}

}  // namespace release
