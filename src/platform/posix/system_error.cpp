#include "platform/posix/system_error.h"

#include <cerrno>

#include <sys/stat.h>

#include "platform/error.h"

namespace platform::posix {

namespace {

// The directory a path names its entry in: "a/b/" and "a/b" -> "a", "b" -> ".".
std::string parentOf(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

uint32_t windowsError(int error, const std::string& path) {
  if (error == ENOENT) return isDirectory(parentOf(path)) ? kErrorFileNotFound : kErrorPathNotFound;
  return windowsError(error);
}

uint32_t windowsError(int error) {
  switch (error) {
    case 0:
      return 0;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrorAccessDenied;
    case EROFS:
      return kErrorWriteProtect;
    case EEXIST:
      return kErrorAlreadyExists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrorDiskFull;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EWOULDBLOCK:
    case EBUSY:
    case ETXTBSY:
      return kErrorSharingViolation;
    case ENAMETOOLONG:
      return kErrorFilenameTooLong;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EINVAL:
      return kErrorInvalidParameter;
    default:
      return kErrorIoDevice;
  }
}

std::string windowsErrorText(uint32_t code) {
  switch (code) {
    case kErrorFileNotFound:
      return "The system cannot find the file specified.";
    case kErrorPathNotFound:
      return "The system cannot find the path specified.";
    case kErrorTooManyOpenFiles:
      return "The system cannot open the file.";
    case kErrorAccessDenied:
      return "Access is denied.";
    case kErrorInvalidHandle:
      return "The handle is invalid.";
    case kErrorNotEnoughMemory:
      return "Not enough memory resources are available to process this command.";
    case kErrorWriteProtect:
      return "The media is write protected.";
    case kErrorSharingViolation:
      return "The process cannot access the file because it is being used by another process.";
    case kErrorDiskFull:
      return "There is not enough space on the disk.";
    case kErrorInvalidParameter:
      return "The parameter is incorrect.";
    case kErrorAlreadyExists:
      return "Cannot create a file when that file already exists.";
    case kErrorFilenameTooLong:
      return "The filename or extension is too long.";
    case kErrorIoDevice:
      return "The request could not be performed because of an I/O device error.";
    default:
      return "System error " + std::to_string(code) + ".";
  }
}

}  // namespace platform::posix
