// The system services the updater uses, behind one seam. Paths and texts are
// byte strings in Windows form ("\" separators); the POSIX provider maps them.
//
// Two kinds of service: those of this class are chosen at run time (the
// logic is handed a Platform, and the tests hand it a double); a few pure
// computations are chosen at link time instead, declared where they are used
// and implemented once per system beside this seam: SHA-256
// (release/sha256.h), the code page (release/codepage.h, ini/system_text.h),
// new files of the publisher's tool (release/new_file.h) and the socket
// waits (http/socket_system.h).
//
// How failures come back, for every operation of this seam:
// - An operation whose failure the user is told about returns the Windows
//   error code of the failure (uint32_t, 0 for success), so that the logic
//   words it the same way on every system; what it makes comes back through
//   a reference (createDirectory, createFile, OutputFile::write and close).
// - A question, or an operation whose failure the logic only notes, answers
//   bool or std::optional: a failure is "no" (exists, version, read, delete,
//   copy; openKeyReadOnly gives null for a key that cannot be opened).
// - Nothing throws, but for the registry layer's own error: a value of another
//   type than a string raises base::Error ("Invalid data type for '<name>'").
#pragma once

#include <algorithm>
#include <cstddef>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "base/error.h"
#include "base/text.h"

namespace platform {

inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kKeyReadNoNotify = 0x20009;
inline constexpr uint32_t kKeyQueryValue = 0x1;

// An open registry key, read-only. Closed when destroyed.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  virtual bool valueExists(const std::string& name) = 0;
  // The value as stored; empty when missing. A value of a non-string type
  // raises "Invalid data type for '<name>'".
  virtual std::string readString(const std::string& name) = 0;
};

// A file open for writing with exclusive access. Closed when destroyed.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual uint32_t write(const void* data, size_t size) = 0;
  virtual uint32_t close() = 0;
};

// A file open for reading at any offset, shared with other readers. Closed
// when destroyed.
class InputFile {
 public:
  virtual ~InputFile() = default;
  // Up to size bytes from offset into data; got is how many (0 at the end).
  virtual uint32_t read(uint64_t offset, void* data, size_t size, size_t& got) = 0;
};

// A staged file taken up again: the bytes it kept are read, and the writes
// go on after them, through the one handle. Closed when destroyed.
class ResumedFile : public OutputFile, public InputFile {};

// What a file is now: its size and figures that change whenever its bytes
// are written (its modification time; on POSIX also its status change time,
// which no program can set back).
struct FileStamp {
  uint64_t size;
  int64_t modified;
  int64_t changed;
  bool operator==(const FileStamp&) const = default;
};

// A program this one started and may wait for.
class Process {
 public:
  virtual ~Process() = default;
  // Its exit code once it has ended, waiting at most the milliseconds;
  // nullopt while it runs.
  virtual std::optional<uint32_t> wait(uint32_t milliseconds) = 0;
};

struct FileVersion {
  uint32_t ms;  // dwFileVersionMS
  uint32_t ls;  // dwFileVersionLS
};

class Platform {
 public:
  virtual ~Platform() = default;

  // HKEY_LOCAL_MACHINE\<path>, opened with the given access rights; never created.
  virtual std::unique_ptr<RegistryKey> openKeyReadOnly(const std::string& path,
                                                       uint32_t access) = 0;
  virtual std::optional<FileVersion> fileVersion(const std::string& path) = 0;

