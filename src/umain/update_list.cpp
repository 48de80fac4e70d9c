// The release description "update.ini": fetched, kept briefly in the
// installation directory, and read into the update list and the new version.
#include "base/error.h"
#include "umain/umain.h"

namespace UMain {

namespace {

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
  release::ReleaseList release = release::readReleaseList(bytes);
  UpdateList list;
  for (release::ListedFile& file : release.files) {
    list.files.push_back(std::move(file.name));
    list.expected.push_back(file.expected);
  }
  list.newVersion = std::move(release.newVersion);
  list.expires = std::move(release.expires);
  list.describesRelease = release.describesRelease;
  return list;
}

void TTFrmUpdate::FetchUpdateList() {
  UpdateFiles.clear();
  ExpectedFiles.clear();
  std::string text = GetText(BaseURL + "update.ini");
  // A build that pins a release key takes nothing its publisher did not sign:
  // the signature is checked over the bytes as received, before anything is
  // written or read from them.
  if (!PinnedKey.empty()) CheckListSignature(text, FetchSignature(), PinnedKey);
  text += "\r\n";

  const std::string localPath = UpdatePath + "update.ini";
  auto file = CreateOutputFile(platform_, localPath);
  LocalCopy local(platform_, localPath);
  WriteAndClose(*file, text);
  file.reset();

  UpdateList list = ReadUpdateList(platform_.readFile(local.path()).value_or(""));
  // Text without either section (an HTML page, a truncated or foreign file)
  // is no release: going on would announce a successful update to nothing.
  if (!list.describesRelease) throw base::Error("No [FileList] or [Version] section");
  if (!PinnedKey.empty()) CheckSignedList(list, OldVersion, platform_.unixTime());
  UpdateFiles = std::move(list.files);
  ExpectedFiles = std::move(list.expected);
  NewVersion = std::move(list.newVersion);
}

std::string TTFrmUpdate::FetchSignature() {
  try {
    return GetText(BaseURL + "update.ini.minisig");
  } catch (const base::Error& e) {
    // A server without the file answers with an error status (a 404, say):
    // the list is then unsigned. A broken connection stays what it is.
    if (e.message().rfind("HTTP/", 0) == 0) return {};
    throw;
  }
}

}  // namespace UMain
