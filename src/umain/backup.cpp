// The installed listed files: copied aside before the downloads, replaced by
// their downloads once all have arrived, and put back when that fails.
#include <set>

#include "base/error.h"
#include "base/text.h"
#include "umain/umain.h"

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

}  // namespace

std::string TTFrmUpdate::SameFileKey(const std::string& name) const {
  std::string key = name;
  for (char& c : key) {
    if (c == '/') c = '\\';
    if (platform_.pathsIgnoreCase()) c = base::lowerAscii(c);
  }
  return key;
}

void TTFrmUpdate::BackupOldFiles() {
  BackupState.clear();
  Replaced.clear();
  for (const std::string& name : UpdateFiles) {
    // A name listed twice names one file: back it up once.
    auto [entry, first] = BackupState.emplace(SameFileKey(name), Backup::NotInstalled);
    if (!first) continue;
    const std::string installed = UpdatePath + name;
    const std::string backup = BackupPath + name;
    if (!platform_.fileExists(installed)) continue;
    if (platform_.fileExists(backup)) platform_.deleteFile(backup);
    MakeSubdirectories(platform_, BackupPath, name);
    if (!platform_.copyFile(installed, backup))
      throw base::Error("Cannot back up \"" + installed + "\"");
    entry->second = Backup::Copied;
  }
}

bool TTFrmUpdate::ReplaceFiles() {
  try {
    // A target held open (the client still running) would refuse its rename
    // after others had been done: all are checked before the first one.
    for (const std::string& name : UpdateFiles) {
      if (uint32_t error = platform_.checkReplaceable(name)) RaiseCannotReplace(name, error);
    }
    std::set<std::string> done;
    for (const std::string& name : UpdateFiles) {
      if (!done.insert(SameFileKey(name)).second) continue;
      if (uint32_t error = platform_.replaceFile(DownloadPart(name), name))
        RaiseCannotReplace(name, error);
      Replaced.push_back(name);
    }
  } catch (const std::exception& e) {
    FailDownloadPhase(ErrorMessage(e));
    return false;
  }
  return true;
}

// Each file goes back by a rename as well, so that a run cut off while it
// restores still leaves every file whole.
void TTFrmUpdate::RestoreOldFiles() {
  for (const std::string& name : Replaced) {
    const std::string installed = UpdatePath + name;
    auto entry = BackupState.find(SameFileKey(name));
    if (entry != BackupState.end() && entry->second == Backup::Copied) {
      const std::string part = DownloadPart(installed);
      if (platform_.copyFile(BackupPath + name, part)) platform_.replaceFile(part, installed);
    } else {
      platform_.deleteFile(installed);
    }
  }
  Replaced.clear();
}

void TTFrmUpdate::RemoveDownloadParts() {
  for (const std::string& name : UpdateFiles) {
    // Downloads land in the working directory, restored copies beside the
    // installed files (in a deployment both are the same directory).
    platform_.deleteFile(DownloadPart(name));
    platform_.deleteFile(DownloadPart(UpdatePath + name));
  }
}

void TTFrmUpdate::RaiseCannotReplace(const std::string& name, uint32_t error) {
  base::raiseFileFailure("Cannot replace", platform_.fullPath(name),
                         platform_.systemErrorText(error));
}

std::string DownloadPart(const std::string& name) {
  return name + std::string(release::kDownloadSuffix);
}

}  // namespace UMain
