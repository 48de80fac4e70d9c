#include "umain/installation.h"

#include <set>
#include <tuple>

#include "base/error.h"
#include "release/list_checks.h"
#include "release/release_list.h"
#include "umain/file_reader.h"
#include "umain/integrity.h"
#include "umain/output_file.h"

namespace UMain {

namespace {

// Makes the directories a listed name needs below base ("sub\x.dll" needs "sub\").
void MakeSubdirectories(platform::Platform& platform, const std::string& base,
                        const std::string& name) {
  for (size_t at = name.find_first_of("\\/"); at != std::string::npos;
       at = name.find_first_of("\\/", at + 1)) {
    std::string directory = base + name.substr(0, at);
    if (!platform.directoryExists(directory)) platform.createDirectory(directory);
  }
}

std::string DownloadPart(const std::string& name) {
  return name + std::string(release::kDownloadSuffix);
}

std::string DeltaPart(const std::string& name) {
  return name + std::string(release::kDeltaSuffix);
}

}  // namespace

std::string Installation::pathOf(const std::string& name, Place place) const {
  switch (place) {
    case Place::Target:
      break;
    case Place::Staged:
      return DownloadPart(name);
    case Place::Delta:
      return DeltaPart(name);
    case Place::Installed:
      return settings_.updatePath + name;
    case Place::Restored:
      return DownloadPart(settings_.updatePath + name);
    case Place::Backup:
      return settings_.backupPath + name;
  }
  return name;
}

std::string Installation::SameFileKey(const std::string& name) const {
  return platform_.sameFileKey(name);
}

void Installation::BackUp(const std::vector<std::string>& names) {
  backupState_.clear();
  checked_.clear();
  replaced_.clear();
  for (const std::string& name : names) {
    auto [entry, first] = backupState_.emplace(SameFileKey(name), Backup::NotInstalled);
    if (!first) continue;
    const std::string installed = pathOf(name, Place::Installed);
    const std::string backup = pathOf(name, Place::Backup);
    if (!platform_.fileExists(installed)) continue;
    // The copy an earlier run left goes first; the copy below makes it anew.
    if (platform_.fileExists(backup)) std::ignore = platform_.deleteFile(backup);
    MakeSubdirectories(platform_, settings_.backupPath, name);
    if (!platform_.copyFile(installed, backup))
      throw base::Error("Cannot back up \"" + installed + "\"");
    entry->second = Backup::Copied;
  }
}

void Installation::Checked(const std::string& name, const release::Expected& expected) {
  // A file of another size than listed is not what was checked (bytes added
  // while it was checked): no stamp, so that it is read again before its rename.
  std::optional<platform::FileStamp> stamp = platform_.fileStamp(pathOf(name, Place::Staged));
  if (stamp && expected.size && stamp->size != *expected.size) stamp.reset();
  checked_[SameFileKey(name)] = {expected, stamp};
}

void Installation::CheckAgain(const std::string& name) {
  auto entry = checked_.find(SameFileKey(name));
  if (entry == checked_.end()) return;
  const std::string part = pathOf(name, Place::Staged);
  const std::optional<platform::FileStamp> now = platform_.fileStamp(part);
  if (now && now == entry->second.stamp) return;
  // Written to while it waited: only its bytes can tell whether it is still
  // the listed file.
  const release::Expected& expected = entry->second.expected;
  if (!now || (expected.size && now->size != *expected.size) ||
      (expected.sha256 && HashFile(platform_, part, now->size) != expected.sha256))
    throw NotAsListed(NotMatchingRelease(name));
  entry->second.stamp = now;
}

void Installation::Commit(const std::vector<std::string>& names) {
  // A target held open (the client still running) would refuse its rename
  // after others had been done: all are checked before the first one.
  for (const std::string& name : names) {
    if (uint32_t error = platform_.checkReplaceable(name)) RaiseCannotReplace(name, error);
  }
  std::set<std::string> done;
  for (const std::string& name : names) {
    if (!done.insert(SameFileKey(name)).second) continue;
    CheckAgain(name);
    if (uint32_t error = platform_.replaceFile(pathOf(name, Place::Staged), pathOf(name)))
      RaiseCannotReplace(name, error);
    replaced_.push_back(name);
  }
}

// Each file goes back by a rename as well, so that a run cut off while it
// rolls back still leaves every file whole. What cannot be put back is left
// as it is: there is nothing better to do with it at this point.
void Installation::RollBack() {
  for (const std::string& name : replaced_) {
    const std::string installed = pathOf(name, Place::Installed);
    auto entry = backupState_.find(SameFileKey(name));
    if (entry != backupState_.end() && entry->second == Backup::Copied) {
      const std::string part = pathOf(name, Place::Restored);
      if (platform_.copyFile(pathOf(name, Place::Backup), part))
        std::ignore = platform_.replaceFile(part, installed);
    } else {
      std::ignore = platform_.deleteFile(installed);
    }
  }
  replaced_.clear();
}

void Installation::DiscardStaged(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    // Downloads land in the working directory, restored copies beside the
    // installed files (in a deployment both are the same directory); either
    // may not exist.
    for (Place place : {Place::Staged, Place::Delta, Place::Restored})
      std::ignore = platform_.deleteFile(pathOf(name, place));
  }
}

namespace {
const char kSignedAtFile[] = "update.ini.signed";
}  // namespace

std::optional<int64_t> Installation::SignedAt() {
  const std::string path = settings_.updatePath + kSignedAtFile;
  // Read without a lock: a reader that holds one must not make it unreadable.
  const std::optional<std::string> text = platform_.readShared(path);
  if (!text && !platform_.pathExists(path)) return std::nullopt;
  std::optional<int64_t> signedAt;
  if (text) signedAt = release::parseUtcTime(text->substr(0, text->find_first_of("\r\n")));
  if (!signedAt)
    throw base::Error("The record of the last signed list installed cannot be read (" +
                      platform_.fullPath(path) + ")");
  return signedAt;
}

void Installation::RememberSignedAt(int64_t signedAt) {
  const std::string path = settings_.updatePath + kSignedAtFile;
  const std::string part = DownloadPart(path);
  try {
    // The remembered time never goes back, whatever came in between.
    if (const std::optional<int64_t> remembered = SignedAt(); remembered && *remembered > signedAt)
      return;
    WriteAndClose(*CreateOutputFile(platform_, part), release::utcTimeText(signedAt) + "\r\n");
    if (platform_.replaceFile(part, path) == 0) return;
  } catch (const std::exception&) {
  }
  std::ignore = platform_.deleteFile(part);
}

void Installation::RaiseCannotReplace(const std::string& name, uint32_t error) {
  base::raiseFileFailure("Cannot replace", platform_.fullPath(name),
                         platform_.systemErrorText(error));
}

}  // namespace UMain
