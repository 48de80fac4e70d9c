// The update window, TTFrmUpdate, and the unit-level state that the whole
// update shares. The window's logic is spread over one file per concern:
// settings.cpp, update_list.cpp, transfer.cpp, installation.cpp (through
// BackupOldFiles and RestoreOldFiles), run.cpp and finish.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "http/http_client.h"
#include "http/transport.h"
#include "platform/platform.h"
#include "release/release_list.h"
#include "ui/window.h"
#include "umain/installation.h"
#include "umain/plan.h"
#include "umain/transfer_display.h"
#include "umain/transfer_failure.h"

namespace UMain {

// Unit-level state, shared by the whole update; lives for the process.
extern std::string BaseURL;
extern std::string UpdatePath;
extern std::string BackupPath;
// The names of the listed files, in list order: derived from the form's
// ListedFiles whenever those are set.
extern std::vector<std::string> UpdateFiles;

// The built-in update URL: "http://" + the deployment's update host + "/downloads/client/".
std::string DefaultBaseURL();
// Puts the unit-level state back to its values at process start.
void ResetUnitState();

// Exact, case-sensitive comparison of the first argument with "UPDATE".
bool IsUpdateArgument(const std::vector<std::string>& args);

// The text a handler shows for a failure: the program's own errors carry it;
// any other (out of memory, a length error) is told by what the library says.
std::string ErrorMessage(const std::exception& e);

class TTFrmUpdate : public ui::FormEvents {
 public:
  // The HTTP client talks over the given connection; TCP sockets for null.
  TTFrmUpdate(platform::Platform& platform, ui::Window& window, std::vector<std::string> args,
              std::unique_ptr<http::Transport> transport = nullptr);

  // Window event handlers.
  void FormCreate() override;
  void FormShow() override;
  void Timer1Timer() override;
  bool FormCloseQuery() override;

  // Window fields.
  std::string OldVersion;
  std::string NewVersion;
  bool CloseAllowed = false;
  int32_t TransferMax = 0;
  int32_t TransferPos = 0;

  void ShowStatus(const std::string& text);
  void ShowBox(const std::string& text, ui::Icon icon);

  // Settings and the installed client's version.
  void LoadSettings();
  // dwFileVersionMS (which = 1) or dwFileVersionLS (which = 2); kNoVersion on any failure.
  static constexpr uint32_t kNoVersion = 0xFFFFFFFF;
  static uint32_t GetVersionPart(platform::Platform& platform, const std::string& path, int which);
  std::string GetFileVersionText(const std::string& path);

  // The update list and the new version text from the server's "update.ini".
  void FetchUpdateList();
  // The public key the releases must be signed with (minisign's base64
  // line); empty for a build that takes releases unsigned.
  std::string PinnedKey;
  // What the release lists, one entry per file; UpdateFiles holds their names.
  const std::vector<release::ListedFile>& ListedFiles() const { return listedFiles_; }
  void SetListedFiles(std::vector<release::ListedFile> files);

  // File transfer and the current transfer's progress display.
  std::string GetText(const std::string& url);
  // Downloads the listed file into its staged download (Place::Staged of its
  // name), checked against what the list says of it; the target itself is
  // replaced only when the installation commits. A failure of the transfer
  // raises TransferFailure with the text the user reads.
  // A file whose size and hash are listed is taken up where a transfer
  // broke (up to three times, after a pause), and where an earlier run left
  // it (`kept` bytes of its staged download).
  void Download(const release::ListedFile& file, uint64_t kept = 0);
  void DownloadToFile(const std::string& url, const std::string& target,
                      const release::Expected& expected = {}, uint64_t kept = 0);
  // The same, reporting its own failure (box, installation put back, finish
  // routine) and returning false.
  bool DownloadUpdateFile(const std::string& name, const release::Expected& expected = {});
  void IdHTTP1WorkBegin(int64_t count);
  void IdHTTP1Work(int64_t count);
  void SetTransferMax(int32_t n);
  void SetTransferPosition(int32_t n);
  void ShowTransferText();

  // Copies of the installed listed files that the run replaces (all but those
  // already current) in the backup directory; the files stay installed.
  void BackupOldFiles();
  // Puts back the installed files that the installation's commit replaced.
  void RestoreOldFiles();

  void RunUpdate();
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

  http::Client IdHTTP1;

 private:
  // Forwards the HTTP client's progress events to the window's handlers.
  class HttpProgress : public http::Progress {
   public:
    explicit HttpProgress(TTFrmUpdate& form) : form_(form) {}
    void workBegin(int64_t count) override;
    void work(int64_t count) override;
    void waiting() override;

   private:
    TTFrmUpdate& form_;
  };

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
  // One GET with the transfer display around it.
  void Fetch(const std::string& url, http::BodySink& sink,
             std::optional<uint64_t> rangeFrom = std::nullopt);
  void PauseBeforeResume(uint32_t milliseconds);
  // DownloadToFile into the file at path (named target in messages).
  void DownloadChecked(const std::string& url, const std::string& target, const std::string& path,
                       const release::Expected& expected, uint64_t kept);
  // The listed file made from the patch or the compressed copy the plan
  // chose, into its staged download with the file's own check; false (and
  // nothing of it left) when any step fails, for the plain file to follow.
  bool FetchCheaper(const release::ListedFile& file, const FilePlan& plan);
  void ResetTransfer();
  // What the run does with each listed file, from what lies on disk; what a
  // run cut off before its end left of its downloads is deleted here.
  std::vector<FilePlan> PlanFiles();
  // The download phase: the message line, the number of files, each file in
  // turn, the commit. Raises TransferFailure for what the user is told.
  void DownloadFiles(const std::vector<FilePlan>& plans);
  // The ending of a failed download phase: the box with the failure's text
  // (none for a failure the user has no words for), the installation put
  // back, the finish routine.
  void FailDownloadPhase(const std::string* message);

  platform::Platform& platform_;
  ui::Window& window_;
  std::vector<std::string> args_;
  // Started again with administrator rights by another updater process.
  bool relaunched_ = args_.size() > 1 && args_[1] == kElevatedArgument;
  bool clientStarted_ = false;
  int exitCode_ = 0;
  std::vector<release::ListedFile> listedFiles_;
  // The listed names the run replaces, in list order: all of them, less
  // those that the plans find current.
  std::vector<std::string> replacing_;
  // When the signed list being installed was signed, as its trusted comment
  // says; nullopt for an unsigned list or one that does not say.
  std::optional<int64_t> listSignedAt_;
  size_t fileNumber_ = 0;     // of the file being downloaded, from 1
  int64_t transferFrom_ = 0;  // the byte a resumed transfer's events count from
  Installation Install{platform_, UpdatePath, BackupPath};
  TransferDisplay Display{platform_, window_, TransferMax, TransferPos};
  HttpProgress progress_{*this};
};

}  // namespace UMain
