// New files through open(O_CREAT | O_EXCL) with the final mode given at once.
#include "release/new_file.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace release {

NewFile writeNewFile(const std::filesystem::path& path, std::string_view bytes, bool ownerOnly,
                     std::error_code& error) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly ? 0600 : 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == EEXIST) return NewFile::Exists;
    error.assign(errno, std::generic_category());
    return NewFile::Failed;
  }
  int failure = 0;
  while (!bytes.empty() && !failure) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno != EINTR) failure = errno;
    if (n > 0) bytes.remove_prefix(static_cast<size_t>(n));
  }
  if (::close(fd) != 0 && errno != EINTR && !failure) failure = errno;
  if (!failure) return NewFile::Written;
  ::unlink(path.c_str());
  error.assign(failure, std::generic_category());
  return NewFile::Failed;
}

}  // namespace release
