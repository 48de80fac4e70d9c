// The window's side of a transfer: the byte line, the current bar, and what a
// failed download tells the user, against the scripted loopback server.
#include <gtest/gtest.h>

#include <algorithm>

#include "doubles.h"
#include "script_server.h"
#include "umain/integrity.h"
#include "umain/update_run.h"

using namespace testing_doubles;
using testing_server::ScriptServer;
using ui::ControlId;
namespace fs = std::filesystem;

namespace {

TEST(FormatByteCount, ExamplesAndThresholds) {
  using UMain::FormatByteCount;
  EXPECT_EQ(FormatByteCount(0), "0 字节");
  EXPECT_EQ(FormatByteCount(999), "999 字节");
  EXPECT_EQ(FormatByteCount(-5), "-5 字节");
  EXPECT_EQ(FormatByteCount(1000), "0.97 KB");
  EXPECT_EQ(FormatByteCount(1023), "0.99 KB");
  EXPECT_EQ(FormatByteCount(1024), "1 KB");
  EXPECT_EQ(FormatByteCount(1536), "1.5 KB");
  EXPECT_EQ(FormatByteCount(1034), "1 KB");  // 1.0097...: truncated, trailing zeros dropped
  EXPECT_EQ(FormatByteCount(1024 * 1000 - 1), "999.99 KB");
  EXPECT_EQ(FormatByteCount(1024 * 1000), "0.97 MB");
  EXPECT_EQ(FormatByteCount(1048575), "0.99 MB");
  EXPECT_EQ(FormatByteCount(1048576), "1 MB");
  EXPECT_EQ(FormatByteCount(5 * 1048576), "5 MB");
  EXPECT_EQ(FormatByteCount(2147483647), "2047.99 MB");
  EXPECT_EQ(FormatByteCount(1536, ','), "1,5 KB");
}

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir.path() / "app" / "UpdateBak"); }

  // The body of the URL into the staged download of target.
  void Download(const std::string& url, const std::string& target,
                const release::Expected& expected = {}) {
    run.downloader().Download(url, target, run.installation().pathOf(target, UMain::Place::Staged),
                              expected);
  }
  // The listed file as the run downloads it; a failure ends the download
  // phase as in a run.
  bool DownloadUpdateFile(const std::string& name, const release::Expected& expected = {}) {
    try {
      Download(server.url("/rel/") + name, name, expected);
      return true;
    } catch (const UMain::TransferFailure& failure) {
      run.FailDownloadPhase(&failure.message());
      return false;
    }
  }

  // What a download wrote: the temporary file beside its target, which it
  // leaves alone.
  std::string Downloaded(const std::string& name) {
    EXPECT_FALSE(fs::exists(dir.path() / name)) << name;
    return readAll(dir.path() / (name + ".update-part"));
  }

  TempWorkDir dir;
  ScriptServer server;
  FakePlatform platform;
  RecordingWindow window;
  UMain::UpdateRun run{
      platform,
      window,
      {"UPDATE"},
      nullptr,
      {server.url("/rel/"), dir.windowsForm() + "app\\", dir.windowsForm() + "app\\UpdateBak\\"}};
  UMain::Downloader& downloader = run.downloader();
};

TEST_F(TransferTest, ResetShowsZeroBytesOfZero) {
  downloader.SetTransferPosition(0);
  downloader.SetTransferMax(0);
  EXPECT_EQ(window.texts[ControlId::Label4], "已下载:0 字节  共 0 字节");
  EXPECT_EQ(window.maxima[ControlId::PB_Curr], 0);
  EXPECT_EQ(window.pumps, 2);
}

TEST_F(TransferTest, DownloadFollowsTheBodyOnTheBarAndTheByteLine) {
  const std::string body(1536, 'x');
  server.accept().readRequest().send("HTTP/1.1 200 OK\r\nContent-Length: 1536\r\n\r\n" + body);
  server.start();
  EXPECT_TRUE(DownloadUpdateFile("a.bin"));
  EXPECT_EQ(Downloaded("a.bin"), body);
  EXPECT_EQ(window.texts[ControlId::Label4], "已下载:1.5 KB  共 1.5 KB");
  EXPECT_EQ(window.maxima[ControlId::PB_Curr], 1536);
  EXPECT_EQ(window.positions[ControlId::PB_Curr], 1536);
  EXPECT_EQ(window.endRequests, 0);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].substr(0, 24), "GET /rel/a.bin HTTP/1.1\r");
}

