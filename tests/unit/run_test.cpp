// The update list and the whole run, with the recording window, real files in
// a scratch installation (which is also the working directory, as when the
// client starts the updater) and the scripted loopback server.
#include <gtest/gtest.h>

#include <boost/asio/error.hpp>
#include <cstring>
#include <new>
#include <set>

#include "doubles.h"
#include "http/transport.h"
#include "script_server.h"
#include "umain/form.h"

using namespace testing_doubles;
using testing_server::ScriptServer;
using ui::ControlId;
using Texts = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

std::string Response(const std::string& body, const std::string& status = "200 OK") {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         body;
}

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(dir.path() / "UpdateBak");
    run.OldVersion = "6.2.0.1";
  }

  // The scratch installation, its release at url.
  UMain::Settings At(const std::string& url) const {
    return {url, dir.windowsForm(), dir.windowsForm() + "UpdateBak\\"};
  }

  // Serves update.ini and then the given responses on one connection.
  void Serve(const std::string& ini, const std::vector<std::string>& files) {
    server.accept().readRequest().send(Response(ini));
    for (const auto& file : files) server.readRequest().send(file);
    server.start();
  }

  // Every file of the installation (backup excluded) with its bytes.
  std::map<std::string, std::string> Installed() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
      auto rel = fs::relative(entry.path(), dir.path()).generic_string();
      if (entry.is_regular_file() && rel.rfind("UpdateBak", 0) != 0)
        files[rel] = readAll(entry.path());
    }
    return files;
  }

  Texts Statuses() const {
    Texts out;
    for (const auto& e : window.eventsStartingWith("text LBL_Updating="))
      out.push_back(e.substr(18));
    return out;
  }

  TempWorkDir dir;
  ScriptServer server;
  FakePlatform platform;
  RecordingWindow window;
  UMain::TTFrmUpdate form{platform, window, {"UPDATE"}, nullptr, At(server.url("/rel/"))};
  UMain::UpdateRun& run = form.run();
  const std::string app = dir.windowsForm();
};

const char kTwoFiles[] =
    "[Version]\r\nNewVersion=6.3\r\n[FileList]\r\nCount=2\r\nFile1=client.exe\r\nFile2=data."
    "dll\r\n";

TEST_F(RunTest, UpdateListIsReadAndItsLocalCopyRemoved) {
  Serve(
      "[FileList]\nCount=0x3\nFile1=a.dll\nFile3=sub\\c.dll\nFile4=d.dll\n[Version]\n"
      "NewVersion=7 beta",
      {});
  run.FetchUpdateList();
  EXPECT_EQ(run.ListedNames(), (Texts{"a.dll", "sub\\c.dll"}));
  EXPECT_EQ(run.NewVersion, "7 beta");
  EXPECT_FALSE(fs::exists(dir.path() / "update.ini"));
  EXPECT_EQ(server.requests()[0].substr(0, 28), "GET /rel/update.ini HTTP/1.1");
}

// The list is read from the bytes that arrived, not from its short-lived
// copy on disk, which another program may have changed in between.
TEST_F(RunTest, UpdateListIsReadAsReceivedNotAsSaved) {
  Serve("[FileList]\nCount=1\nFile1=a.dll", {});
  platform.changedOnDisk[app + "update.ini"] = "[FileList]\nCount=1\nFile1=evil.dll";
  run.FetchUpdateList();
  EXPECT_EQ(run.ListedNames(), Texts{"a.dll"});
}

TEST_F(RunTest, BodyThatIsNoReleaseDescriptionIsAnError) {
  Serve("<html><body>Moved</body></html>", {});
  run.SetListedFiles({{"stale", {}, {}, {}}});
  try {
    run.FetchUpdateList();
    ADD_FAILURE() << "no error";
  } catch (const base::Error& e) {
    EXPECT_EQ(e.message(), "No [FileList] or [Version] section");
  }
  EXPECT_TRUE(run.ListedNames().empty());
  EXPECT_FALSE(fs::exists(dir.path() / "update.ini"));
}

