// The release description "update.ini": fetched, kept briefly in the
// installation directory, and read into the update list and the new version.
#include <optional>
#include <tuple>

#include "base/error.h"
#include "release/minisign.h"
#include "umain/list_signature.h"
#include "umain/output_file.h"
#include "umain/update_run.h"

namespace UMain {

namespace {

// Deletes the local copy on every path out of the list fetch.
class LocalCopy {
 public:
  LocalCopy(platform::Platform& platform, std::string path)
      : platform_(platform), path_(std::move(path)) {}
  ~LocalCopy() { std::ignore = platform_.deleteFile(path_); }
  const std::string& path() const { return path_; }

 private:
  platform::Platform& platform_;
  std::string path_;
};

}  // namespace

void UpdateRun::FetchUpdateList() {
  SetListedFiles({});
  // A list that is signed is checked whatever host it came from.
  const http::Redirects redirects =
      PinnedKey.empty() ? http::Redirects::Refuse : http::Redirects::Follow;
  std::string text = downloader_.GetText(settings_.baseURL + "update.ini", redirects);
  // A build that pins a release key takes nothing its publisher did not sign:
  // the signature is checked over the bytes as received, before anything is
  // written or read from them.
  listSignedAt_.reset();
  std::string trustedComment;
  if (!PinnedKey.empty()) trustedComment = CheckListSignature(text, FetchSignature(), PinnedKey);

  // The list is kept in the installation directory for the time it is read,
  // as it always was; but what is read is the bytes that arrived (and were
  // checked), in memory: whoever can write that directory cannot change the
  // list between the check and the reading, and the line end the saved copy
  // ends with is not part of the last value.
  // An installation that only administrators may write (under Program
  // Files) refuses the copy to a process without their rights; such a run
  // goes on to ask for them, and the run that has them keeps the copy.
  const std::string localPath = settings_.updatePath + "update.ini";
  std::unique_ptr<platform::OutputFile> file;
  const uint32_t refused = platform_.createFile(localPath, file);
  if (refused && !(refused == base::kErrorAccessDenied && MayAskForRights()))
    base::raiseCannotCreate(platform_.fullPath(localPath), platform_.systemErrorText(refused));
  std::optional<LocalCopy> local;
  if (file) {
    local.emplace(platform_, localPath);
    WriteAndClose(*file, text + "\r\n");
    file.reset();
  }

  release::ReleaseList list = release::readReleaseList(text);
  // Text without either section (an HTML page, a truncated or foreign file)
  // is no release: going on would announce a successful update to nothing.
  if (!list.describesRelease) throw base::Error("No [FileList] or [Version] section");
  if (!PinnedKey.empty()) {
    CheckSignedList(list, OldVersion, platform_.unixTime());
    listSignedAt_ = release::trustedTimestamp(trustedComment);
    CheckNotReplayed(listSignedAt_, Install.SignedAt());
  }
  SetListedFiles(std::move(list.files));
  NewVersion = std::move(list.newVersion);
}

std::string UpdateRun::FetchSignature() {
  try {
    return downloader_.GetText(settings_.baseURL + "update.ini.minisig", http::Redirects::Follow);
  } catch (const http::StatusError&) {
    // A server without the file answers with an error status (a 404, say):
    // the list is then unsigned. A broken connection stays what it is.
    return {};
  }
}

void UpdateRun::SetListedFiles(std::vector<release::ListedFile> files) {
  listedFiles_ = std::move(files);
  replacing_ = ListedNames();
}

std::vector<std::string> UpdateRun::ListedNames() const {
  std::vector<std::string> names;
  for (const release::ListedFile& file : listedFiles_) names.push_back(file.name);
  return names;
}

}  // namespace UMain
