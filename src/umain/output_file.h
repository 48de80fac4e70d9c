// The program's own files, written whole: the local copy of the update list,
// the downloaded files and the removal script.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "http/http_client.h"
#include "platform/platform.h"

namespace UMain {

// Creates or truncates a file for writing; one that cannot be created raises
// "Cannot create file "<full path>". <system text>", with the full path of
// `shownPath` where given (the file a temporary one stands in for).
std::unique_ptr<platform::OutputFile> CreateOutputFile(platform::Platform& platform,
                                                       const std::string& path,
                                                       const std::string& shownPath = "");
// Writes the bytes and closes the file; a failure raises its input/output
// text ("Disk full" for a full disk).
void WriteAndClose(platform::OutputFile& file, std::string_view bytes);

// Writes a response body (or any bytes) into an open file; a failed write
// raises its input/output text.
class FileSink : public http::BodySink {
 public:
  explicit FileSink(platform::OutputFile& file) : file_(file) {}
  void write(const char* data, size_t size) override;

 private:
  platform::OutputFile& file_;
};

}  // namespace UMain
