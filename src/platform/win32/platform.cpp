// The Windows provider of the system services: the system's ANSI functions,
// called with the program's byte strings as they are.
#include <windows.h>
#include <aclapi.h>
#include <shellapi.h>
#include <winver.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "base/error.h"
#include "platform/platform.h"
#include "platform/test_pause.h"
#include "platform/win32/file_name_case.h"
#include "platform/win32/ansi_text.h"
#include "platform/win32/system_library.h"

namespace platform {

namespace {

constexpr DWORD kShortWrite = base::kIoDiskFull;
constexpr DWORD kFixedInfoSignature = 0xFEEF04BD;

class Win32Key : public RegistryKey {
 public:
  explicit Win32Key(HKEY key) : key_(key) {}
  ~Win32Key() override { RegCloseKey(key_); }

  bool valueExists(const std::string& name) override {
    return RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
  }

  // REG_SZ and REG_EXPAND_SZ as stored (environment references stay), up to
  // the first NUL: a string ends there, whatever the stored size says.
  std::string readString(const std::string& name) override {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      return "";
    // The value may grow between the two calls: ask again with the new size.
    for (int attempt = 0; attempt < 4; ++attempt) {
      if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw base::Error("Invalid data type for '" + name + "'");
      std::string data(size_t{size} + 1, '\0');
      DWORD got = static_cast<DWORD>(data.size());
      const LONG result = RegQueryValueExA(key_, name.c_str(), nullptr, &type,
                                           reinterpret_cast<BYTE*>(data.data()), &got);
      if (result == ERROR_MORE_DATA) {
        size = got;
        continue;
      }
      if (result != ERROR_SUCCESS) return "";
      if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw base::Error("Invalid data type for '" + name + "'");
      data.resize(std::min<size_t>(got, data.size()));
      data.resize(std::min(data.find('\0'), data.size()));
      return data;
    }
    return "";
  }

 private:
  HKEY key_;
};

class Win32OutputFile : public OutputFile {
 public:
  explicit Win32OutputFile(HANDLE handle) : handle_(handle) {}
  ~Win32OutputFile() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }

  uint32_t write(const void* data, size_t size) override {
    if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
    const char* from = static_cast<const char*>(data);
    while (size > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
      DWORD written = 0;
      if (!WriteFile(handle_, from, chunk, &written, nullptr)) return GetLastError();
      if (written < chunk) return kShortWrite;
      from += chunk;
      size -= chunk;
    }
    return 0;
  }

  uint32_t close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
    return CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) ? 0 : GetLastError();
  }

 private:
  HANDLE handle_;
};

uint32_t readAt(HANDLE handle, uint64_t offset, void* data, size_t size, size_t& got) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD n = 0;
  got = 0;
  const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
  if (!ReadFile(handle, data, chunk, &n, &at)) {
    const DWORD error = GetLastError();
    return error == ERROR_HANDLE_EOF ? 0 : error;
  }
  got = n;
  return 0;
}

class Win32InputFile : public InputFile {
 public:
  explicit Win32InputFile(HANDLE handle) : handle_(handle) {}
  ~Win32InputFile() override { CloseHandle(handle_); }
  uint32_t read(uint64_t offset, void* data, size_t size, size_t& got) override {
    return readAt(handle_, offset, data, size, got);
  }

 private:
  HANDLE handle_;
};

// Reads move a synchronous handle's file pointer too: the writes go on from
// the kept bytes' end wherever the reads stopped.
class Win32ResumedFile : public ResumedFile {
 public:
  Win32ResumedFile(HANDLE handle, uint64_t kept) : handle_(handle), out_(handle), kept_(kept) {}
  uint32_t write(const void* data, size_t size) override {
    if (kept_) {
      LARGE_INTEGER at;
      at.QuadPart = static_cast<LONGLONG>(*kept_);
      if (!SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN)) return GetLastError();
      kept_.reset();
    }
    return out_.write(data, size);
  }
  uint32_t close() override { return out_.close(); }
  uint32_t read(uint64_t offset, void* data, size_t size, size_t& got) override {
    return readAt(handle_, offset, data, size, got);
  }

 private:
  HANDLE handle_;
  Win32OutputFile out_;
  std::optional<uint64_t> kept_;
};

// The owners this process gives the files it makes (the token's owner for new
// objects) and its user.
bool IsOwnSid(PSID sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  bool own = false;
  for (TOKEN_INFORMATION_CLASS kind : {TokenOwner, TokenUser}) {
    alignas(8) unsigned char buffer[256];
    DWORD size = 0;
    if (!GetTokenInformation(token, kind, buffer, sizeof buffer, &size)) continue;
    // TOKEN_OWNER and TOKEN_USER both start with the SID's address.
    PSID mine = *reinterpret_cast<PSID*>(buffer);
    if (mine && EqualSid(mine, sid)) own = true;
  }
  CloseHandle(token);
  return own;
}