TEST_F(RunTest, EitherSectionAloneDescribesARelease) {
  for (auto [ini, version] :
       {std::pair{"[version]\nNewVersion=6.3\n", "6.3"}, std::pair{"[FILELIST]\n", ""}}) {
    ScriptServer one;
    one.accept().readRequest().send(Response(ini));
    one.start();
    UMain::UpdateRun run{platform, window, {"UPDATE"}, nullptr, At(one.url("/"))};
    run.FetchUpdateList();
    EXPECT_TRUE(run.ListedNames().empty()) << ini;
    EXPECT_EQ(run.NewVersion, version);
  }
}

TEST_F(RunTest, UnsafeNamesRefuseTheWholeList) {
  for (std::string name : {"..\\evil.dll", "a/../../b", "\\abs.dll", "/abs", "C:x.dll", "a.dll:ads",
                           "a.dll.Update-Part"}) {
    ScriptServer one;
    one.accept().readRequest().send(
        Response("[FileList]\nCount=2\nFile1=ok.dll\nFile2=" + name + "\n"));
    one.start();
    UMain::UpdateRun run{platform, window, {"UPDATE"}, nullptr, At(one.url("/"))};
    try {
      run.FetchUpdateList();
      ADD_FAILURE() << name << " accepted";
    } catch (const base::Error& e) {
      EXPECT_EQ(e.message(), "Unsafe file name \"" + name + "\"");
    }
    EXPECT_TRUE(run.ListedNames().empty()) << name;
    EXPECT_FALSE(fs::exists(dir.path() / "update.ini")) << name;
  }
}

TEST_F(RunTest, LocalCopyThatCannotBeCreatedIsAnError) {
  Serve(kTwoFiles, {});
  platform.unwritable.insert(app + "update.ini");
  try {
    run.FetchUpdateList();
    FAIL() << "no error";
  } catch (const base::Error& e) {
    EXPECT_EQ(e.message().rfind(
                  "Cannot create file \"" + platform.fullPath(app + "update.ini") + "\". ", 0),
              0u)
        << e.message();
  }
}

TEST_F(RunTest, SuccessfulRunReplacesTheFilesAndRestartsTheClient) {
  writeAll(dir.path() / "client.exe", "old client");
  writeAll(dir.path() / "data.dll", "old data");
  Serve(kTwoFiles, {Response("new client"), Response("new data")});
  form.Timer1Timer();
  EXPECT_EQ(Statuses(), (Texts{"正在获取升级配置文件,请稍候...", "正在备份旧版本文件,请稍候...",
                               "正在下载第 1 个文件:client.exe", "正在下载第 2 个文件:data.dll",
                               "升级完成！"}));
  EXPECT_EQ(window.texts[ControlId::PLMsg], "从旧版本( 6.2.0.1 )本升级到新版本( 6.3 )");
  EXPECT_EQ(window.texts[ControlId::Label3], "共需下载 2 个文件");
  EXPECT_EQ(window.texts[ControlId::Label4], "");
  EXPECT_EQ(window.maxima[ControlId::PB_All], 2);
  EXPECT_EQ(window.positions[ControlId::PB_All], 2);
  EXPECT_EQ(window.positions[ControlId::PB_Curr], window.maxima[ControlId::PB_Curr]);
  EXPECT_EQ(window.eventsStartingWith("box"),
            Texts{"box 64 系统提示|恭喜，你现在已经成功升级到新版本 6.3 了！"});
  EXPECT_EQ(window.events.back(), "end");
  EXPECT_EQ(platform.shellOpened, Texts{"client.exe"});
  EXPECT_EQ(platform.startedHidden, Texts{".\\delme.bat"});
  EXPECT_EQ(Installed(), (std::map<std::string, std::string>{{"client.exe", "new client"},
                                                             {"data.dll", "new data"},
                                                             {"delme.bat", readAll("delme.bat")}}));
  EXPECT_EQ(readAll(dir.path() / "UpdateBak" / "client.exe"), "old client");
  EXPECT_EQ(readAll(dir.path() / "UpdateBak" / "data.dll"), "old data");
}

