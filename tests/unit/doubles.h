// Test doubles of the two seams: a window that records what was asked of it,
// and a platform whose registry, versions and process starts are in memory
// while its files are the real ones of the system under test.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/error.h"
#include "platform/platform.h"
#include "ui/window.h"

namespace testing_doubles {

class RecordingWindow : public ui::Window {
 public:
  // Every observable action, in order: "text PLMsg=...", "box 16 caption|text", "end", ...
  std::vector<std::string> events;
  std::map<ui::ControlId, std::string> texts;
  std::map<ui::ControlId, int32_t> maxima{{ui::ControlId::PB_Curr, ui::kProgressInitialMax},
                                          {ui::ControlId::PB_All, ui::kProgressInitialMax}};
  std::map<ui::ControlId, int32_t> positions;
  bool timerEnabled = false;
  int endRequests = 0;
  int repaints = 0;
  int pumps = 0;
  std::string captionText = ui::kFormCaption;

  std::string caption() override { return captionText; }
  void setText(ui::ControlId id, const std::string& text) override {
    texts[id] = text;
    events.push_back(std::string("text ") + ui::controlSpec(id).name + "=" + text);
  }
  void setProgressMax(ui::ControlId id, int32_t max) override {
    maxima[id] = max;
    positions[id] = std::clamp(positions[id], 0, std::max(max, 0));
    events.push_back(std::string("max ") + ui::controlSpec(id).name + "=" + std::to_string(max));
  }
  int32_t progressMax(ui::ControlId id) override { return maxima[id]; }
  void setProgressPos(ui::ControlId id, int32_t pos) override {
    positions[id] = std::clamp(pos, 0, std::max(maxima[id], 0));
    events.push_back(std::string("pos ") + ui::controlSpec(id).name + "=" + std::to_string(pos));
  }
  void stepProgress(ui::ControlId id) override {
    positions[id] += 1;
    events.push_back(std::string("step ") + ui::controlSpec(id).name);
  }
  // What a person saw: at each repaint, every text that changed since the
  // last one, as "LBL_Updating=...".
  std::vector<std::string> painted;
  void repaintNow() override {
    ++repaints;
    for (const auto& [id, text] : texts) {
      auto [shown, added] = onScreen_.emplace(id, text);
      if (!added && shown->second == text) continue;
      shown->second = text;
      painted.push_back(std::string(ui::controlSpec(id).name) + "=" + text);
    }
  }
  void processMessages() override { ++pumps; }
  void messageBox(const std::string& text, const std::string& caption, ui::Icon icon) override {
    // The icon as the system's box flag: 16 error, 48 warning, 64 information.
    const int flag = icon == ui::Icon::Error ? 16 : icon == ui::Icon::Warning ? 48 : 64;
    events.push_back("box " + std::to_string(flag) + " " + caption + "|" + text);
  }
  void setTimerEnabled(bool enabled) override {
    timerEnabled = enabled;
    events.push_back(enabled ? "timer on" : "timer off");
  }
  void requestEnd() override {
    ++endRequests;
    events.push_back("end");
  }
  void hide() override { events.push_back("hide"); }

  // The events that start with the given prefix, in order.
  std::vector<std::string> eventsStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& e : events)
      if (e.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
  }

 private:
  std::map<ui::ControlId, std::string> onScreen_;
};

struct RegistryValue {
  enum Type { String, Dword } type = String;
  std::string data;
};

class FullDiskFile : public platform::OutputFile {
 public:
  uint32_t write(const void*, size_t) override { return base::kErrorDiskFull; }
  uint32_t close() override { return 0; }
};

class FakePlatform : public platform::Platform {
 public:
  // Key path (as asked) -> values; a key that is absent cannot be opened.
  std::map<std::string, std::map<std::string, RegistryValue>> registry;
  std::map<std::string, platform::FileVersion> versions;
  std::vector<uint32_t> openAttempts;
  std::vector<std::string> shellOpened;
  std::vector<std::string> startedHidden;
  std::string module = "C:\\App\\MyUpdater.exe";
  bool commandInterpreter = true;
  std::set<std::string> unwritable;  // paths whose creation fails with access denied
  std::set<std::string> onFullDisk;  // paths whose writes fail for lack of space
  std::vector<std::string> deleted;
  std::set<std::string> inUse;          // files another program holds open
  std::set<std::string> unreplaceable;  // targets whose replacement is refused
  std::vector<std::string> replaced;    // the targets of replacements, in order

  platform::Platform& real = platform::systemPlatform();

