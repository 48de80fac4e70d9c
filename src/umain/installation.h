// The installation as one transaction over the listed files: the installed
// copies are backed up, the new bytes are staged beside their targets, and
// only once every file has arrived is each target replaced by one rename
// (commit); a commit refused halfway, or any failure before it, is undone by
// putting back what was replaced (roll back). At every moment each installed
// file has all of its old bytes or all of its new ones.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "release/release_list.h"
#include "umain/settings.h"

namespace UMain {

// Where the bytes of a listed file are. The run replaces the file of the
// listed name in the working directory (where the client starts the updater:
// its own directory) and stages its downloads beside it; the backup copies
// the file of that name below the installation directory (Settings::updatePath) and
// restores it there. In a deployment both are one directory; started
// elsewhere, the updater writes its downloads there, as it always did.
enum class Place {
  Target,     // the file the run replaces: the name in the working directory
  Staged,     // its download being made, beside it ("<name>.update-part"; the
              // update list refuses names with that ending)
  Delta,      // the patch or compressed copy it is made from ("<name>.update-delta")
  Installed,  // the installed file the backup copies: below the installation directory
  Restored,   // a backup copy on its way back, beside the installed file
  Backup,     // the backup copy: below the backup directory
};

class Installation {
 public:
  // The installation and backup directories are read from the run's
  // settings at each call (they are set once the registry has been read).
  Installation(platform::Platform& platform, const Settings& settings)
      : platform_(platform), settings_(settings) {}

  // The path of the listed name's bytes at that place: every path of an
  // installed, staged or backed-up file comes from here.
  std::string pathOf(const std::string& name, Place place = Place::Target) const;

  // Copies each installed file of `names` into the backup directory (a name
  // listed twice once); the installed files stay in place. A copy that
  // cannot be made raises "Cannot back up "<path>"".
  void BackUp(const std::vector<std::string>& names);
  // Notes the staged download of the name as checked against what the list
  // says of it, as it is now on disk, for Commit to look at it again.
  void Checked(const std::string& name, const release::Expected& expected);
  // Replaces each target by its staged download, one rename each, after
  // checking that nothing holds any target open. Raises "Cannot replace
  // "<full path>". <system text>"; what was replaced before stays replaced
  // until RollBack. A checked download written to since its check (another
  // size or time) is checked again just before its rename, and one that no
  // longer matches raises its not-as-listed text.
  void Commit(const std::vector<std::string>& names);
  // Puts back the files Commit replaced: the backup copy where there was one
  // (by a rename as well), none where the file was not installed.
  void RollBack();
  // Deletes the staged downloads of the names (patches and copies
  // included), and what a restore cut off before its end left beside the
  // installed files.
  void DiscardStaged(const std::vector<std::string>& names);

  // The signing time of the last signed list installed (seconds since 1970,
  // UTC), kept in a small file beside the backup directory; nullopt when
  // there is none. A record that is there but cannot be read or understood
  // raises base::Error: taken for none, it would let an older list in and
  // then be written over with that list's earlier time.
  std::optional<int64_t> SignedAt();
  // Remembers the signing time of the list just installed, by the same
  // replace-by-rename as the files. The files are in place by then: a time
  // that cannot be written leaves the one before, and the run succeeds.
  void RememberSignedAt(int64_t signedAt);

 private:
  // One key for every name that names the same file (case, "/" or "\\").
  std::string SameFileKey(const std::string& name) const;
  [[noreturn]] void RaiseCannotReplace(const std::string& name, uint32_t error);
  // Raises NotAsListed when the checked download is no longer what was checked.
  void CheckAgain(const std::string& name);

  platform::Platform& platform_;
  const Settings& settings_;
  // Whether the backup holds a copy of each listed file, by file; and the
  // listed files Commit has replaced, in order.
  enum class Backup { NotInstalled, Copied };
  std::map<std::string, Backup> backupState_;
  struct CheckedDownload {
    release::Expected expected;
    std::optional<platform::FileStamp> stamp;
  };
  std::map<std::string, CheckedDownload> checked_;
  std::vector<std::string> replaced_;
};

}  // namespace UMain
