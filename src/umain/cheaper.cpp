// The cheaper ways to a listed file: a patch from the installed file, or a
// compressed copy. Each is downloaded beside the target (checked against its
// own size and hash as it arrives, and resumed like any file), then turned
// into the staged download, which is checked against the file's size and
// hash. Any failure on the way leaves the plain file to be fetched instead.
#include <memory>
#include <tuple>

#include "base/error.h"
#include "delta/delta.h"
#include "umain/integrity.h"
#include "umain/output_file.h"
#include "umain/update_run.h"

namespace UMain {

namespace {

// A file read through the platform at offsets, as applying reads its inputs.
class FileReader : public delta::Reader {
 public:
  FileReader(platform::Platform& platform, const std::string& path) {
    if (uint32_t error = platform.openFile(path, file_)) base::raiseIoError(error);
  }
  void read(uint64_t offset, void* buffer, size_t n) override {
    auto* to = static_cast<char*>(buffer);
    while (n > 0) {
      size_t got = 0;
      if (uint32_t error = file_->read(offset, to, n, got)) base::raiseIoError(error);
      if (got == 0) base::raiseIoError(base::kIoReadBeyondEnd);
      to += got;
      offset += got;
      n -= got;
    }
  }

 private:
  std::unique_ptr<platform::InputFile> file_;
};

// The result, written through the file's check; the window is painted now
// and then, since making a large file takes a while without any transfer.
class CheckedWriter : public delta::Writer {
 public:
  CheckedWriter(CheckedSink& check, TransferDisplay& display) : check_(check), display_(display) {}
  void write(const void* data, size_t n) override {
    check_.write(static_cast<const char*>(data), n);
    if ((written_ += n) >= kPaintEvery) {
      written_ = 0;
      display_.paintFrame();
    }
  }

 private:
  static constexpr size_t kPaintEvery = size_t{4} << 20;
  CheckedSink& check_;
  TransferDisplay& display_;
  size_t written_ = 0;
};

}  // namespace

bool UpdateRun::FetchCheaper(const release::ListedFile& file, const FilePlan& plan) {
  const release::Delta& chosen = *plan.delta;
  const release::Expected& expected = chosen.expected;
  const std::string delta = Install.pathOf(file.name, Place::Delta);
  try {
    downloader_.Download(settings_.baseURL + chosen.name, file.name, delta, expected);
    {
      // Every file is closed before the patch or copy is deleted: Windows
      // deletes no file that is open.
      auto out = CreateOutputFile(platform_, Install.pathOf(file.name, Place::Staged), file.name);
      FileSink sink(*out);
      CheckedSink check(sink, file.name, file.expected);
      CheckedWriter writer(check, downloader_.Display);
      FileReader in(platform_, delta);
      if (chosen.base) {
        const std::string installed = Install.pathOf(file.name);
        const std::optional<uint64_t> baseSize = platform_.fileSize(installed);
        if (!baseSize) throw base::Error("the installed file is gone");
        FileReader base(platform_, installed);
        delta::applyPatch(base, *baseSize, in, *expected.size, writer);
      } else {
        delta::decompressCopy(in, *expected.size, *file.expected.size, writer);
      }
      check.finish();
      if (uint32_t error = out->close()) base::raiseWriteError(error);
    }
    std::ignore = platform_.deleteFile(delta);
    return true;
  } catch (const std::exception&) {
    // Whatever went wrong (the server has no such file, the bytes are not
    // what the list says, the patch does not fit) costs the user nothing
    // but the plain file's transfer.
    std::ignore = platform_.deleteFile(delta);
    std::ignore = platform_.deleteFile(Install.pathOf(file.name, Place::Staged));
    return false;
  }
}

}  // namespace UMain
