// Moving the installed copies of the listed files aside, and putting them back.
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
  for (const std::string& name : UpdateFiles) {
    // A name listed twice names one file: back it up once, or the second
    // pass would replace the copy by nothing.
    auto [entry, first] = BackupState.emplace(SameFileKey(name), Backup::NotInstalled);
    if (!first) continue;
    const std::string installed = UpdatePath + name;
    const std::string backup = BackupPath + name;
    if (!platform_.fileExists(installed)) continue;
    entry->second = Backup::Kept;
    if (platform_.fileExists(backup)) platform_.deleteFile(backup);
    MakeSubdirectories(platform_, BackupPath, name);
    // The installed file goes only once its copy is safe.
    if (!platform_.copyFile(installed, backup))
      throw base::Error("Cannot back up \"" + installed + "\"");
    entry->second = Backup::Copied;
    platform_.deleteFile(installed);
  }
}

void TTFrmUpdate::RestoreOldFiles() {
  for (const std::string& name : UpdateFiles) {
    auto entry = BackupState.find(SameFileKey(name));
    // A file kept in place, or one already restored, is left as it is.
    if (entry == BackupState.end() || entry->second == Backup::Kept) continue;
    const std::string installed = UpdatePath + name;
    if (platform_.fileExists(installed)) platform_.deleteFile(installed);
    if (entry->second == Backup::Copied) platform_.copyFile(BackupPath + name, installed);
    entry->second = Backup::Kept;
  }
}

}  // namespace UMain
