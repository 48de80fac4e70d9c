// The signature of the release description, required by a build that pins a
// release key.
#include "umain/list_signature.h"

#include "base/error.h"
#include "release/list_checks.h"
#include "release/minisign.h"
#include "umain/settings.h"

namespace UMain {

std::string CheckListSignature(const std::string& list, const std::string& signature,
                               std::string_view pinnedKey) {
  // The key was checked when the build was configured; one that still does
  // not read is no reason to accept anything.
  const auto key = release::parsePublicKey(pinnedKey);
  release::Verification verification{release::Verdict::Invalid, {}};
  if (key) verification = release::verify(list, signature, *key);
  if (const std::string problem = release::listSignatureProblem(verification.verdict);
      !problem.empty())
    throw base::Error(problem);
  return verification.trustedComment;
}

void CheckSignedList(const release::ReleaseList& list, const std::string& installedVersion,
                     int64_t now) {
  if (const std::string problem = release::signedListProblem(list, now); !problem.empty())
    throw base::Error(problem);
  if (release::isVersion(installedVersion) && !VersionUnknown(installedVersion) &&
      release::compareVersions(list.newVersion, installedVersion) < 0)
    throw base::Error("Release " + list.newVersion + " is older than the installed version " +
                      installedVersion);
}

void CheckNotReplayed(std::optional<int64_t> signedAt, std::optional<int64_t> installedSignedAt) {
  if (installedSignedAt && (!signedAt || *signedAt < *installedSignedAt))
    throw base::Error("The release list is older than the one installed (signed " +
                      release::utcTimeText(*installedSignedAt) + ")");
}

}  // namespace UMain
