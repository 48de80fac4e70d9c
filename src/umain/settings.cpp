// Installation settings from the client's registry key, and the version text
// of the installed client.
#include <cstdio>

#include "base/text.h"
#include "base/error.h"
#include "umain/settings.h"
#include "umain/update_run.h"

namespace UMain {

namespace {

constexpr const char* kClientKey = "SoftWare\\Molva";

std::unique_ptr<platform::RegistryKey> OpenClientKey(platform::Platform& platform) {
  for (uint32_t access :
       {platform::kKeyRead, platform::kKeyReadNoNotify, platform::kKeyQueryValue}) {
    if (auto key = platform.openKeyReadOnly(kClientKey, access)) return key;
  }
  return nullptr;
}

}  // namespace

std::string DefaultBaseURL() {
  return "http://" UPDATER_DEFAULT_HOST "/downloads/client/";
}

void UpdateRun::LoadSettings() {
  auto key = OpenClientKey(platform_);
  std::string path;
  if (key) {
    try {
      path = key->readString("UpdatePath");
      if (!path.empty() && key->valueExists("URL")) settings_.baseURL = key->readString("URL");
    } catch (const base::Error&) {
      // Settings of the wrong type leave them incomplete: no run may start.
      window_.requestEnd();
      throw;
    }
  }
  // Without an installation directory every path would point into the
  // working directory, so a missing or empty value counts as a missing key.
  if (path.empty()) {
    ShowBox("没有找到源程序！", ui::Icon::Warning);
    window_.requestEnd();
    return;
  }
  key.reset();

  Settings& s = settings_;
  s.updatePath = path;
  if (!base::endsWithChar(s.updatePath, '\\', platform_.charRule())) s.updatePath += '\\';
  s.backupPath = s.updatePath + "UpdateBak\\";

  if (IsUpdateArgument(args_) && !platform_.directoryExists(s.backupPath)) {
    if (uint32_t error = platform_.createDirectory(s.backupPath)) base::raiseIoError(error);
  }
}

uint32_t UpdateRun::GetVersionPart(platform::Platform& platform, const std::string& path,
                                   int which) {
  auto version = platform.fileVersion(path);
  if (!version || (which != 1 && which != 2)) return kNoVersion;
  return which == 1 ? version->ms : version->ls;
}

std::string UpdateRun::GetFileVersionText(const std::string& path) {
  uint32_t ms = GetVersionPart(platform_, path, 1);
  uint32_t ls = GetVersionPart(platform_, path, 2);
  char text[48];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
  return text;
}

bool VersionUnknown(const std::string& version) {
  return version.find("65535") != std::string::npos;
}

}  // namespace UMain