// Small files arrive within one frame of the progress display; still, each
// one's status line and final byte line reach the screen, in order.
TEST_F(RunTest, EveryFilesStatusAndFinalFiguresArePainted) {
  platform.clockStep = 0;  // the whole run within one frame
  const std::string body = Response(std::string(1536, 'n'));
  Serve("[FileList]\r\nCount=3\r\nFile1=a\r\nFile2=b\r\nFile3=c\r\n", {body, body, body});
  run.RunUpdate();
  auto at = window.painted.begin();
  for (const char* expected :
       {"LBL_Updating=正在下载第 1 个文件:a", "Label4=已下载:1.5 KB  共 1.5 KB",
        "LBL_Updating=正在下载第 2 个文件:b", "Label4=已下载:1.5 KB  共 1.5 KB",
        "LBL_Updating=正在下载第 3 个文件:c", "Label4=已下载:1.5 KB  共 1.5 KB",
        "LBL_Updating=升级完成！"}) {
    at = std::find(at, window.painted.end(), expected);
    ASSERT_NE(at, window.painted.end()) << expected << " never painted after what came before";
  }
}

// A connection whose server answers with a body that has neither a length nor
// an end, or whose reading fails with the library's out-of-memory error.
class EndlessTransport : public http::Transport {
 public:
  explicit EndlessTransport(bool outOfMemory) : outOfMemory_(outOfMemory) {}
  void connect(const std::string&, uint16_t, boost::system::error_code& error) override {
    open_ = true;
    error = {};
  }
  bool isOpen() const override { return open_; }
  void write(const char*, size_t, boost::system::error_code& error) override { error = {}; }
  size_t readSome(char* data, size_t size, boost::system::error_code& error) override {
    error = {};
    if (!headSent_) {
      headSent_ = true;
      const char head[] = "HTTP/1.1 200 OK\r\n\r\n";
      const size_t n = std::min(size, sizeof head - 1);
      std::memcpy(data, head, n);
      return n;
    }
    if (outOfMemory_) throw std::bad_alloc();
    std::memset(data, '[', size);
    return size;
  }
  bool waitReadable(int) override { return true; }
  void close() override { open_ = false; }

 private:
  bool outOfMemory_;
  bool open_ = false;
  bool headSent_ = false;
};

TEST_F(RunTest, EndlessOrMemoryExhaustingListIsAListFailure) {
  for (bool outOfMemory : {false, true}) {
    RecordingWindow window;
    FakePlatform platform;
    UMain::UpdateRun run{platform,
                         window,
                         {"UPDATE"},
                         std::make_unique<EndlessTransport>(outOfMemory),
                         At(server.url("/rel/"))};
    run.RunUpdate();
    const std::string message =
        outOfMemory ? std::bad_alloc().what() : "The server's answer is larger than 16 MiB";
    EXPECT_EQ(window.eventsStartingWith("box"),
              Texts{"box 16 系统提示|获取升级配置文件失败，请梢候重试\r\r" + message});
    EXPECT_EQ(platform.shellOpened, Texts{"client.exe"});
    EXPECT_EQ(window.endRequests, 1);
  }
}

// The program's small files on a full disk say so, as downloads do.
TEST_F(RunTest, FullDiskForTheListCopyOrTheRemovalScriptReadsDiskFull) {
  platform.onFullDisk = {app + "update.ini"};
  Serve(kTwoFiles, {});
  run.RunUpdate();
  EXPECT_EQ(window.eventsStartingWith("box"),
            Texts{"box 16 系统提示|获取升级配置文件失败，请梢候重试\r\rDisk full"});

  platform.onFullDisk = {".\\delme.bat"};
  try {
    run.RemoveSelfAndQuit();
    ADD_FAILURE() << "no error raised";
  } catch (const base::Error& e) {
    EXPECT_EQ(e.message(), "Disk full");
  }
}

