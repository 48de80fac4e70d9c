// The one error type of the program: a failure carrying the message text that
// the user reads after the program's own fixed text.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace base {

class Error : public std::exception {
 public:
  explicit Error(std::string message) : message_(std::move(message)) {}
  const std::string& message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Windows error codes the program names; the POSIX provider maps errno onto them.
enum : uint32_t {
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorSharingViolation = 32,
  kErrorDiskFull = 112,
  kErrorAlreadyExists = 183,
  kErrorCancelled = 1223,  // the user said no (to the administrator prompt, say)
};
// The runtime's input/output codes for a full disk and a read past the end.
inline constexpr uint32_t kIoDiskFull = 101;
inline constexpr uint32_t kIoReadBeyondEnd = 100;

// Text of an input/output error of files and directories, by system error code:
// "File not found", "Invalid filename", ... or "I/O error %d".
std::string ioErrorText(uint32_t code);
[[noreturn]] void raiseIoError(uint32_t code);
// The same for a failed write or close: a full disk (the system's code or a
// short write) reads "Disk full", as the runtime's own writes report it.
[[noreturn]] void raiseWriteError(uint32_t code);

// "Cannot create file "<path>". <system text without trailing blanks and periods>"
[[noreturn]] void raiseCannotCreate(const std::string& fullPath, const std::string& systemText);
// "<what> "<path>". <system text without trailing blanks and periods>"
[[noreturn]] void raiseFileFailure(std::string_view what, const std::string& fullPath,
                                   const std::string& systemText);

// Removes trailing blanks, periods and line breaks from a system error text.
std::string trimSystemText(std::string text);

}  // namespace base
