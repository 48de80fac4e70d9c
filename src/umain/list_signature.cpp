// The signature of the release description, required by a build that pins a
// release key.
#include "base/error.h"
#include "release/minisign.h"
#include "umain/umain.h"

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

}  // namespace UMain