TEST_F(TransferTest, NotFoundTellsTheUserLeavesNoFileAndFinishes) {
  writeAll(dir.path() / "app" / "a.bin", "old a");
  run.SetListedFiles({{"a.bin", {}, {}, {}}});
  run.BackupOldFiles();
  server.accept().readRequest().send(
      "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here!");
  server.start();
  EXPECT_FALSE(DownloadUpdateFile("a.bin"));
  EXPECT_EQ(window.eventsStartingWith("box"),
            std::vector<std::string>{
                "box 16 系统提示|升级过程中出现了错误了,错误信息如下：\r\rHTTP/1.1 404 Not Found"});
  EXPECT_FALSE(fs::exists(dir.path() / "a.bin"));
  EXPECT_FALSE(fs::exists(dir.path() / "a.bin.update-part"));
  EXPECT_EQ(readAll(dir.path() / "app" / "a.bin"), "old a");
  EXPECT_EQ(platform.startedHidden, std::vector<std::string>{".\\delme.bat"});
  EXPECT_EQ(window.endRequests, 1);
  EXPECT_EQ(window.events.back(), "end");
}

TEST_F(TransferTest, TargetThatCannotBeCreatedIsReportedWithoutARequest) {
  server.start();
  EXPECT_FALSE(DownloadUpdateFile("nodir\\a.bin"));
  auto boxes = window.eventsStartingWith("box");
  ASSERT_EQ(boxes.size(), 1u);
  const std::string expected =
      "box 16 系统提示|升级过程中出现了错误了,错误信息如下：\r\rCannot create file \"" +
      platform.fullPath("nodir\\a.bin") + "\". " +
      base::trimSystemText(platform.systemErrorText(3));
  EXPECT_EQ(boxes[0], expected);
  EXPECT_TRUE(server.requests().empty());
  EXPECT_EQ(window.endRequests, 1);
}

// SHA-256 of "abc" (FIPS 180-2, appendix B.1).
const char kAbcHash[] = "sha256:ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// Each body against a listing of "abc" (3 bytes): what the file holds after
// the transfer and the message after the failed transfer's fixed text.
TEST_F(TransferTest, BodiesThatAreNotWhatTheReleaseListsFailTheTransfer) {
  const std::string head = "HTTP/1.1 200 OK\r\n";
  struct Case {
    std::string response;
    bool withHash;
    std::string file;
    std::string message;  // empty: the transfer succeeds
  };
  const std::string larger = UMain::LargerThanListed("sub\\a.dll", 3);
  EXPECT_EQ(larger, "\"sub\\a.dll\" is larger than the release lists (3 bytes)");
  const std::vector<Case> cases{
      {head + "Content-Length: 3\r\n\r\nabc", true, "abc", ""},
      {head + "Content-Length: 3\r\n\r\nabc", false, "abc", ""},
      {head + "Content-Length: 4\r\n\r\nabcd", true, "", larger},
      {head + "Connection: close\r\n\r\nabcdef", false, "abc", larger},
      {head + "Transfer-Encoding: chunked\r\n\r\n2\r\nab\r\n2\r\ncd\r\n0\r\n\r\n", true, "abc",
       larger},
      {head + "Content-Length: 2\r\n\r\nab", true, "ab",
       "\"sub\\a.dll\" is shorter than the release lists (2 of 3 bytes)"},
      {head + "Content-Length: 3\r\n\r\nabd", true, "abd",
       "\"sub\\a.dll\" does not match the release (SHA-256)"},
      {head + "Content-Length: 3\r\n\r\nabd", false, "abd", ""},  // only its size listed
  };
  fs::create_directory(dir.path() / "sub");
  for (const Case& c : cases) {
    ScriptServer server;
    server.accept().readRequest().send(c.response).close();
    server.start();
    window.events.clear();
    release::Expected expected{3, c.withHash ? release::parseHash(kAbcHash) : std::nullopt};
    std::string message;
    try {
      Download(server.url("/rel/sub/a.dll"), "sub\\a.dll", expected);
    } catch (const UMain::TransferFailure& failure) {
      message = failure.message();
    }
    EXPECT_EQ(message, c.message) << c.response;
    EXPECT_EQ(Downloaded("sub/a.dll"), c.file) << c.response;
  }
}