TEST_F(RunTest, EachFileStartsWithAClearedBar) {
  Serve(kTwoFiles, {Response("new client"), Response("new data")});
  run.RunUpdate();
  auto at = std::find(window.events.begin(), window.events.end(),
                      "text LBL_Updating=正在下载第 2 个文件:data.dll");
  ASSERT_NE(at, window.events.end());
  EXPECT_EQ(*(at - 1), "text Label4=已下载:0 字节  共 0 字节");
  EXPECT_EQ(*(at - 2), "max PB_Curr=0");
}

TEST_F(RunTest, UnknownOldVersionAndEmptyNewVersionAreShownVerbatim) {
  run.OldVersion = "65535.1.2.3";
  Serve("[FileList]\nCount=0\n", {});
  run.RunUpdate();
  EXPECT_EQ(window.texts[ControlId::PLMsg], "从旧版本升级到新版本(  )");
  EXPECT_EQ(window.texts[ControlId::Label3], "共需下载 0 个文件");
  EXPECT_EQ(window.maxima[ControlId::PB_All], 0);
  EXPECT_EQ(window.eventsStartingWith("box"),
            Texts{"box 64 系统提示|恭喜，你现在已经成功升级到新版本  了！"});
  EXPECT_EQ(platform.shellOpened, Texts{"client.exe"});
  EXPECT_EQ(window.endRequests, 1);
}

TEST_F(RunTest, UnreachableServerRestartsTheClientUnchanged) {
  writeAll(dir.path() / "client.exe", "old client");
  UMain::UpdateRun run{platform,
                       window,
                       {"UPDATE"},
                       nullptr,
                       At("http://127.0.0.1:" + std::to_string(ScriptServer::unusedPort()) + "/")};
  const auto before = Installed();
  run.RunUpdate();
  EXPECT_EQ(Statuses(), Texts{"正在获取升级配置文件,请稍候..."});
  EXPECT_EQ(window.eventsStartingWith("box"),
            Texts{"box 16 系统提示|获取升级配置文件失败，请梢候重试\r\r"
                  "Socket Error # 10061\r\nConnection refused."});
  EXPECT_EQ(platform.shellOpened, Texts{"client.exe"});
  EXPECT_EQ(window.endRequests, 1);
  auto after = Installed();
  after.erase("delme.bat");
  EXPECT_EQ(after, before);
}

TEST_F(RunTest, FailingSecondFileRestoresTheInstallationAndDoesNotStartTheClient) {
  writeAll(dir.path() / "a.dll", "old a");
  writeAll(dir.path() / "b.dll", "old b");
  writeAll(dir.path() / "c.dll", "old c");
  const auto before = Installed();
  Serve("[FileList]\nCount=4\nFile1=a.dll\nFile2=b.dll\nFile3=c.dll\nFile4=new.dll\n",
        {Response("new a"), Response("", "404 Not Found")});
  run.RunUpdate();
  EXPECT_EQ(Statuses().back(), "正在下载第 2 个文件:b.dll");
  EXPECT_EQ(
      window.eventsStartingWith("box"),
      Texts{"box 16 系统提示|升级过程中出现了错误了,错误信息如下：\r\rHTTP/1.1 404 Not Found"});
  EXPECT_TRUE(platform.shellOpened.empty());
  EXPECT_EQ(window.endRequests, 1);
  EXPECT_EQ(server.requests().size(), 3u);
  auto after = Installed();
  after.erase("delme.bat");
  EXPECT_EQ(after, before);
}

