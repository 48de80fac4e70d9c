#include "umain/update_run.h"

#include "base/error.h"
#include "umain/file_reader.h"

namespace UMain {

namespace {

// Puts the values in place of the format's "%S" markers, in order; the
// values themselves are never scanned for markers.
std::string Format(const std::string& format, std::initializer_list<std::string> values) {
  std::string out;
  size_t from = 0;
  for (const std::string& value : values) {
    size_t at = format.find("%S", from);
    out.append(format, from, at - from).append(value);
    from = at + 2;
  }
  return out.append(format, from);
}

}  // namespace

bool IsUpdateArgument(const std::vector<std::string>& args) {
  return !args.empty() && args.front() == "UPDATE";
}

UpdateRun::UpdateRun(platform::Platform& platform, ui::Window& window,
                     std::vector<std::string> args, std::unique_ptr<http::Transport> transport,
                     Settings settings)
    : platform_(platform),
      window_(window),
      args_(std::move(args)),
      settings_(std::move(settings)),
      downloader_(platform, window, std::move(transport)) {}

void UpdateRun::ShowStatus(const std::string& text) {
  ShowStatusLine(window_, text);
}

// A box blocks the run until it is answered: everything set before it is on
// the screen first.
void UpdateRun::ShowBox(const std::string& text, ui::Icon icon) {
  downloader_.Display.showPending();
  window_.repaintNow();
  window_.messageBox(text, ui::kBoxCaption, icon);
}

void UpdateRun::RunUpdate() {
  // A process started with the rights writes in the installation directory
  // alone: one started anywhere else (by whatever process asked for the
  // rights) writes nothing, and the client starts as it is.
  if (relaunched_ && !WorksInTheInstallation()) {
    ShowBox("The update with administrator rights runs in the installation directory only (" +
                platform_.fullPath(settings_.updatePath.empty() ? "." : settings_.updatePath) + ")",
            ui::Icon::Error);
    StartClient();
    RemoveSelfAndQuit();
    return;
  }
  ShowStatus("正在获取升级配置文件,请稍候...");
  try {
    FetchUpdateList();
  } catch (const std::exception& e) {
    // Shipped text, kept byte for byte (梢候 included).
    ShowBox("获取升级配置文件失败，请梢候重试\r\r" + ErrorMessage(e), ui::Icon::Error);
    StartClient();
    RemoveSelfAndQuit();
    return;
  }
  const std::vector<FilePlan> plans = PlanFiles();
  if (NeedsElevation()) {
    RunElevated();
    return;
  }

  window_.setProgressMax(ui::ControlId::PB_All, static_cast<int32_t>(listedFiles_.size()));
  ShowStatus("正在备份旧版本文件,请稍候...");
  try {
    // A file that cannot be backed up (locked by another program, say) stops
    // the run before any download; the user is told why, as for a failed
    // transfer, and the installation stays as it was.
    try {
      BackupOldFiles();
    } catch (const std::exception& e) {
      throw TransferFailure(ErrorMessage(e));
    }
    DownloadFiles(plans);
  } catch (const TransferFailure& failure) {
    try {
      FailDownloadPhase(&failure.message());
    } catch (const std::exception&) {
      // The finish routine failed (its script could not be written): the
      // installation is put back once more and the routine tried again.
      FailDownloadPhase(nullptr);
    }
    return;
  } catch (const std::exception&) {
    FailDownloadPhase(nullptr);
    return;
  }
  // Every file is in place: from here on nothing is rolled back, since the
  // client is running on the new files. A list signed before this one will
  // not be taken again.
  if (listSignedAt_) Install.RememberSignedAt(*listSignedAt_);
  ShowBox("恭喜，你现在已经成功升级到新版本 " + NewVersion + " 了！", ui::Icon::Information);
  StartClient();
  RemoveSelfAndQuit();
}

std::vector<FilePlan> UpdateRun::PlanFiles() {
  std::vector<FilePlan> plans;
  replacing_.clear();
  for (const release::ListedFile& file : listedFiles_) {
    OnDisk disk;
    disk.stagedSize = platform_.fileSize(Install.pathOf(file.name, Place::Staged));
    disk.installedSize = platform_.fileSize(Install.pathOf(file.name));
    if (WantsInstalledHash(file, disk.installedSize))
      disk.installedHash = HashFile(platform_, Install.pathOf(file.name), *disk.installedSize);
    plans.push_back(PlanFile(file, disk));
    if (plans.back().discardStaged) Install.DiscardStaged({file.name});
    if (plans.back().fetch != Fetch::Current) replacing_.push_back(file.name);
  }
  return plans;
}

void UpdateRun::DownloadFiles(const std::vector<FilePlan>& plans) {
  // Shipped texts, kept byte for byte ("本升级" included).
  window_.setText(ui::ControlId::PLMsg,
                  VersionUnknown(OldVersion)
                      ? Format("从旧版本升级到新版本( %S )", {NewVersion})
                      : Format("从旧版本( %S )本升级到新版本( %S )", {OldVersion, NewVersion}));
  window_.setText(ui::ControlId::Label3,
                  "共需下载 " + std::to_string(listedFiles_.size()) + " 个文件");
  for (size_t i = 0; i < listedFiles_.size(); ++i) {
    downloader_.StartFile(i + 1);
    ShowStatus("正在下载第 " + std::to_string(i + 1) + " 个文件:" + listedFiles_[i].name);
    switch (plans[i].fetch) {
      case Fetch::Current: {
        // Nothing to fetch: the bar and the byte line show the file complete.
        downloader_.ShowComplete(static_cast<int64_t>(*listedFiles_[i].expected.size));
        break;
      }
      case Fetch::Whole:
        Download(listedFiles_[i]);
        break;
      case Fetch::Resume:
        Download(listedFiles_[i], plans[i].resumeFrom);
        break;
      case Fetch::Patch:
      case Fetch::Copy:
        if (FetchCheaper(listedFiles_[i], plans[i])) break;
        downloader_.StartFile(i + 1);
        Download(listedFiles_[i]);
        break;
    }
    const release::Expected& expected = listedFiles_[i].expected;
    if (plans[i].fetch != Fetch::Current && expected.any())
      Install.Checked(listedFiles_[i].name, expected);
    window_.stepProgress(ui::ControlId::PB_All);
  }
  try {
    Install.Commit(replacing_);
  } catch (const std::exception& e) {
    throw TransferFailure(ErrorMessage(e));
  }
  window_.setProgressPos(ui::ControlId::PB_Curr, window_.progressMax(ui::ControlId::PB_Curr));
  window_.setText(ui::ControlId::Label4, "");
  ShowStatus("升级完成！");
}

void UpdateRun::FailDownloadPhase(const std::string* message) {
  if (message) ShowBox(kTransferFailed + *message, ui::Icon::Error);
  RestoreOldFiles();
  Install.DiscardStaged(ListedNames());
  RemoveSelfAndQuit();
}

void UpdateRun::Download(const release::ListedFile& file, uint64_t kept) {
  downloader_.Download(settings_.baseURL + file.name, file.name,
                       Install.pathOf(file.name, Place::Staged), file.expected, kept);
}

void UpdateRun::BackupOldFiles() {
  Install.BackUp(replacing_);
}

void UpdateRun::RestoreOldFiles() {
  Install.RollBack();
}

}  // namespace UMain
