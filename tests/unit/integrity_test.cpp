// Size<n> and Hash<n>: how the list reads them and how a download is checked
// against them, with the message the user reads for each failure.
#include <gtest/gtest.h>

#include "doubles.h"
#include "platform/error.h"
#include "script_server.h"
#include "umain/integrity.h"
#include "umain/umain.h"

using namespace testing_doubles;
using testing_server::ScriptServer;
namespace fs = std::filesystem;

namespace {

// SHA-256 of "abc" (FIPS 180-2, appendix B.1).
const char kAbcHash[] = "sha256:ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string List(const std::string& keys) {
  return "[Version]\nNewVersion=2\n[FileList]\nCount=2\nFile1=a.dll\nFile2=b.dll\n" + keys;
}

TEST(ReleaseKeys, AreReadBesideTheirNamesAndRefusedWhenMalformed) {
  const auto list = UMain::ReadUpdateList(List(
      "Size1=3\nHash1=SHA256:BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD\n"
      "Size2=\nSize3=junk\nHash9=junk\n"));
  ASSERT_EQ(list.expected.size(), 2u);
  EXPECT_EQ(list.expected[0].size, 3u);
  ASSERT_TRUE(list.expected[0].sha256);
  EXPECT_EQ(release::hashText(*list.expected[0].sha256), kAbcHash);
  EXPECT_FALSE(list.expected[1].any());  // an empty value, and keys of no listed name

  const std::string hash(kAbcHash);
  for (const auto& [keys, message] : std::vector<std::pair<std::string, std::string>>{
           {"Size2=-1", "Invalid Size2 in update.ini"},
           {"Size1=1 2", "Invalid Size1 in update.ini"},
           {"Size1=0x10", "Invalid Size1 in update.ini"},
           {"Size1=9223372036854775808", "Invalid Size1 in update.ini"},
           {"Hash2=" + hash.substr(0, hash.size() - 1), "Invalid Hash2 in update.ini"},
           {"Hash2=" + hash + "0", "Invalid Hash2 in update.ini"},
           {"Hash1=md5:" + hash.substr(7), "Invalid Hash1 in update.ini"},
           {"Hash1=" + hash.substr(0, 20) + "g" + hash.substr(21), "Invalid Hash1 in update.ini"},
       }) {
    try {
      UMain::ReadUpdateList(List(keys));
      ADD_FAILURE() << keys;
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.message(), message) << keys;
    }
  }
  EXPECT_EQ(release::parseSize("9223372036854775807"), uint64_t{9223372036854775807u});
}

TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
  const std::string text(100000, 'q');
  release::Sha256 whole, pieces;
  whole.update(text.data(), text.size());
  for (size_t at = 0; at < text.size(); at += 777)
    pieces.update(text.data() + at, std::min<size_t>(777, text.size() - at));
  EXPECT_EQ(whole.finish(), pieces.finish());
  release::Sha256 abc;
  abc.update("abc", 3);
  EXPECT_EQ(release::hashText(abc.finish()), kAbcHash);
}

class IntegrityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UMain::ResetUnitState();
    fs::create_directories(dir.path() / "app" / "UpdateBak");
    UMain::UpdatePath = dir.windowsForm() + "app\\";
    UMain::BackupPath = UMain::UpdatePath + "UpdateBak\\";
    UMain::BaseURL = server.url("/rel/");
  }
  void TearDown() override { UMain::ResetUnitState(); }

  TempWorkDir dir;
  ScriptServer server;
  FakePlatform platform;
  RecordingWindow window;
  UMain::TTFrmUpdate form{platform, window, {"UPDATE"}};
};

// Each body against a listing of "abc" (3 bytes): what the file holds after
// the transfer and the message after the failed transfer's fixed text.
TEST_F(IntegrityTest, BodiesThatAreNotWhatTheReleaseListsFailTheTransfer) {
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
    const bool done = form.DownloadToFile(server.url("/rel/sub/a.dll"), "sub\\a.dll", expected);
    EXPECT_EQ(done, c.message.empty()) << c.response;
    EXPECT_EQ(readAll(dir.path() / "sub" / "a.dll"), c.file) << c.response;
    std::vector<std::string> boxes;
    if (!done) boxes.push_back("box 16 系统提示|" + UMain::kTransferFailed + c.message);
    EXPECT_EQ(window.eventsStartingWith("box"), boxes) << c.response;
  }
}

// An endless body stops at the listed size: the connection is closed at once,
// and the file holds exactly the listed bytes.
TEST_F(IntegrityTest, EndlessBodyStopsAtTheListedSize) {
  server.accept().readRequest().send("HTTP/1.1 200 OK\r\n\r\n" + std::string(300000, 'e'));
  server.pause(30000);
  server.start();
  release::Expected expected{100000, std::nullopt};
  EXPECT_FALSE(form.DownloadUpdateFile("e.bin", expected));
  EXPECT_EQ(readAll(dir.path() / "e.bin"), std::string(100000, 'e'));
  EXPECT_FALSE(server.scriptFinished());  // the client did not wait for the server's end
}

}  // namespace