// A listed file whose transfer breaks in the body is taken up where it
// stopped, on a new connection with a Range request; what the server answers
// to it decides whether the bytes are appended or the file is fetched again.
TEST_F(TransferTest, BrokenTransferOfAListedFileResumes) {
  std::string body(100000, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 % 251);
  std::string changed = body;
  changed[10] ^= 1;
  release::Sha256 sha;
  sha.update(body.data(), body.size());
  const release::Expected listed{body.size(), sha.finish()};
  const std::string whole = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
  auto part = [&](size_t from, size_t to) {
    return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) +
           "-99999/100000\r\nContent-Length: " + std::to_string(100000 - from) + "\r\n\r\n" +
           body.substr(from, to - from);
  };
  const std::string closed = "Connection Closed Gracefully.";
  struct Answer {
    std::string bytes;
    int silenceMs = 0;  // before the server closes
  };
  struct Case {
    std::string what;
    std::vector<Answer> answers;
    std::vector<std::string> ranges;  // asked for, by request ("" for none)
    std::string failure = {};         // empty: the file arrives whole
    bool listed = true;
  };
  const std::vector<Case> cases{
      {"closed halfway", {{whole + body.substr(0, 50000)}, {part(50000, 100000)}}, {"", "50000-"}},
      {"silent halfway",
       {{whole + body.substr(0, 50000), 1100}, {part(50000, 100000)}},
       {"", "50000-"}},
      {"range ignored", {{whole + body.substr(0, 50000)}, {whole + body}}, {"", "50000-"}},
      {"206 from elsewhere",
       {{whole + body.substr(0, 50000)}, {part(40000, 100000)}, {whole + body}},
       {"", "50000-", ""}},
      {"416",
       {{whole + body.substr(0, 50000)},
        {"HTTP/1.1 416 Range Not Satisfiable\r\nConnection: close\r\nContent-Length: 0\r\n\r\n"},
        {whole + body}},
       {"", "50000-", ""}},
      {"changed between break and resume",
       {{whole + changed.substr(0, 50000)}, {part(50000, 100000)}, {whole + body}},
       {"", "50000-", ""}},
      {"four breaks",
       {{whole + body.substr(0, 10000)},
        {part(10000, 20000)},
        {part(20000, 30000)},
        {part(30000, 40000)}},
       {"", "10000-", "20000-", "30000-"},
       closed},
      {"not listed: no resume", {{whole + body.substr(0, 50000)}}, {""}, closed, false},
  };
  for (const Case& c : cases) {
    ScriptServer server;
    for (const Answer& answer : c.answers) {
      server.accept().readRequest().send(answer.bytes);
      if (answer.silenceMs) server.pause(answer.silenceMs);
      server.close();
    }
    server.start();
    downloader.IdHTTP1.setReadLimit(1000);
    window.events.clear();
    std::string failure;
    try {
      Download(server.url("/a.bin"), "a.bin", c.listed ? listed : release::Expected{});
    } catch (const UMain::TransferFailure& e) {
      failure = e.message();
    }
    EXPECT_EQ(failure, c.failure) << c.what;
    if (c.failure.empty()) {
      EXPECT_TRUE(Downloaded("a.bin") == body) << c.what;
    }
    std::vector<std::string> ranges;
    for (const std::string& request : server.requests()) {
      const size_t at = request.find("\r\nRange: bytes=");
      const size_t from = at + 15;  // after "\r\nRange: bytes="
      ranges.push_back(
          at == std::string::npos ? "" : request.substr(from, request.find('\r', from) - from));
    }
    EXPECT_EQ(ranges, c.ranges) << c.what;
    const size_t breaks = std::count_if(c.ranges.begin(), c.ranges.end(),
                                        [](const std::string& r) { return !r.empty(); });
    EXPECT_EQ(window.eventsStartingWith("text LBL_Updating=正在续传").size(), breaks) << c.what;
  }
}

// An endless body stops at the listed size: the connection is closed at once,
// and the file holds exactly the listed bytes.
TEST_F(TransferTest, EndlessBodyStopsAtTheListedSize) {
  server.accept().readRequest().send("HTTP/1.1 200 OK\r\n\r\n" + std::string(300000, 'e'));
  server.pause(30000);
  server.start();
  release::Expected expected{100000, std::nullopt};
  EXPECT_FALSE(DownloadUpdateFile("e.bin", expected));
  EXPECT_EQ(Downloaded("e.bin"), std::string(100000, 'e'));
  EXPECT_FALSE(server.scriptFinished());  // the client did not wait for the server's end
}