// Every file has arrived; then a target held open by another program is found
// before anything is replaced, and a replacement refused after others were
// done puts those back. Either way the installation ends as it was.
TEST_F(RunTest, TargetInUseOrRefusedHalfwayLeavesTheInstallationAsItWas) {
  struct Case {
    std::set<std::string> FakePlatform::*refusal;
    uint32_t error;
    Texts replaced;
  };
  for (const Case& c : {Case{&FakePlatform::inUse, base::kErrorSharingViolation, {}},
                        Case{&FakePlatform::unreplaceable,
                             base::kErrorAccessDenied,
                             {"a.dll", "new.dll", app + "a.dll"}}}) {
    writeAll(dir.path() / "a.dll", "old a");
    writeAll(dir.path() / "c.dll", "old c");
    auto before = Installed();
    before.erase("delme.bat");
    FakePlatform platform;
    RecordingWindow window;
    (platform.*c.refusal).insert("c.dll");
    ScriptServer server;
    server.accept().readRequest().send(
        Response("[FileList]\nCount=3\nFile1=a.dll\nFile2=new.dll\nFile3=c.dll\n"));
    for (const char* body : {"new a", "new new", "new c"})
      server.readRequest().send(Response(body));
    server.start();
    UMain::UpdateRun run{platform, window, {"UPDATE"}, nullptr, At(server.url("/"))};
    run.RunUpdate();
    EXPECT_EQ(window.eventsStartingWith("box"),
              Texts{"box 16 系统提示|" + UMain::kTransferFailed + "Cannot replace \"" +
                    platform.fullPath("c.dll") + "\". " +
                    base::trimSystemText(platform.systemErrorText(c.error))});
    EXPECT_EQ(platform.replaced, c.replaced);
    EXPECT_TRUE(platform.shellOpened.empty());
    EXPECT_EQ(window.endRequests, 1);
    auto after = Installed();
    after.erase("delme.bat");
    EXPECT_EQ(after, before);
  }
}

// What a run cut off before its end left of the downloads of listed names is
// the first thing the next run deletes; other files of that form stay.
TEST_F(RunTest, LeftoverDownloadsOfListedNamesGoFirst) {
  writeAll(dir.path() / "data.dll.update-part", "half of a download");
  writeAll(dir.path() / "other.dll.update-part", "not listed");
  Serve(kTwoFiles, {Response("new client"), Response("new data")});
  run.RunUpdate();
  // Only what lies on disk is deleted: data.dll's leftover, not client.exe's.
  const Texts first{app + "update.ini", "data.dll.update-part", "data.dll.update-delta",
                    app + "data.dll.update-part"};
  ASSERT_GE(platform.deleted.size(), first.size());
  EXPECT_EQ(Texts(platform.deleted.begin(), platform.deleted.begin() + first.size()), first);
  EXPECT_EQ(readAll(dir.path() / "data.dll"), "new data");
  auto after = Installed();
  EXPECT_EQ(after.count("data.dll.update-part"), 0u);
  EXPECT_EQ(after["other.dll.update-part"], "not listed");
}

TEST_F(RunTest, InstalledFileThatCannotBeBackedUpStopsTheRunBeforeAnyDownload) {
  writeAll(dir.path() / "a.dll", "old a");
  writeAll(dir.path() / "b.dll", "old b");
  fs::create_directory(dir.path() / "UpdateBak" / "b.dll");
  const auto before = Installed();
  Serve("[FileList]\nCount=2\nFile1=a.dll\nFile2=b.dll\n", {});
  run.RunUpdate();
  EXPECT_EQ(server.requests().size(), 1u);
  const auto boxes = window.eventsStartingWith("box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "box 16 系统提示|升级过程中出现了错误了,错误信息如下：\r\rCannot back up \"" +
                          app + "b.dll\"");
  EXPECT_TRUE(platform.shellOpened.empty());
  EXPECT_EQ(window.endRequests, 1);
  auto after = Installed();
  after.erase("delme.bat");
  EXPECT_EQ(after, before);
}

