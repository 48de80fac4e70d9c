// One update run, in the order UpdateRun::RunUpdate tells: the update list
// fetched and checked (update_list.cpp), what to do with each listed file
// decided (plan.h), administrator rights asked for where they are needed
// (elevation.cpp), the installed files backed up and each new file
// downloaded (downloader.h) or made from a patch or compressed copy
// (cheaper.cpp) into its staged download, the installation committed or put
// back (installation.h), and the finish routine (finish.cpp). The window
// (form.h) starts the run and shows what it reports.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "http/transport.h"
#include "platform/platform.h"
#include "release/release_list.h"
#include "ui/window.h"
#include "umain/downloader.h"
#include "umain/installation.h"
#include "umain/plan.h"
#include "umain/settings.h"
#include "umain/transfer_failure.h"

namespace UMain {

// Exact, case-sensitive comparison of the first argument with "UPDATE".
bool IsUpdateArgument(const std::vector<std::string>& args);

class UpdateRun {
 public:
  // The run of a process started with args; the HTTP client talks over the
  // given connection (TCP sockets for null).
  UpdateRun(platform::Platform& platform, ui::Window& window, std::vector<std::string> args,
            std::unique_ptr<http::Transport> transport = nullptr, Settings settings = {});

  // The whole run: list, plans, rights, backup, downloads, commit, finish.
  void RunUpdate();

  // The settings from the client's registry key; a missing installation
  // directory is told in a box and ends the application.
  void LoadSettings();
  const Settings& settings() const { return settings_; }
  // dwFileVersionMS (which = 1) or dwFileVersionLS (which = 2); kNoVersion on any failure.
  static constexpr uint32_t kNoVersion = 0xFFFFFFFF;
  static uint32_t GetVersionPart(platform::Platform& platform, const std::string& path, int which);
  std::string GetFileVersionText(const std::string& path);
  // The installed client's version, read when the window is created, and the
  // release's, from its list.
  std::string OldVersion;
  std::string NewVersion;

  // The update list and the new version text from the server's "update.ini".
  void FetchUpdateList();
  // The public key the releases must be signed with (minisign's base64
  // line); empty for a build that takes releases unsigned.
  std::string PinnedKey;
  // What the release lists, one entry per file, and their names.
  const std::vector<release::ListedFile>& ListedFiles() const { return listedFiles_; }
  std::vector<std::string> ListedNames() const;
  void SetListedFiles(std::vector<release::ListedFile> files);

  // Copies of the installed listed files that the run replaces (all but those
  // already current) in the backup directory; the files stay installed.
  void BackupOldFiles();
  // Puts back the installed files that the installation's commit replaced.
  void RestoreOldFiles();
  // The ending of a failed download phase: the box with the failure's text
  // (none for a failure the user has no words for), the installation put
  // back, the finish routine.
  void FailDownloadPhase(const std::string* message);
  void RemoveSelfAndQuit();

  // Administrator rights, asked for only when they are needed: the argument
  // after "UPDATE" that marks the process started again with them, and its
  // exit code when the client is not to be started (0: it is).
  static constexpr const char* kElevatedArgument = "/elevated";
  static constexpr int kExitClientNotStarted = 3;
  // What the program returns when its window's loop has ended.
  int ExitCode() const { return exitCode_; }
  // Whether the run must start again with administrator rights to write
  // where it must: never for a process that has them or was started with
  // them, nor when nothing is to be written, nor outside the installation
  // directory (WorksInTheInstallation); otherwise when a directory the run
  // writes refuses it with access denied.
  bool NeedsElevation();

  // What the run reports: the status line, painted at once, and a box.
  void ShowStatus(const std::string& text);
  void ShowBox(const std::string& text, ui::Icon icon);

  Downloader& downloader() { return downloader_; }
  Installation& installation() { return Install; }

 private:
  // Whether this process lacks administrator rights and may ask for them
  // (it was not started for them, and it works in the installation).
  bool MayAskForRights();
  // Whether the working directory is the installation directory itself, the
  // same directory once both are resolved, with no link or junction on the
  // way to it: the only place where administrator rights are asked for and
  // used. Anywhere else the downloads, staged files and renames, which are
  // relative to the working directory, would go wherever the caller stood
  // and through whatever links it placed there.
  bool WorksInTheInstallation();
  // The run started again with administrator rights, this process hidden
  // until it ends; then the client started (unless that run says not to,
  // or the user refused the rights and was told so) and this updater removed.
  void RunElevated();
  // The directories the run writes: each replaced file's (the nearest that
  // exists) and the backup's.
  std::vector<std::string> WrittenDirectories();
  // Starts the client; a process started with administrator rights leaves
  // that to the one that started it (the client never runs with them).
  void StartClient();
  // The signature file beside update.ini; empty when the server has none.
  std::string FetchSignature();
  // The listed file, whole or from where an earlier run left it, into its
  // staged download.
  void Download(const release::ListedFile& file, uint64_t kept = 0);
  // The listed file made from the patch or the compressed copy the plan
  // chose, into its staged download with the file's own check; false (and
  // nothing of it left) when any step fails, for the plain file to follow.
  bool FetchCheaper(const release::ListedFile& file, const FilePlan& plan);
  // What the run does with each listed file, from what lies on disk; what a
  // run cut off before its end left of its downloads is deleted here.
  std::vector<FilePlan> PlanFiles();
  // The download phase: the message line, the number of files, each file in
  // turn, the commit. Raises TransferFailure for what the user is told.
  void DownloadFiles(const std::vector<FilePlan>& plans);

  platform::Platform& platform_;
  ui::Window& window_;
  std::vector<std::string> args_;
  // Started again with administrator rights by another updater process.
  bool relaunched_ = args_.size() > 1 && args_[1] == kElevatedArgument;
  bool clientStarted_ = false;
  int exitCode_ = 0;
  Settings settings_;
  std::vector<release::ListedFile> listedFiles_;
  // The listed names the run replaces, in list order: all of them, less
  // those that the plans find current.
  std::vector<std::string> replacing_;
  // When the signed list being installed was signed, as its trusted comment
  // says; nullopt for an unsigned list or one that does not say.
  std::optional<int64_t> listSignedAt_;
  Installation Install{platform_, settings_};
  Downloader downloader_;
};

}  // namespace UMain
