// Administrator rights, asked for at the moment they are needed: an
// installation where installers put it (under Program Files) is writable
// only with them, and the program itself asks for none (asInvoker).
#include <algorithm>

#include "base/error.h"
#include "umain/update_run.h"

namespace UMain {

namespace {

// Shown when the user refuses the rights (or the prompt cannot be shown).
const char kNeedsAdministrator[] =
    "升级需要管理员权限，但未能获得授权。\r\r客户端将以当前版本启动。";

// The directory itself when it exists, else the nearest folder above it that
// does ("." for the working directory).
std::string NearestExisting(platform::Platform& platform, std::string directory) {
  for (;;) {
    while (!directory.empty() && (directory.back() == '\\' || directory.back() == '/'))
      directory.pop_back();
    if (directory.empty()) return ".";
    if (directory.back() == ':' || platform.directoryExists(directory)) return directory;
    const size_t cut = directory.find_last_of("\\/");
    directory.resize(cut == std::string::npos ? 0 : cut);
  }
}

}  // namespace

std::vector<std::string> UpdateRun::WrittenDirectories() {
  std::vector<std::string> directories;
  auto add = [&](const std::string& directory) {
    std::string existing = NearestExisting(platform_, directory);
    if (std::find(directories.begin(), directories.end(), existing) == directories.end())
      directories.push_back(std::move(existing));
  };
  for (const std::string& name : replacing_) {
    const size_t cut = name.find_last_of("\\/");
    add(cut == std::string::npos ? "" : name.substr(0, cut));
  }
  add(settings_.backupPath);
  return directories;
}

bool UpdateRun::MayAskForRights() {
  return !relaunched_ && !platform_.isElevated() && WorksInTheInstallation();
}

bool UpdateRun::WorksInTheInstallation() {
  const std::string installation = settings_.updatePath.empty() ? "." : settings_.updatePath;
  auto key = [&](std::string path) {
    while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return platform_.sameFileKey(path);
  };
  const std::optional<std::string> here = platform_.resolvedPath(".");
  const std::optional<std::string> resolved = platform_.resolvedPath(installation);
  return here && resolved && key(*here) == key(*resolved) &&
         key(*resolved) == key(platform_.fullPath(installation));
}

bool UpdateRun::NeedsElevation() {
  if (replacing_.empty() || !MayAskForRights()) return false;
  for (const std::string& directory : WrittenDirectories()) {
    if (platform_.probeWritable(directory) == base::kErrorAccessDenied) return true;
  }
  return false;
}

void UpdateRun::RunElevated() {
  std::unique_ptr<platform::Process> process;
  if (platform_.startElevated(std::string("UPDATE ") + kElevatedArgument, platform_.fullPath("."),
                              process) != 0 ||
      !process) {
    // Nothing has been written: the client starts as it is.
    ShowBox(kNeedsAdministrator, ui::Icon::Warning);
    StartClient();
    RemoveSelfAndQuit();
    return;
  }
  window_.hide();
  std::optional<uint32_t> code;
  while (!(code = process->wait(100))) window_.processMessages();
  if (*code == 0) StartClient();
  RemoveSelfAndQuit();
}

void UpdateRun::StartClient() {
  clientStarted_ = true;
  if (!relaunched_) platform_.shellOpen("client.exe");
}

}  // namespace UMain
