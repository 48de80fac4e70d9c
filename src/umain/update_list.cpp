// The release description "update.ini": fetched, kept briefly in the
// installation directory, and read into the update list and the new version.
#include "ini/profile.h"
#include "base/error.h"
#include "umain/umain.h"

namespace UMain {

namespace {

// A name that would leave the directory it is relative to: absolute, with a
// drive or stream colon, or with a ".." segment.
bool IsUnsafeName(const std::string& name) {
  if (name.front() == '\\' || name.front() == '/' || name.find(':') != std::string::npos)
    return true;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

// Deletes the local copy on every path out of the list fetch.
class LocalCopy {
 public:
  LocalCopy(platform::Platform& platform, std::string path)
      : platform_(platform), path_(std::move(path)) {}
  ~LocalCopy() { platform_.deleteFile(path_); }
  const std::string& path() const { return path_; }

 private:
  platform::Platform& platform_;
  std::string path_;
};

}  // namespace

UpdateList ReadUpdateList(const std::string& bytes) {
  const ini::Profile profile(bytes);
  const int32_t count = ini::profileInteger(profile.readString("FileList", "Count", ""));
  UpdateList list;
  list.files = profile.numberedValues("FileList", "File", count);
  for (const std::string& name : list.files) {
    if (IsUnsafeName(name)) throw base::Error("Unsafe file name \"" + name + "\"");
  }
  list.newVersion = profile.readString("Version", "NewVersion", "");
  list.describesRelease = profile.hasSection("FileList") || profile.hasSection("Version");
  return list;
}

void TTFrmUpdate::FetchUpdateList() {
  UpdateFiles.clear();
  std::string text = GetText(BaseURL + "update.ini");
  text += "\r\n";

  uint32_t error = 0;
  const std::string localPath = UpdatePath + "update.ini";
  auto file = platform_.createFile(localPath, error);
  if (!file)
    base::raiseCannotCreate(platform_.fullPath(localPath), platform_.systemErrorText(error));
  LocalCopy local(platform_, localPath);
  if ((error = file->write(text.data(), text.size())) || (error = file->close()))
    base::raiseWriteError(error);
  file.reset();

  UpdateList list = ReadUpdateList(platform_.readFile(local.path()).value_or(""));
  // Text without either section (an HTML page, a truncated or foreign file)
  // is no release: going on would announce a successful update to nothing.
  if (!list.describesRelease) throw base::Error("No [FileList] or [Version] section");
  UpdateFiles = std::move(list.files);
  NewVersion = std::move(list.newVersion);
}

}  // namespace UMain
