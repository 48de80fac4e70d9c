#include "release/tool/files.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace release::tool {

namespace {

constexpr size_t kReadSize = size_t{1} << 20;
constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kRedraw = std::chrono::milliseconds(250);

}  // namespace

fs::path pathOf(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8Of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

std::optional<std::string> readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::error_code error;
  const uintmax_t size = fs::file_size(path, error);
  if (!in || error) return std::nullopt;
  // Read at once into the bytes' own size: files of patches are large.
  std::string bytes(static_cast<size_t>(size), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(size));
  if (static_cast<uintmax_t>(in.gcount()) != size) return std::nullopt;
  return bytes;
}

int64_t unixNow() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

Encoding encodingOf(const Invocation& invocation) {
  const std::string name = invocation.option("--encoding", "gbk");
  if (name == "gbk") return Encoding::Gbk;
  if (name == "utf-8") return Encoding::Utf8;
  throw UsageError{"--encoding must be gbk or utf-8, not \"" + name + "\""};
}

const char* encodingName(Encoding encoding) {
  return encoding == Encoding::Gbk ? "code page 936 (gbk)" : "UTF-8";
}

std::string byteText(uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

Progress::Progress(std::ostream& err, uint64_t total, std::string what)
    : err_(err), total_(total), what_(std::move(what)), start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
  if (shown_) err_ << "\n" << std::flush;
}

void Progress::add(uint64_t bytes) {
  done_ += bytes;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < kQuietStart || (shown_ && now - shownAt_ < kRedraw)) return;
  shown_ = true;
  shownAt_ = now;
  const int percent = total_ ? static_cast<int>(done_ * 100 / total_) : 100;
  err_ << "\r" << what_ << ": " << byteText(done_) << " of " << byteText(total_) << " (" << percent
       << "%)   " << std::flush;
}

FileDigest hashFile(const fs::path& path, Progress& progress) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open \"" + utf8Of(path) + "\"");
  std::unique_ptr<char[]> buffer(new char[kReadSize]);
  Sha256 sha256;
  FileDigest digest;
  while (in) {
    in.read(buffer.get(), kReadSize);
    const auto got = static_cast<size_t>(in.gcount());
    sha256.update(buffer.get(), got);
    digest.size += got;
    progress.add(got);
  }
  if (in.bad()) throw std::runtime_error("cannot read \"" + utf8Of(path) + "\"");
  digest.sha256 = sha256.finish();
  return digest;
}

}  // namespace release::tool
