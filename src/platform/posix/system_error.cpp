#include "platform/posix/system_error.h"

#include <cerrno>

#include <sys/stat.h>

#include "base/error.h"

namespace platform::posix {

std::string parentOf(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

namespace {

bool isDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

uint32_t windowsError(int error, const std::string& path) {
  if (error == ENOENT)
    return isDirectory(parentOf(path)) ? base::kErrorFileNotFound : base::kErrorPathNotFound;
  return windowsError(error);
}

uint32_t windowsError(int error) {
  switch (error) {
    case 0:
      return 0;
    case ENOENT:
      return base::kErrorFileNotFound;
    case ENOTDIR:
      return base::kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return base::kErrorAccessDenied;
    case EROFS:
      return kErrorWriteProtect;
    case EEXIST:
      return base::kErrorAlreadyExists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return base::kErrorDiskFull;
    case EMFILE:
    case ENFILE:
      return base::kErrorTooManyOpenFiles;
    case EWOULDBLOCK:
    case EBUSY:
    case ETXTBSY:
      return base::kErrorSharingViolation;
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
    case base::kErrorFileNotFound:
      return "The system cannot find the file specified.";
    case base::kErrorPathNotFound:
      return "The system cannot find the path specified.";
    case base::kErrorTooManyOpenFiles:
      return "The system cannot open the file.";
    case base::kErrorAccessDenied:
      return "Access is denied.";
    case kErrorInvalidHandle:
      return "The handle is invalid.";
    case kErrorNotEnoughMemory:
      return "Not enough memory resources are available to process this command.";
    case kErrorWriteProtect:
      return "The media is write protected.";
    case base::kErrorSharingViolation:
      return "The process cannot access the file because it is being used by another process.";
    case base::kErrorDiskFull:
      return "There is not enough space on the disk.";
    case kErrorInvalidParameter:
      return "The parameter is incorrect.";
    case base::kErrorAlreadyExists:
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