TEST_F(TransferTest, BodyBeyondTheSignedRangeIsClampedOnTheBar) {
  downloader.IdHTTP1WorkBegin(int64_t{5} << 30);
  downloader.IdHTTP1Work(int64_t{3} << 30);
  EXPECT_EQ(downloader.TransferMax, 2147483647);
  EXPECT_EQ(downloader.TransferPos, 2147483647);
  EXPECT_EQ(window.texts[ControlId::Label4], "已下载:2047.99 MB  共 2047.99 MB");
}

// A large body within one frame: the window is pumped once, not once per
// piece, and painted with that frame and once more with the exact figures
// the GET ends on.
TEST_F(TransferTest, PiecesWithinOneFrameArePaintedOnceAndTheGetEndsOnExactFigures) {
  platform.clock = 1000000;
  platform.clockStep = 0;
  const std::string body(200000, 'y');
  server.accept().readRequest().send("HTTP/1.1 200 OK\r\nContent-Length: 200000\r\n\r\n" + body);
  server.start();
  EXPECT_TRUE(DownloadUpdateFile("b.bin"));
  EXPECT_EQ(Downloaded("b.bin"), body);
  EXPECT_EQ(window.pumps, 1);
  EXPECT_EQ(window.repaints, 2);
  EXPECT_EQ(window.painted.back(), "Label4=已下载:195.31 KB  共 195.31 KB");
  EXPECT_EQ(window.maxima[ControlId::PB_Curr], 200000);
  EXPECT_EQ(window.positions[ControlId::PB_Curr], 200000);
}

// With a frame's time between pieces, every piece reaches the bar in order.
TEST_F(TransferTest, PiecesAFrameApartEachReachTheBar) {
  const std::string body(100000, 'z');
  server.accept().readRequest().send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body);
  server.start();
  EXPECT_TRUE(DownloadUpdateFile("c.bin"));
  std::vector<int> shown;
  for (const std::string& event : window.events)
    if (event.rfind("pos PB_Curr=", 0) == 0) shown.push_back(std::stoi(event.substr(12)));
  ASSERT_GE(shown.size(), 4u);  // at least one per 32 KiB piece
  EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
  EXPECT_EQ(shown.back(), 100000);
  EXPECT_GE(window.pumps, 4);
}

// A server that pauses in the middle of a body: while the client waits, the
// window is pumped and shows the figures the frame's last events left unshown.
TEST_F(TransferTest, WaitingForTheServerShowsPendingFiguresAndPumps) {
  platform.clock = 1000000;
  platform.clockStep = 0;
  server.accept()
      .readRequest()
      .send("HTTP/1.1 200 OK\r\nContent-Length: 70000\r\n\r\n" + std::string(40000, 'w'))
      .pause(350)
      .send(std::string(30000, 'w'));
  server.start();
  EXPECT_TRUE(DownloadUpdateFile("d.bin"));
  EXPECT_GE(window.pumps, 3);  // the first event, then at least two waits
  // Shown while waiting: a position between the body's start and its end.
  std::vector<int> shown;
  for (const std::string& event : window.events)
    if (event.rfind("pos PB_Curr=", 0) == 0) shown.push_back(std::stoi(event.substr(12)));
  EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [](int p) { return p > 0 && p < 70000; }))
      << ::testing::PrintToString(shown);
  EXPECT_EQ(window.positions[ControlId::PB_Curr], 70000);
}

// A new body or chunk only lowers the bar's position to its own size, as the
// control would; the pending figures are shown as the control would hold them.
TEST_F(TransferTest, PendingPositionIsKeptWithinTheNewMaximum) {
  platform.clock = 1000000;
  platform.clockStep = 0;
  downloader.IdHTTP1WorkBegin(1000);  // shown: the first event of the frame
  downloader.IdHTTP1Work(800);
  downloader.IdHTTP1WorkBegin(500);
  platform.clockStep = 1000;
  downloader.IdHTTP1WorkBegin(600);
  EXPECT_EQ(window.maxima[ControlId::PB_Curr], 600);
  EXPECT_EQ(window.positions[ControlId::PB_Curr], 500);
  EXPECT_EQ(window.texts[ControlId::Label4], "已下载:800 字节  共 600 字节");
}

}  // namespace