// A file this process may write in place: a plain file (no link or other
// reparse point) under this one name, owned by this process's account.
// Anything else at a name the program writes (a link, a second name of
// another file, a file planted by another account) could send its bytes
// elsewhere or let another process change them after their check. The handle
// is opened with READ_CONTROL and FILE_FLAG_OPEN_REPARSE_POINT.
bool OwnedAlone(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
      info.nNumberOfLinks != 1)
    return false;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  const bool own = owner && IsOwnSid(owner);
  LocalFree(descriptor);
  return own;
}

constexpr DWORD kNoLinkFollowed = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

class Win32Process : public Process {
 public:
  explicit Win32Process(HANDLE handle) : handle_(handle) {}
  ~Win32Process() override { CloseHandle(handle_); }
  Win32Process(const Win32Process&) = delete;
  Win32Process& operator=(const Win32Process&) = delete;

  std::optional<uint32_t> wait(uint32_t milliseconds) override {
    if (WaitForSingleObject(handle_, milliseconds) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(handle_, &code);
    return code;
  }

 private:
  HANDLE handle_;
};

class Win32Platform : public Platform {
 public:
  std::unique_ptr<RegistryKey> openKeyReadOnly(const std::string& path, uint32_t access) override {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key) != ERROR_SUCCESS)
      return nullptr;
    return std::make_unique<Win32Key>(key);
  }

  std::optional<FileVersion> fileVersion(const std::string& path) override {
    // version.dll is not a KnownDLL: from the system directory (system_library.h).
    static const HMODULE library = systemLibrary(L"version.dll");
    static const auto getSize = SYSTEM_FUNCTION(library, GetFileVersionInfoSizeA);
    static const auto getInfo = SYSTEM_FUNCTION(library, GetFileVersionInfoA);
    static const auto queryValue = SYSTEM_FUNCTION(library, VerQueryValueA);
    if (!getSize || !getInfo || !queryValue) return std::nullopt;
    DWORD handle = 0;
    const DWORD size = getSize(path.c_str(), &handle);
    if (size == 0) return std::nullopt;
    std::vector<char> info(size);
    if (!getInfo(path.c_str(), 0, size, info.data())) return std::nullopt;
    void* fixed = nullptr;
    UINT length = 0;
    if (!queryValue(info.data(), "\\", &fixed, &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO))
      return std::nullopt;
    const auto* version = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    if (version->dwSignature != kFixedInfoSignature) return std::nullopt;
    return FileVersion{version->dwFileVersionMS, version->dwFileVersionLS};
  }

  bool directoryExists(const std::string& path) override {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

  uint32_t createDirectory(const std::string& path) override {
    return CreateDirectoryA(path.c_str(), nullptr) ? 0 : GetLastError();
  }

  bool fileExists(const std::string& path) override {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(path.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

  std::optional<FileStamp> fileStamp(const std::string& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
      return std::nullopt;
    const auto written =
        static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                             data.ftLastWriteTime.dwLowDateTime);
    return FileStamp{(static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, written,
                     written};
  }

  // The file there is truncated only when it is ours alone; anything else
  // goes and a new file takes its place, made only if nothing has slipped in
  // meanwhile.
  uint32_t createFile(const std::string& path, std::unique_ptr<OutputFile>& out) override {
    out.reset();
    for (int attempt = 0; attempt < 3; ++attempt) {
      HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE | READ_CONTROL, 0, nullptr,
                                OPEN_EXISTING, kNoLinkFollowed, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        if (OwnedAlone(file)) {
          const DWORD error = SetEndOfFile(file) ? 0 : GetLastError();
          if (error) {
            CloseHandle(file);
            return error;
          }
          out = std::make_unique<Win32OutputFile>(file);
          return 0;
        }
        CloseHandle(file);
        if (!DeleteFileA(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
          return GetLastError();
      } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return GetLastError();
      }
      file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        out = std::make_unique<Win32OutputFile>(file);
        return 0;
      }
      if (GetLastError() != ERROR_FILE_EXISTS) return GetLastError();
    }
    return ERROR_FILE_EXISTS;
  }

  uint32_t resumeFile(const std::string& path, uint64_t kept,
                      std::unique_ptr<ResumedFile>& out) override {
    out.reset();
    pauseForTest("resume");
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL, 0, nullptr,
                              OPEN_EXISTING, kNoLinkFollowed, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    LARGE_INTEGER size{};
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(kept);
    DWORD error = 0;
    if (!GetFileSizeEx(file, &size) || static_cast<uint64_t>(size.QuadPart) < kept ||
        !OwnedAlone(file))
      error = ERROR_ACCESS_DENIED;
    else if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !SetEndOfFile(file))
      error = GetLastError();
    if (error) {
      CloseHandle(file);
      return error;
    }
    out = std::make_unique<Win32ResumedFile>(file, kept);
    return 0;
  }

  uint32_t openFile(const std::string& path, std::unique_ptr<InputFile>& in) override {
    in.reset();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    in = std::make_unique<Win32InputFile>(file);
    return 0;
  }

  std::optional<std::string> readFile(const std::string& path) override {
    return readSharing(path, FILE_SHARE_READ);
  }

  std::optional<std::string> readShared(const std::string& path) override {
    return readSharing(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  }

  bool pathExists(const std::string& path) override {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  std::optional<std::string> readSharing(const std::string& path, DWORD sharing) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    bool ok;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr)) && got > 0)
      bytes.append(buffer, got);
    CloseHandle(file);
    if (!ok) return std::nullopt;
    return bytes;
  }

  bool deleteFile(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }

  bool copyFile(const std::string& from, const std::string& to) override {
    pauseForTest("copy");
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
  }

  // A rename over the file needs to delete it, and writing to it is refused
  // while a program runs from it: both are asked for, and every kind of
  // sharing offered, so that only what would refuse the rename counts.
  uint32_t checkReplaceable(const std::string& path) override {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
    }
    CloseHandle(file);
    return 0;
  }

  uint32_t replaceFile(const std::string& from, const std::string& to) override {
    pauseForTest("replace");
    HANDLE file = CreateFileA(from.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    const DWORD flushed = FlushFileBuffers(file) ? 0 : GetLastError();
    CloseHandle(file);
    if (flushed) return flushed;
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : GetLastError();
  }

  std::string fullPath(const std::string& path) override {
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::string full(needed, '\0');
    const DWORD got = GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
    if (got == 0 || got >= needed) return path;
    full.resize(got);
    return full;
  }

  std::optional<std::string> resolvedPath(const std::string& path) override {
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string resolved(MAX_PATH, '\0');
    DWORD length = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
      length = GetFinalPathNameByHandleA(file, resolved.data(), static_cast<DWORD>(resolved.size()),
                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
      if (length < resolved.size()) break;
      resolved.resize(length + 1);
    }
    CloseHandle(file);
    if (length == 0 || length >= resolved.size()) return std::nullopt;
    resolved.resize(length);
    // "\\?\C:\dir" and "\\?\UNC\server\share": the usual forms.
    if (resolved.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + resolved.substr(8);
    if (resolved.rfind("\\\\?\\", 0) == 0) return resolved.substr(4);
    return resolved;
  }

  std::string systemErrorText(uint32_t code) override {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length != 0 && text ? std::string(text, length) : std::string();
    if (text) LocalFree(text);
    return message;
  }

  void shellOpen(const std::string& file) override {
    ShellExecuteA(nullptr, "OPEN", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }

  void startHidden(const std::string& commandLine) override {
    WinExec(commandLine.c_str(), SW_HIDE);
  }

  std::string modulePath() override {
    std::string path(MAX_PATH, '\0');
    for (;;) {
      const DWORD length =
          GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (length == 0) return "";
      if (length < path.size() || path.size() >= 65536) {
        path.resize(std::min<size_t>(length, path.size()));
        return path;
      }
      path.resize(path.size() * 2);
    }
  }

  bool hasCommandInterpreter() override { return true; }

  bool isElevated() override {
    if (elevationForTest()) return false;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const BOOL known =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    // A system that cannot tell (one without elevation) gives what it has:
    // there is nothing more to ask for.
    return !known || elevation.TokenIsElevated != 0;
  }

  uint32_t probeWritable(const std::string& directory) override {
    if (elevationForTest()) return base::kErrorAccessDenied;
    std::string path = directory;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
    path += "~update-probe-" + std::to_string(GetCurrentProcessId()) + ".tmp";
    // Created anew and deleted when closed: both rights in one step.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(file);
    return 0;
  }

  uint32_t startElevated(const std::string& arguments, const std::string& directory,
                         std::unique_ptr<Process>& process) override {
    process.reset();
    if (const char* test = elevationForTest(); test && std::strstr(test, "refuse"))
      return base::kErrorCancelled;
    const std::string file = modulePath();
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    info.lpVerb = "runas";
    info.lpFile = file.c_str();
    info.lpParameters = arguments.c_str();
    info.lpDirectory = directory.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info)) return GetLastError();
    if (!info.hProcess) return base::kErrorAccessDenied;
    process = std::make_unique<Win32Process>(info.hProcess);
    return 0;
  }

  // The name in the code page's upper case by the system's own table.
  std::string sameFileKey(const std::string& path) override {
    std::string key = Platform::sameFileKey(path);
    const std::wstring wide = wideFromAnsi(key);
    if (wide.empty()) return key;
    const std::optional<std::wstring> upper = upperCaseAsFileNames(wide);
    if (!upper) return key;
    // The UTF-16 units as bytes: a key, never shown or opened.
    return std::string(reinterpret_cast<const char*>(upper->data()),
                       upper->size() * sizeof(wchar_t));
  }

  size_t charLength(std::string_view text, size_t at) override {
    return at + 1 < text.size() && IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(text[at])) ? 2 : 1;
  }

  char decimalSeparator() override {
    char separator[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, sizeof separator) > 1)
      return separator[0];
    return '.';
  }
};

}  // namespace

Platform& systemPlatform() {
  static Win32Platform platform;
  return platform;
}

std::optional<std::wstring> upperCaseAsFileNames(std::wstring_view text) {
  const int units = static_cast<int>(text.size());
  std::wstring upper(text.size(), L'\0');
  if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.data(), units, upper.data(), units,
                    nullptr, nullptr, 0) != units)
    return std::nullopt;
  return upper;
}

}  // namespace platform