  std::unique_ptr<platform::RegistryKey> openKeyReadOnly(const std::string& path,
                                                         uint32_t access) override;
  std::optional<platform::FileVersion> fileVersion(const std::string& path) override {
    auto it = versions.find(path);
    if (it == versions.end()) return std::nullopt;
    return it->second;
  }
  bool directoryExists(const std::string& path) override { return real.directoryExists(path); }
  uint32_t createDirectory(const std::string& path) override { return real.createDirectory(path); }
  bool fileExists(const std::string& path) override { return real.fileExists(path); }
  std::optional<platform::FileStamp> fileStamp(const std::string& path) override {
    return real.fileStamp(path);
  }
  uint32_t createFile(const std::string& path,
                      std::unique_ptr<platform::OutputFile>& file) override {
    file.reset();
    if (unwritable.count(path)) return base::kErrorAccessDenied;
    if (onFullDisk.count(path)) {
      file = std::make_unique<FullDiskFile>();
      return 0;
    }
    return real.createFile(path, file);
  }
  uint32_t resumeFile(const std::string& path, uint64_t kept,
                      std::unique_ptr<platform::ResumedFile>& file) override {
    return real.resumeFile(path, kept, file);
  }
  uint32_t openFile(const std::string& path, std::unique_ptr<platform::InputFile>& file) override {
    return real.openFile(path, file);
  }
  // Paths whose reading gives these bytes instead: what another program
  // wrote there in the meantime.
  std::map<std::string, std::string> changedOnDisk;
  std::optional<std::string> readFile(const std::string& path) override {
    if (auto changed = changedOnDisk.find(path); changed != changedOnDisk.end())
      return changed->second;
    return real.readFile(path);
  }
  std::optional<std::string> readShared(const std::string& path) override { return readFile(path); }
  bool pathExists(const std::string& path) override { return real.pathExists(path); }
  std::optional<std::string> resolvedPath(const std::string& path) override {
    return real.resolvedPath(path);
  }
  // Administrator rights: whether the process has them, the directories
  // that refuse it, and what starting it again with them gives (0 and the
  // exit code of that run, or the failure); each start as "args|directory".
  bool elevated = true;
  std::set<std::string> deniedDirectories;
  uint32_t elevationFailure = 0;
  uint32_t elevatedExitCode = 0;
  std::vector<std::string> elevatedStarts;
  bool isElevated() override { return elevated; }
  uint32_t probeWritable(const std::string& directory) override {
    return deniedDirectories.count(directory) ? uint32_t{base::kErrorAccessDenied} : 0;
  }
  uint32_t startElevated(const std::string& arguments, const std::string& directory,
                         std::unique_ptr<platform::Process>& process) override;
  // Waits pass on the clock alone.
  std::vector<uint32_t> sleeps;
  void sleep(uint32_t milliseconds) override {
    sleeps.push_back(milliseconds);
    clock += milliseconds;
  }
  bool deleteFile(const std::string& path) override {
    deleted.push_back(path);
    return path == module ? true : real.deleteFile(path);
  }
  bool copyFile(const std::string& from, const std::string& to) override {
    return real.copyFile(from, to);
  }
  // Paths that another program writes these bytes into while the run checks
  // whether the targets can be replaced.
  std::map<std::string, std::string> writtenBeforeReplace;
  uint32_t checkReplaceable(const std::string& path) override {
    for (const auto& [written, bytes] : writtenBeforeReplace) std::ofstream(written) << bytes;
    writtenBeforeReplace.clear();
    return inUse.count(path) ? base::kErrorSharingViolation : real.checkReplaceable(path);
  }
  uint32_t replaceFile(const std::string& from, const std::string& to) override {
    if (unreplaceable.count(to)) return base::kErrorAccessDenied;
    replaced.push_back(to);
    return real.replaceFile(from, to);
  }
  std::string fullPath(const std::string& path) override { return real.fullPath(path); }
  std::string systemErrorText(uint32_t code) override { return real.systemErrorText(code); }
  void shellOpen(const std::string& file) override { shellOpened.push_back(file); }
  void startHidden(const std::string& commandLine) override {
    startedHidden.push_back(commandLine);
  }
  std::string modulePath() override { return module; }
  bool hasCommandInterpreter() override { return commandInterpreter; }
  // Single bytes, or code page 936's lead and trail bytes.
  bool codePage936 = false;
  size_t charLength(std::string_view text, size_t at) override {
    const auto lead = static_cast<unsigned char>(text[at]);
    return codePage936 && lead >= 0x81 && lead <= 0xFE && at + 1 < text.size() ? 2 : 1;
  }
  // Each reading of the clock moves it on by clockStep: by default far enough
  // that every progress event reaches the window.
  uint64_t clock = 0;
  uint64_t clockStep = 1000;
  uint64_t milliseconds() override { return clock += clockStep; }
};

// A fresh directory that is the working directory while the object lives.
class TempWorkDir {
 public:
  TempWorkDir();
  ~TempWorkDir();
  const std::filesystem::path& path() const { return path_; }
  // The directory in the program's own form, ending in "\".
  std::string windowsForm() const;

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
};

std::string readAll(const std::filesystem::path& path);
void writeAll(const std::filesystem::path& path, const std::string& bytes);

}  // namespace testing_doubles
