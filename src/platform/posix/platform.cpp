// The POSIX provider of the system services. The logic keeps Windows-form
// paths, so every path has its "\" turned into "/" here; failures are given
// as the Windows codes of the same failures. HKEY_LOCAL_MACHINE is a registry
// export file, and versions come from the PE file's own version resource.
#include <cerrno>
#include <clocale>
#include <cwchar>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pe/pe_version.h"
#include "base/error.h"
#include "platform/platform.h"
#include "platform/posix/system_error.h"
#include "platform/regfile.h"
#include "platform/test_pause.h"

namespace platform {

namespace {

constexpr const char* kRegistryFileVariable = "HKLM_REG_FILE";
constexpr const char* kDefaultRegistryFile = "/etc/hklm.reg";
// A full export of the machine's registry is far larger than anything the
// program needs; a bigger file is not read at all.
constexpr size_t kMaxRegistryFileSize = size_t{64} << 20;

std::string mapPath(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Never blocks on a FIFO or device; callers check what they opened.
int openPath(const std::string& path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool isRegularFile(int fd, struct stat& st) {
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool lockNoWait(int fd, int operation) {
  int result;
  do {
    result = flock(fd, operation | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// What a lockNoWait that failed means: another holder is a sharing violation.
uint32_t lockFailure() {
  return errno == EWOULDBLOCK ? base::kErrorSharingViolation : posix::windowsError(errno);
}

// 0, or the Windows code of the failure.
uint32_t writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return posix::windowsError(errno);
    }
    if (n == 0) return posix::kErrorShortWrite;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

// The rest of the file; nullopt on a read error or beyond the limit.
std::optional<std::string> readAll(int fd, size_t limit) {
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) return bytes;
    if (static_cast<size_t>(n) > limit - bytes.size()) return std::nullopt;
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

// The user's locale for one category, as the environment sets it (LC_ALL,
// LC_<category>, LANG), in force on this thread while the object lives. The
// program's global locale stays "C", so nothing else reads numbers or
// characters differently.
class UserLocale {
 public:
  explicit UserLocale(int categoryMask) : locale_(newlocale(categoryMask, "", locale_t{})) {
    if (locale_) previous_ = uselocale(locale_);
  }
  ~UserLocale() {
    if (!locale_) return;
    uselocale(previous_);
    freelocale(locale_);
  }
  UserLocale(const UserLocale&) = delete;
  UserLocale& operator=(const UserLocale&) = delete;

 private:
  locale_t locale_;
  locale_t previous_ = LC_GLOBAL_LOCALE;
};

class FileSource : public pe::ByteSource {
 public:
  explicit FileSource(int fd) : fd_(fd) {}
  bool read(uint64_t offset, void* out, size_t size) const override {
    char* to = static_cast<char*>(out);
    while (size > 0) {
      if (offset > static_cast<uint64_t>(INT64_MAX) - size) return false;
      const ssize_t n = ::pread(fd_, to, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      to += n;
      offset += static_cast<uint64_t>(n);
      size -= static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

class RegistryFileKey : public RegistryKey {
 public:
  explicit RegistryFileKey(RegFile::Values values) : values_(std::move(values)) {}

  bool valueExists(const std::string& name) override {
    return RegFile::findValue(values_, name) != nullptr;
  }

  std::string readString(const std::string& name) override {
    const RegValue* value = RegFile::findValue(values_, name);
    if (!value) return "";
    if (value->type != kRegSz && value->type != kRegExpandSz)
      throw base::Error("Invalid data type for '" + name + "'");
    // A string ends at its first NUL, whatever the stored size says.
    return value->data.substr(0, value->data.find('\0'));
  }

 private:
  RegFile::Values values_;
};

class PosixOutputFile : public OutputFile {
 public:
  explicit PosixOutputFile(int fd) : fd_(fd) {}
  ~PosixOutputFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  uint32_t write(const void* data, size_t size) override {
    if (fd_ < 0) return posix::kErrorInvalidHandle;
    return writeAll(fd_, static_cast<const char*>(data), size);
  }

  uint32_t close() override {
    if (fd_ < 0) return posix::kErrorInvalidHandle;
    // The descriptor is gone after close() whatever it answers, EINTR included.
    if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) return posix::windowsError(errno);
    return 0;
  }

  int fd() const { return fd_; }

 private:
  int fd_;
};

uint32_t readAt(int fd, uint64_t offset, void* data, size_t size, size_t& got) {
  got = 0;
  for (;;) {
    const ssize_t n = pread(fd, data, size, static_cast<off_t>(offset));
    if (n >= 0) {
      got = static_cast<size_t>(n);
      return 0;
    }
    if (errno != EINTR) return posix::windowsError(errno);
  }
}

class PosixInputFile : public InputFile {
 public:
  explicit PosixInputFile(int fd) : fd_(fd) {}
  uint32_t read(uint64_t offset, void* data, size_t size, size_t& got) override {
    return readAt(fd_.get(), offset, data, size, got);
  }

 private:
  Descriptor fd_;
};

class PosixResumedFile : public ResumedFile {
 public:
  explicit PosixResumedFile(int fd) : out_(fd) {}
  uint32_t write(const void* data, size_t size) override { return out_.write(data, size); }
  uint32_t close() override { return out_.close(); }
  uint32_t read(uint64_t offset, void* data, size_t size, size_t& got) override {
    if (out_.fd() < 0) return posix::kErrorInvalidHandle;
    return readAt(out_.fd(), offset, data, size, got);
  }

 private:
  PosixOutputFile out_;
};

// Starts a program in a session of its own with standard input and output on
// /dev/null and does not wait for it. A short-lived middle process starts it,
// so that it never remains a zombie of ours.
void startDetached(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const long maxDescriptors = sysconf(_SC_OPEN_MAX);

  const pid_t middle = fork();
  if (middle < 0) return;
  if (middle == 0) {
    // Only async-signal-safe calls from here on.
    setsid();
    if (fork() != 0) _exit(0);
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      if (null > 2) ::close(null);
    }
    if (close_range(3, ~0U, 0) != 0)
      for (long fd = 3; fd < maxDescriptors && fd < 65536; ++fd) ::close(static_cast<int>(fd));
    struct sigaction defaultAction = {};
    defaultAction.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &defaultAction, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// "/a/./b/../c//d" -> "/a/c/d", by the text alone (symbolic links are not
// followed); a trailing "/" stays.
std::string normaliseAbsolute(const std::string& path) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  if (out.empty() || path.back() == '/') out += '/';
  return out;
}

void setBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

// Opens an existing regular file with a lock of its own (LOCK_EX or LOCK_SH)
// taken without waiting, in blocking mode; the Windows code of the failure.
uint32_t openExisting(const std::string& path, int openFlags, int lock, int& fd) {
  const std::string file = mapPath(path);
  Descriptor opened(openPath(file, openFlags));
  struct stat st;
  if (!opened) return posix::windowsError(errno, file);
  if (!isRegularFile(opened.get(), st)) return base::kErrorAccessDenied;
  if (!lockNoWait(opened.get(), lock)) return lockFailure();
  setBlocking(opened.get());
  fd = opened.release();
  return 0;
}

// A file this process may write in place: a regular file of its own account,
// under this one name, that no other account may write. Anything else at a
// name the program writes (a link, a second name of another file, a file
// planted by another account) could send its bytes elsewhere or let another
// process change them after their check.
bool ownedAlone(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_nlink == 1 &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Opens the file for writing, locked (LOCK_EX), without following a link:
// the file there when it is ownedAlone, else a new one made in place of what
// was there (created exclusively, so that nothing slipped in between is
// opened instead). Truncates nothing; the Windows code of the failure.
uint32_t openOwnFile(const std::string& file, int& out, struct stat& st) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    Descriptor fd(openPath(file, O_WRONLY | O_NOFOLLOW));
    if (fd) {
      if (!lockNoWait(fd.get(), LOCK_EX)) return lockFailure();
      if (fstat(fd.get(), &st) != 0) return posix::windowsError(errno);
      if (ownedAlone(st)) {
        setBlocking(fd.get());
        out = fd.release();
        return 0;
      }
    } else if (errno != ELOOP && errno != ENOENT) {
      return posix::windowsError(errno, file);
    }
    if (fd || errno == ELOOP) {
      if (unlink(file.c_str()) != 0 && errno != ENOENT) return posix::windowsError(errno, file);
    }
    Descriptor created(openPath(file, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644));
    if (!created) {
      if (errno == EEXIST) continue;
      return posix::windowsError(errno, file);
    }
    if (!lockNoWait(created.get(), LOCK_EX) || fstat(created.get(), &st) != 0)
      return posix::windowsError(errno);
    setBlocking(created.get());
    out = created.release();
    return 0;
  }
  return base::kErrorAlreadyExists;
}

class PosixPlatform : public Platform {
 public:
  std::unique_ptr<RegistryKey> openKeyReadOnly(const std::string& path, uint32_t) override {
    const char* file = std::getenv(kRegistryFileVariable);
    if (!file || !*file) file = kDefaultRegistryFile;
    Descriptor fd(openPath(file, O_RDONLY));
    struct stat st;
    if (!fd || !isRegularFile(fd.get(), st)) return nullptr;
    auto bytes = readAll(fd.get(), kMaxRegistryFileSize);
    if (!bytes) return nullptr;
    auto registry = RegFile::parse(*bytes);
    if (!registry) return nullptr;
    const RegFile::Values* values = registry->findKey(path);
    if (!values) return nullptr;
    return std::make_unique<RegistryFileKey>(*values);
  }

  std::optional<FileVersion> fileVersion(const std::string& path) override {
    Descriptor fd(openPath(mapPath(path), O_RDONLY));
    struct stat st;
    if (!fd || !isRegularFile(fd.get(), st)) return std::nullopt;
    auto version = pe::readFixedFileVersion(FileSource(fd.get()));
    if (!version) return std::nullopt;
    return FileVersion{version->ms, version->ls};
  }

  bool directoryExists(const std::string& path) override {
    struct stat st;
    return stat(mapPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  uint32_t createDirectory(const std::string& path) override {
    const std::string directory = mapPath(path);
    if (mkdir(directory.c_str(), 0777) == 0) return 0;
    return posix::windowsError(errno, directory);
  }

  bool fileExists(const std::string& path) override {
    struct stat st;
    return stat(mapPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  std::optional<FileStamp> fileStamp(const std::string& path) override {
    // A link is no file of ours: lstat, so that a link put in a checked
    // file's place is seen as another file.
    struct stat st;
    if (lstat(mapPath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    auto nanoseconds = [](const timespec& t) { return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; };
    return FileStamp{static_cast<uint64_t>(st.st_size), nanoseconds(st.st_mtim),
                     nanoseconds(st.st_ctim)};
  }

  // The file is truncated only once it is ours alone, so that a file in use
  // elsewhere keeps its contents.
  uint32_t createFile(const std::string& path, std::unique_ptr<OutputFile>& out) override {
    out.reset();
    int opened = -1;
    struct stat st;
    if (uint32_t error = openOwnFile(mapPath(path), opened, st)) return error;
    Descriptor fd(opened);
    if (st.st_size != 0 && ftruncate(fd.get(), 0) != 0) return posix::windowsError(errno);
    out = std::make_unique<PosixOutputFile>(fd.release());
    return 0;
  }

  uint32_t resumeFile(const std::string& path, uint64_t kept,
                      std::unique_ptr<ResumedFile>& out) override {
    out.reset();
    pauseForTest("resume");
    int opened = -1;
    if (uint32_t error = openExisting(path, O_RDWR | O_NOFOLLOW, LOCK_EX, opened)) return error;
    Descriptor fd(opened);
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return posix::windowsError(errno);
    if (!ownedAlone(st) || static_cast<uint64_t>(st.st_size) < kept)
      return base::kErrorAccessDenied;
    if (ftruncate(fd.get(), static_cast<off_t>(kept)) != 0 ||
        lseek(fd.get(), static_cast<off_t>(kept), SEEK_SET) < 0)
      return posix::windowsError(errno);
    out = std::make_unique<PosixResumedFile>(fd.release());
    return 0;
  }

  uint32_t openFile(const std::string& path, std::unique_ptr<InputFile>& in) override {
    in.reset();
    int fd = -1;
    if (uint32_t error = openExisting(path, O_RDONLY, LOCK_SH, fd)) return error;
    in = std::make_unique<PosixInputFile>(fd);
    return 0;
  }

  std::optional<std::string> readFile(const std::string& path) override {
    Descriptor fd(openPath(mapPath(path), O_RDONLY));
    struct stat st;
    if (!fd || !isRegularFile(fd.get(), st) || !lockNoWait(fd.get(), LOCK_SH)) return std::nullopt;
    return readAll(fd.get(), SIZE_MAX);
  }

  std::optional<std::string> readShared(const std::string& path) override {
    Descriptor fd(openPath(mapPath(path), O_RDONLY));
    struct stat st;
    if (!fd || !isRegularFile(fd.get(), st)) return std::nullopt;
    return readAll(fd.get(), SIZE_MAX);
  }

  bool pathExists(const std::string& path) override {
    struct stat st;
    return lstat(mapPath(path).c_str(), &st) == 0;
  }

  bool deleteFile(const std::string& path) override { return unlink(mapPath(path).c_str()) == 0; }

  bool copyFile(const std::string& from, const std::string& to) override {
    pauseForTest("copy");
    const std::string target = mapPath(to);
    Descriptor in(openPath(mapPath(from), O_RDONLY));
    struct stat source;
    if (!in || !isRegularFile(in.get(), source) || !lockNoWait(in.get(), LOCK_SH)) return false;
    int opened = -1;
    struct stat existing;
    if (openOwnFile(target, opened, existing) != 0) return false;
    Descriptor out(opened);
    if (existing.st_dev == source.st_dev && existing.st_ino == source.st_ino) return false;

    bool copied = ftruncate(out.get(), 0) == 0;
    char buffer[65536];
    while (copied) {
      const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        copied = n == 0;
        break;
      }
      copied = writeAll(out.get(), buffer, static_cast<size_t>(n)) == 0;
    }
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    copied = copied && fchmod(out.get(), source.st_mode & 07777) == 0 &&
             futimens(out.get(), times) == 0 && ::close(out.release()) == 0;
    // Like the Windows copy, a failed copy leaves no partial target behind.
    if (!copied) unlink(target.c_str());
    return copied;
  }

  // Only programs that lock files as this provider does (flock) are seen:
  // one that holds a lock of its own on the file keeps it in place.
  uint32_t checkReplaceable(const std::string& path) override {
    const std::string file = mapPath(path);
    Descriptor fd(openPath(file, O_RDONLY));
    if (!fd) return errno == ENOENT || errno == ENOTDIR ? 0 : posix::windowsError(errno, file);
    if (!lockNoWait(fd.get(), LOCK_EX)) return lockFailure();
    return 0;
  }

  uint32_t replaceFile(const std::string& from, const std::string& to) override {
    pauseForTest("replace");
    const std::string source = mapPath(from);
    const std::string target = mapPath(to);
    {
      Descriptor fd(openPath(source, O_RDONLY | O_NOFOLLOW));
      if (!fd) return posix::windowsError(errno, source);
      if (fsync(fd.get()) != 0) return posix::windowsError(errno);
    }
    if (rename(source.c_str(), target.c_str()) != 0) return posix::windowsError(errno, target);
    // The rename is done whatever this answers: a directory that cannot be
    // flushed (some file systems refuse) only leaves the rename to the
    // system's own write-back.
    Descriptor directory(openPath(posix::parentOf(target), O_RDONLY | O_DIRECTORY));
    if (directory) fsync(directory.get());
    return 0;
  }

  std::string fullPath(const std::string& path) override {
    const std::string file = mapPath(path);
    if (!file.empty() && file.front() == '/') return normaliseAbsolute(file);
    char* cwd = getcwd(nullptr, 0);
    if (!cwd) return file;
    std::string absolute = std::string(cwd) + "/" + file;
    std::free(cwd);
    return normaliseAbsolute(absolute);
  }

  std::optional<std::string> resolvedPath(const std::string& path) override {
    char* resolved = realpath(mapPath(path).c_str(), nullptr);
    if (!resolved) return std::nullopt;
    std::string out = resolved;
    std::free(resolved);
    return out;
  }

  std::string systemErrorText(uint32_t code) override { return posix::windowsErrorText(code); }

  void shellOpen(const std::string& file) override { startDetached({mapPath(file)}); }

  void startHidden(const std::string& commandLine) override {
    startDetached({"/bin/sh", "-c", mapPath(commandLine)});
  }

  std::string modulePath() override {
    std::string path(256, '\0');
    for (;;) {
      const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
      if (n < 0) return "";
      if (static_cast<size_t>(n) < path.size()) {
        path.resize(static_cast<size_t>(n));
        return path;
      }
      path.resize(path.size() * 2);
    }
  }

  bool hasCommandInterpreter() override { return false; }

  size_t charLength(std::string_view text, size_t at) override {
    const UserLocale ctype(LC_CTYPE_MASK);
    std::mbstate_t state{};
    const size_t length = std::mbrlen(text.data() + at, text.size() - at, &state);
    // An invalid or incomplete sequence, or a NUL, counts as a byte of its own.
    return length == 0 || length > text.size() - at ? 1 : length;
  }

  // Asked for every byte line: looked up again only when the environment
  // that names the locale has changed.
  char decimalSeparator() override {
    std::string names;
    for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
      const char* value = std::getenv(variable);
      names.append(value ? value : "").append(1, '\0');
    }
    if (names != separatorLocale_) {
      const UserLocale numeric(LC_NUMERIC_MASK);
      const char* point = std::localeconv()->decimal_point;
      separator_ = point && point[0] && !point[1] ? point[0] : '.';
      separatorLocale_ = names;
    }
    return separator_;
  }

 private:
  std::string separatorLocale_ = std::string(1, '\1');  // never the name of a locale
  char separator_ = '.';
};

}  // namespace

Platform& systemPlatform() {
  static PosixPlatform platform;
  return platform;
}

}  // namespace platform
