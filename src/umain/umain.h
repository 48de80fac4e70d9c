// The update window and all of its logic: settings, update list, transfer and
// progress, backup, the update run and the finish routine.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/http_client.h"
#include "http/transport.h"
#include "platform/platform.h"
#include "release/release_list.h"
#include "ui/window.h"
#include "umain/transfer_display.h"

namespace UMain {

// Unit-level state, shared by the whole update; lives for the process.
extern std::string BaseURL;
extern std::string UpdatePath;
extern std::string BackupPath;
extern std::vector<std::string> UpdateFiles;

// The built-in update URL: "http://" + the deployment's update host + "/downloads/client/".
std::string DefaultBaseURL();
// Puts the unit-level state back to its values at process start.
void ResetUnitState();

// The opening of the box that reports a failure of the download phase
// (shipped text, kept byte for byte).
inline const std::string kTransferFailed = "升级过程中出现了错误了,错误信息如下：\r\r";

// The text a handler shows for a failure: the program's own errors carry it;
// any other (out of memory, a length error) is told by what the library says.
std::string ErrorMessage(const std::exception& e);

// Creates or truncates a file for writing; one that cannot be created raises
// "Cannot create file "<full path>". <system text>", with the full path of
// `shownPath` where given (the file a temporary one stands in for).
std::unique_ptr<platform::OutputFile> CreateOutputFile(platform::Platform& platform,
                                                       const std::string& path,
                                                       const std::string& shownPath = "");
// Writes the bytes and closes the file; a failure raises its input/output
// text ("Disk full" for a full disk).
void WriteAndClose(platform::OutputFile& file, std::string_view bytes);

// The temporary file a listed file is downloaded into, beside it: "sub\x.dll"
// -> "sub\x.dll.update-part". The update list refuses names with this ending.
std::string DownloadPart(const std::string& name);

// A byte count as the byte line shows it: "999 字节", "1.5 KB", "0.97 MB".
std::string FormatByteCount(int32_t n, char decimalSeparator = '.');

// Exact, case-sensitive comparison of the first argument with "UPDATE".
bool IsUpdateArgument(const std::vector<std::string>& args);

// What a release description "update.ini" lists: the files, by the "Count" rule
// of [FileList], what each must be (its Size<n> and Hash<n>), and [Version]
// NewVersion. Raises base::Error for a file name that would leave the
// installation directory and for a malformed Size<n> or Hash<n>.
struct UpdateList {
  std::vector<std::string> files;
  std::vector<release::Expected> expected;  // by file, in the same order
  std::string newVersion;
  std::string expires;  // [Release] Expires as written; empty when missing
  // Whether the text has a [FileList] or a [Version] section at all: an error
  // page or other text the server sent instead of the list has neither.
  bool describesRelease = false;
};
UpdateList ReadUpdateList(const std::string& bytes);

// Whether the installed client's version text counts as not read: the text
// of a file without version information (65535.65535.65535.65535), or any
// text with 65535 in it.
bool VersionUnknown(const std::string& version);

// What a signed list must hold besides its signature, raised as base::Error
// with the reason: not expired at `now` (seconds since 1970, UTC), a version
// not older than the installed one (an unreadable one, 65535..., is not
// compared), and a size and a hash for every file.
void CheckSignedList(const UpdateList& list, const std::string& installedVersion, int64_t now);

// Checks the signature file's text over the exact bytes of "update.ini" with
// the public key the build pinned (PinnedKey; minisign's base64
// line) and raises base::Error with the reason when it does not hold:
// "update.ini is not signed" (an empty text: no signature file), "... is
// signed with another key" or "Invalid signature on update.ini".
void CheckListSignature(const std::string& list, const std::string& signature,
                        std::string_view pinnedKey);

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

  // File transfer and the current transfer's progress display.
  std::string GetText(const std::string& url);
  bool DownloadUpdateFile(const std::string& name, const release::Expected& expected = {});
  // Downloads into DownloadPart(target); the target itself is replaced only
  // by ReplaceFiles. Reports its own failure (box, temporary files removed,
  // finish routine) and returns false. A body that is not what `expected`
  // says is such a failure.
  bool DownloadToFile(const std::string& url, const std::string& target,
                      const release::Expected& expected = {});
  // What the release lists for the i-th name of UpdateFiles (nothing when it
  // lists no size or hash for it).
  release::Expected ExpectedFile(size_t i) const;
  void IdHTTP1WorkBegin(int64_t count);
  void IdHTTP1Work(int64_t count);
  void SetTransferMax(int32_t n);
  void SetTransferPosition(int32_t n);
  void ShowTransferText();

  // The update list and the new version text from the server's "update.ini".
  void FetchUpdateList();
  // The public key the releases must be signed with (minisign's base64
  // line); empty for a build that takes releases unsigned.
  std::string PinnedKey;

  // Copies of the installed listed files in the backup directory; the files
  // stay installed.
  void BackupOldFiles();
  // Puts back the installed files that ReplaceFiles has replaced: the backup
  // copy where there was one, none where the file was not installed.
  void RestoreOldFiles();
  // Once every listed file has arrived: replaces each target by its download,
  // one rename each, after checking that nothing holds any target open.
  // Reports its own failure (box, replaced files restored, finish routine)
  // and returns false.
  bool ReplaceFiles();
  // Deletes the temporary downloads of the listed names, those a run cut off
  // before its end left behind included.
  void RemoveDownloadParts();

  void RunUpdate();
  // The download phase: the message line, the number of files, each file in
  // turn; false when a transfer failed (which ended the run itself).
  bool DownloadFiles();
  // The ending of a failed download phase: the box with the failure's text
  // (none when the failure has no words for the user), the installation put
  // back, the finish routine.
  void FailDownloadPhase(const std::optional<std::string>& message);
  void RemoveSelfAndQuit();

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

  // The signature file beside update.ini; empty when the server has none.
  std::string FetchSignature();
  // One GET with the transfer display around it.
  void Fetch(const std::string& url, http::BodySink& sink);
  void ResetTransfer();

  // Size<n> and Hash<n> of the names in UpdateFiles, in the same order.
  std::vector<release::Expected> ExpectedFiles;

  // Whether the backup holds a copy of each listed file, by file; and the
  // listed files ReplaceFiles has replaced, in order.
  enum class Backup { NotInstalled, Copied };
  std::map<std::string, Backup> BackupState;
  std::vector<std::string> Replaced;
  // "Cannot replace "<full path>". <system text>" for a listed name.
  [[noreturn]] void RaiseCannotReplace(const std::string& name, uint32_t error);
  // One key for every name that names the same file (case, "/" or "\\").
  std::string SameFileKey(const std::string& name) const;

  platform::Platform& platform_;
  ui::Window& window_;
  std::vector<std::string> args_;
  TransferDisplay Display{platform_, window_, TransferMax, TransferPos};
  HttpProgress progress_{*this};

 public:
  http::Client IdHTTP1;
};

}  // namespace UMain
