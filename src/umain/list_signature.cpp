// The signature of the release description, required by a build that pins a
// release key.
#include "umain/list_signature.h"

#include "base/error.h"
#include "release/list_checks.h"
#include "release/minisign.h"
#include "umain/settings.h"

namespace UMain {

void CheckListSignature(const std::string& list, const std::string& signature,
                        std::string_view pinnedKey) {
  // The key was checked when the build was configured; one that still does
  // not read is no reason to accept anything.
  const auto key = release::parsePublicKey(pinnedKey);
  const release::Verdict verdict =
      key ? release::verify(list, signature, *key).verdict : release::Verdict::Invalid;
  if (const std::string problem = release::listSignatureProblem(verdict); !problem.empty())
    throw base::Error(problem);
}

void CheckSignedList(const release::ReleaseList& list, const std::string& installedVersion,
                     int64_t now) {
  // A list that may be replayed only for a while: an old signed list cannot
  // keep the clients on a release its publisher has replaced.
  if (!list.expires.empty()) {
    const auto expires = release::parseUtcTime(list.expires);
    if (!expires) throw base::Error("Invalid Expires in update.ini");
    if (now > *expires) throw base::Error("The release list expired on " + list.expires);
  }
  if (!release::isVersion(list.newVersion)) throw base::Error("Invalid NewVersion in update.ini");
  if (release::isVersion(installedVersion) && !VersionUnknown(installedVersion) &&
      release::compareVersions(list.newVersion, installedVersion) < 0)
    throw base::Error("Release " + list.newVersion + " is older than the installed version " +
                      installedVersion);
  for (const release::ListedFile& file : list.files) {
    if (!file.expected.size || !file.expected.sha256)
      throw base::Error("\"" + file.name + "\" has no size or hash in the signed list");
  }
}

}  // namespace UMain
