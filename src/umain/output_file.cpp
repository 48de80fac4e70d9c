#include "umain/output_file.h"

#include "base/error.h"

namespace UMain {

std::unique_ptr<platform::OutputFile> CreateOutputFile(platform::Platform& platform,
                                                       const std::string& path,
                                                       const std::string& shownPath) {
  std::unique_ptr<platform::OutputFile> file;
  if (uint32_t error = platform.createFile(path, file))
    base::raiseCannotCreate(platform.fullPath(shownPath.empty() ? path : shownPath),
                            platform.systemErrorText(error));
  return file;
}

void WriteAndClose(platform::OutputFile& file, std::string_view bytes) {
  uint32_t error = file.write(bytes.data(), bytes.size());
  if (error == 0) error = file.close();
  if (error) base::raiseWriteError(error);
}

void FileSink::write(const char* data, size_t size) {
  if (uint32_t error = file_.write(data, size)) base::raiseWriteError(error);
}

}  // namespace UMain