  virtual bool directoryExists(const std::string& path) = 0;
  virtual uint32_t createDirectory(const std::string& path) = 0;  // one level
  virtual bool fileExists(const std::string& path) = 0;           // files only
  // The size and times of a file (not a folder); nullopt when there is none.
  virtual std::optional<FileStamp> fileStamp(const std::string& path) = 0;
  std::optional<uint64_t> fileSize(const std::string& path) {
    const std::optional<FileStamp> stamp = fileStamp(path);
    return stamp ? std::optional<uint64_t>(stamp->size) : std::nullopt;
  }
  // Creates or truncates the file for writing into file; the code of the
  // failure. No link is followed: a link, or a file that is not this
  // account's alone (another owner, more than one name), at the path is
  // deleted and a new file made in its place.
  virtual uint32_t createFile(const std::string& path, std::unique_ptr<OutputFile>& file) = 0;
  // Takes up a file an earlier run staged, with exclusive access as
  // createFile gives it: its first `kept` bytes stay, to be read through
  // file, and writes go on right after them (anything past them is cut
  // off). Refused, kErrorAccessDenied, for what createFile would delete
  // (or a file others may write): such bytes are not to be trusted. The
  // code of the failure.
  virtual uint32_t resumeFile(const std::string& path, uint64_t kept,
                              std::unique_ptr<ResumedFile>& file) = 0;
  // Opens an existing file for reading; the code of the failure.
  virtual uint32_t openFile(const std::string& path, std::unique_ptr<InputFile>& file) = 0;
  // Whole file; nullopt when it cannot be read.
  virtual std::optional<std::string> readFile(const std::string& path) = 0;
  // The same, read without a lock and with every kind of sharing offered: a
  // file that no other reader can keep from being read.
  virtual std::optional<std::string> readShared(const std::string& path) = 0;
  // Whether anything at all (a file, a folder, a link) stands at the path.
  virtual bool pathExists(const std::string& path) = 0;
  [[nodiscard]] virtual bool deleteFile(const std::string& path) = 0;
  // Contents, time stamps and attributes; an existing target is overwritten.
  [[nodiscard]] virtual bool copyFile(const std::string& from, const std::string& to) = 0;
  // Whether the file can be replaced now: 0 when it does not exist or nothing
  // holds it open in a way that keeps it from being replaced (a program
  // running from it, a reader that does not share it), otherwise the code
  // (a sharing violation, access denied).
  virtual uint32_t checkReplaceable(const std::string& path) = 0;
  // Puts `from` in the place of `to` in one step, a rename on one volume:
  // `from`'s data reach the disk before the rename, and the rename before
  // this returns. `to` need not exist. The code of the failure.
  virtual uint32_t replaceFile(const std::string& from, const std::string& to) = 0;
  virtual std::string fullPath(const std::string& path) = 0;
  // The full path of an existing file or folder with every link (and, on
  // Windows, junction) on the way resolved; nullopt when it cannot be found.
  virtual std::optional<std::string> resolvedPath(const std::string& path) = 0;
  virtual std::string systemErrorText(uint32_t code) = 0;

  // Opens a document or program through the shell, relative to the working
  // directory, in a normal window; does not wait.
  virtual void shellOpen(const std::string& file) = 0;
  // Runs a command line in a hidden window; does not wait.
  virtual void startHidden(const std::string& commandLine) = 0;
  virtual std::string modulePath() = 0;
  // Whether startHidden runs the Windows command interpreter's scripts.
  virtual bool hasCommandInterpreter() = 0;
  // One key for all the names of one file: "/" and "\\" alike, and on
  // Windows case ignored as its file systems ignore it (beyond ASCII too).
  virtual std::string sameFileKey(const std::string& path) {
    std::string key = path;
    std::replace(key.begin(), key.end(), '/', '\\');
    return key;
  }
  // Administrator rights, where the system withholds them from programs
  // until the user agrees (Windows): whether this process has them. Where
  // no such thing exists, true: the program is never started again for them.
  virtual bool isElevated() { return true; }
  // 0 when this process can create and delete a file in the directory; the
  // code of the failure otherwise (kErrorAccessDenied where rights lack).
  virtual uint32_t probeWritable(const std::string& directory) {
    static_cast<void>(directory);
    return 0;
  }
  // Starts this executable again with administrator rights (the system asks
  // the user once), with the arguments and the working directory. 0 and the
  // process; or the code of the failure, kErrorCancelled when the user said no.
  virtual uint32_t startElevated(const std::string& arguments, const std::string& directory,
                                 std::unique_ptr<Process>& process) {
    static_cast<void>(arguments);
    static_cast<void>(directory);
    process.reset();
    return base::kErrorAccessDenied;
  }
  // The decimal separator of the user's locale.
  virtual char decimalSeparator() { return '.'; }
  // The number of bytes of the character that starts at text[at] in the
  // system's code page (1 for a byte that starts no longer character).
  virtual size_t charLength(std::string_view text, size_t at) = 0;
  // charLength as the rule the text helpers walk by.
  base::CharLength charRule() {
    return [this](std::string_view text, size_t at) { return charLength(text, at); };
  }
  // The time of day as seconds since 1970-01-01T00:00:00Z.
  virtual int64_t unixTime() {
    using namespace std::chrono;
    return static_cast<int64_t>(
        duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
  }
  // Waits without doing anything else.
  virtual void sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  // A monotonic clock in milliseconds; it paces the window's updates.
  virtual uint64_t milliseconds() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<std::chrono::milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
};

// The provider of the system the program was built for.
Platform& systemPlatform();

}  // namespace platform