TEST_F(RunTest, FinishRoutineThatFailsStillEndsTheProgram) {
  Serve(kTwoFiles, {Response("new client"), Response("new data")});
  platform.unwritable.insert(".\\delme.bat");
  ui::runHandler(window, "File", [&] { form.Timer1Timer(); });
  EXPECT_EQ(window.eventsStartingWith("box"),
            (Texts{"box 64 系统提示|恭喜，你现在已经成功升级到新版本 6.3 了！",
                   "box 16 File|File access denied."}));
  EXPECT_EQ(window.endRequests, 1);
  EXPECT_EQ(readAll(dir.path() / "client.exe"), "new client");
}

TEST_F(RunTest, FinishRoutineThatFailsAfterAFailedTransferStillRestoresAndEnds) {
  writeAll(dir.path() / "client.exe", "old client");
  Serve(kTwoFiles, {Response("", "500 Internal Server Error")});
  platform.unwritable.insert(".\\delme.bat");
  ui::runHandler(window, "File", [&] { form.Timer1Timer(); });
  auto boxes = window.eventsStartingWith("box");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1], "box 16 File|File access denied.");
  EXPECT_EQ(window.endRequests, 1);
  EXPECT_EQ(readAll(dir.path() / "client.exe"), "old client");
}

}  // namespace

namespace {

// Administrator rights, asked for only where a directory the run writes
// refuses a process that lacks them.
TEST_F(RunTest, ElevationIsAskedForOnlyWhenNeededAndNeverTwice) {
  fs::create_directory(dir.path() / "sub");
  const std::string backup = app + "UpdateBak";
  const std::string installation = app;
  fs::create_directory(dir.path() / "app");
  // (A link to a folder needs rights of its own on Windows: the case is left
  // out where one cannot be made.)
  std::error_code linkError;
  fs::create_directory_symlink(dir.path(), dir.path() / "link", linkError);
  struct Case {
    bool elevated, relaunched;
    std::set<std::string> denied;
    bool asks;
    std::string updatePath = {};  // empty: the installation
  } cases[] = {
      {false, false, {"elsewhere"}, false},  // writable
      {false, false, {"."}, true},           // the working directory
      {false, false, {"sub"}, true},         // sub\new does not exist yet: sub is written
      {false, false, {backup}, true},        // the backup
      {false, false, {"sub\\new"}, false},   // never probed: it does not exist
      {true, false, {"."}, false},           // has the rights already
      {false, true, {"."}, false},           // started with them: never asks again
      // Started in another directory than the installation, or reaching it
      // through a link: acts as a process without the rights always did.
      {false, false, {"."}, false, installation + "app\\"},
      {false, false, {"."}, false, installation + "link\\"},
  };
  for (const Case& c : cases) {
    if (linkError && c.updatePath.find("link") != std::string::npos) continue;
    UMain::Settings settings = At(server.url("/rel/"));
    if (!c.updatePath.empty()) settings.updatePath = c.updatePath;
    FakePlatform platform;
    RecordingWindow window;
    std::vector<std::string> args{"UPDATE"};
    if (c.relaunched) args.push_back(UMain::UpdateRun::kElevatedArgument);
    UMain::UpdateRun run{platform, window, args, nullptr, settings};
    platform.elevated = c.elevated;
    platform.deniedDirectories = c.denied;
    run.SetListedFiles(
        release::readReleaseList("[FileList]\nCount=2\nFile1=a.dll\nFile2=sub\\new\\b.dll").files);
    EXPECT_EQ(run.NeedsElevation(), c.asks)
        << *c.denied.begin() << c.elevated << c.relaunched << c.updatePath;
    run.SetListedFiles({});
    EXPECT_FALSE(run.NeedsElevation()) << "nothing to write";
  }
}

// The first process hides, waits for the run with the rights, and then starts
// the client (as that run says) and removes itself; refused rights are told.
TEST_F(RunTest, RunWithAdministratorRightsAndItsEndings) {
  struct Case {
    uint32_t failure, exitCode;
    Texts boxes, clients;
  } cases[] = {
      {0, 0, {}, {"client.exe"}},
      {0, UMain::UpdateRun::kExitClientNotStarted, {}, {}},
      {base::kErrorCancelled,
       0,
       {"box 48 系统提示|升级需要管理员权限，但未能获得授权。\r\r客户端将以当前版本启动。"},
       {"client.exe"}},
  };
  for (const Case& c : cases) {
    FakePlatform platform;
    RecordingWindow window;
    platform.elevated = false;
    platform.deniedDirectories = {"."};
    platform.elevationFailure = c.failure;
    platform.elevatedExitCode = c.exitCode;
    writeAll(dir.path() / "client.exe", "old client");
    auto before = Installed();
    before.erase("delme.bat");
    ScriptServer server;
    server.accept().readRequest().send(Response(kTwoFiles));
    server.start();
    UMain::TTFrmUpdate form{platform, window, {"UPDATE"}, nullptr, At(server.url("/rel/"))};
    form.Timer1Timer();
    EXPECT_EQ(platform.elevatedStarts, Texts{"UPDATE /elevated|" + platform.fullPath(".")});
    EXPECT_EQ(window.eventsStartingWith("box"), c.boxes);
    EXPECT_EQ(window.eventsStartingWith("hide").size(), c.failure ? 0u : 1u);
    EXPECT_EQ(platform.shellOpened, c.clients);
    EXPECT_EQ(platform.startedHidden, Texts{".\\delme.bat"});
    EXPECT_EQ(server.requests().size(), 1u);  // the list, nothing else
    auto after = Installed();
    after.erase("delme.bat");
    EXPECT_EQ(after, before);
  }
}

// The run with the rights leaves the client and the executable to the first;
// started anywhere but in the installation directory, it writes nothing.
TEST_F(RunTest, RunStartedWithTheRightsEndsWithWhetherTheClientIsToStart) {
  const std::string installation = app;
  fs::create_directory(dir.path() / "app");
  struct Case {
    std::vector<std::string> files;
    int exitCode;
    Texts boxes;
    std::string updatePath = {};  // empty: the installation
  } cases[] = {
      {{Response("new client"), Response("new data")},
       0,
       {"box 64 系统提示|恭喜，你现在已经成功升级到新版本 6.3 了！"}},
      {{Response("new client"), Response("", "404 Not Found")},
       UMain::UpdateRun::kExitClientNotStarted,
       {"box 16 系统提示|升级过程中出现了错误了,错误信息如下：\r\rHTTP/1.1 404 Not Found"}},
      {{},
       0,
       {"box 16 系统提示|The update with administrator rights runs in the installation "
        "directory only (" +
        FakePlatform().fullPath(installation + "app\\") + ")"},
       installation + "app\\"}};
  for (const Case& c : cases) {
    FakePlatform platform;
    RecordingWindow window;
    platform.elevated = false;
    platform.deniedDirectories = {"."};
    ScriptServer server;
    server.accept().readRequest().send(Response(kTwoFiles));
    for (const auto& file : c.files) server.readRequest().send(file);
    server.start();
    UMain::Settings settings = At(server.url("/rel/"));
    if (!c.updatePath.empty()) settings.updatePath = c.updatePath;
    UMain::TTFrmUpdate form{
        platform, window, {"UPDATE", UMain::UpdateRun::kElevatedArgument}, nullptr, settings};
    form.Timer1Timer();
    EXPECT_TRUE(platform.elevatedStarts.empty());
    EXPECT_TRUE(platform.shellOpened.empty());
    EXPECT_TRUE(platform.startedHidden.empty());
    EXPECT_EQ(form.ExitCode(), c.exitCode);
    EXPECT_EQ(window.eventsStartingWith("box"), c.boxes);
    EXPECT_EQ(window.events.back(), "end");
  }
}

}  // namespace
