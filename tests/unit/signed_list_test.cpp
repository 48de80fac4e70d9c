// A build that pins a release key: the list's signature, fetched beside it,
// and what a signed list must hold besides.
#include <gtest/gtest.h>

#include <fstream>

#include "doubles.h"
#include "release/minisign.h"
#include "script_server.h"
#include "umain/list_signature.h"
#include "umain/update_run.h"

using namespace testing_doubles;
using testing_server::ScriptServer;

namespace {

std::string Response(const std::string& body, const std::string& status = "200 OK") {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
         body;
}

std::string PublicKeyLine(const std::string& pubFile) {
  const std::string line = pubFile.substr(pubFile.find('\n') + 1);
  return line.substr(0, line.find_first_of("\r\n"));
}

const char kHash[] = "sha256:0000000000000000000000000000000000000000000000000000000000000000";

release::ReleaseList List(const std::string& version, const std::string& expires, bool hashed) {
  std::string ini = "[Version]\nNewVersion=" + version + "\n[FileList]\nCount=1\nFile1=a.dll\n";
  if (hashed) ini += "Size1=1\nHash1=" + std::string(kHash) + "\n";
  if (!expires.empty()) ini += "[Release]\nExpires=" + expires + "\n";
  return release::readReleaseList(ini);
}

TEST(SignedList, ExpiryVersionAndHashes) {
  const int64_t now = 1893456000;  // 2030-01-01T00:00:00Z
  const std::string kLater = "2030-01-31T00:00:00Z";
  struct Case {
    std::string version, installed, expires;
    bool hashed;
    std::string error;  // empty: accepted
  } cases[] = {
      {"6.3", "6.2.0.1", "2030-01-01T00:00:01Z", true, ""},
      {"6.2.0.1", "6.2.0.1", kLater, true, ""},              // the same release again
      {"6.3", "65535.65535.65535.65535", kLater, true, ""},  // nothing installed to compare
      {"6.3", "6.2.0.1", "", true, "The signed list has no Expires"},
      {"6.3", "6.2.0.1", "2029-12-31T23:59:59Z", true,
       "The release list expired on 2029-12-31T23:59:59Z"},
      {"6.3", "6.2.0.1", "2030-02-30T00:00:00Z", true, "Invalid Expires in update.ini"},
      {"6.2", "6.2.0.1", kLater, true, "Release 6.2 is older than the installed version 6.2.0.1"},
      {"6.3 beta", "6.2.0.1", kLater, true, "Invalid NewVersion in update.ini"},
      {"6.3", "6.2.0.1", kLater, false, "\"a.dll\" has no size or hash in the signed list"},
  };
  for (const Case& c : cases) {
    std::string error;
    try {
      UMain::CheckSignedList(List(c.version, c.expires, c.hashed), c.installed, now);
    } catch (const base::Error& e) {
      error = e.message();
    }
    EXPECT_EQ(error, c.error) << c.version << " over " << c.installed << ", " << c.expires;
  }
}

class SignedFetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run.PinnedKey = PublicKeyLine(keys.publicKey);
    run.OldVersion = "6.2.0.1";
  }

  std::string Sign(const std::string& text, const release::KeyFiles& by) {
    return release::sign(text, *release::parseSecretKey(by.secretKey),
                         release::releaseTrustedComment(0, "update.ini"));
  }

  // The list failure FetchUpdateList raises for the list and the answer to
  // its signature; empty when the list is taken.
  std::string Fetch(const std::string& list, const std::string& signatureAnswer) {
    server.accept().readRequest().send(Response(list)).readRequest().send(signatureAnswer);
    server.start();
    try {
      run.FetchUpdateList();
    } catch (const base::Error& e) {
      return e.message();
    }
    return "";
  }

  TempWorkDir dir;
  ScriptServer server;
  FakePlatform platform;
  RecordingWindow window;
  UMain::UpdateRun run{
      platform, window, {"UPDATE"}, nullptr, {server.url("/rel/"), dir.windowsForm(), ""}};
  release::KeyFiles keys = release::generateKeyPair();
};

const std::string kList =
    "[Version]\r\nNewVersion=6.3\r\n[FileList]\r\nCount=1\r\nFile1=a.dll\r\n"
    "Size1=1\r\nHash1=" +
    std::string(kHash) + "\r\n[Release]\r\nExpires=2999-01-01T00:00:00Z\r\n";

TEST_F(SignedFetchTest, SignedListIsTakenFromTheSameConnection) {
  EXPECT_EQ(Fetch(kList, Response(Sign(kList, keys))), "");
  EXPECT_EQ(run.ListedNames(), std::vector<std::string>{"a.dll"});
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(server.requests()[1].substr(0, 36), "GET /rel/update.ini.minisig HTTP/1.1");
}

TEST_F(SignedFetchTest, MissingSignatureIsNotSigned) {
  EXPECT_EQ(Fetch(kList, Response("", "404 Not Found")), "update.ini is not signed");
}

TEST_F(SignedFetchTest, SignatureByAnotherKey) {
  EXPECT_EQ(Fetch(kList, Response(Sign(kList, release::generateKeyPair()))),
            "update.ini is signed with another key");
}

TEST_F(SignedFetchTest, ChangedByteInTheList) {
  std::string tampered = kList;
  tampered[tampered.find("6.3")] = '9';
  EXPECT_EQ(Fetch(tampered, Response(Sign(kList, keys))), "Invalid signature on update.ini");
  EXPECT_TRUE(run.ListedNames().empty());
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "update.ini"));
}

TEST(SignedList, TrustedTimestampAndReplay) {
  struct Case {
    std::string comment;
    std::optional<int64_t> time;
  } comments[] = {
      {"timestamp:1700000000 file:update.ini", 1700000000},
      {"timestamp:1700000000\tfile:update.ini\thashed", 1700000000},
      {"file:update.ini timestamp:12", 12},
      {"file:update.ini", std::nullopt},
      {"mytimestamp:12", std::nullopt},
      {"timestamp:12x", std::nullopt},
      {"timestamp:", std::nullopt},
      {"timestamp:9999999999999999999", std::nullopt},
  };
  for (const Case& c : comments)
    EXPECT_EQ(release::trustedTimestamp(c.comment), c.time) << c.comment;

  struct Replay {
    std::optional<int64_t> list, installed;
    bool refused;
  } replays[] = {
      {100, std::nullopt, false},
      {std::nullopt, std::nullopt, false},
      {100, 100, false},
      {101, 100, false},
      {99, 100, true},
      {std::nullopt, 100, true},
  };
  for (const Replay& r : replays) {
    std::string error;
    try {
      UMain::CheckNotReplayed(r.list, r.installed);
    } catch (const base::Error& e) {
      error = e.message();
    }
    EXPECT_EQ(error, r.refused ? "The release list is older than the one installed (signed "
                                 "1970-01-01T00:01:40Z)"
                               : "");
  }
}

TEST_F(SignedFetchTest, ListSignedBeforeTheInstalledOneIsRefused) {
  std::filesystem::path remembered = dir.path() / "update.ini.signed";
  std::ofstream(remembered) << "1970-01-01T00:00:01Z\r\n";
  EXPECT_EQ(Fetch(kList, Response(Sign(kList, keys))),
            "The release list is older than the one installed (signed 1970-01-01T00:00:01Z)");
  EXPECT_TRUE(run.ListedNames().empty());
}

// A damaged record refuses the list: taken for no record, it would let an
// older list in.
TEST_F(SignedFetchTest, UnreadableRecordOfTheInstalledListIsRefused) {
  std::ofstream(dir.path() / "update.ini.signed") << "yesterday\r\n";
  const std::string error = Fetch(kList, Response(Sign(kList, keys)));
  EXPECT_EQ(error.rfind("The record of the last signed list installed cannot be read (", 0), 0u)
      << error;
  EXPECT_TRUE(run.ListedNames().empty());
}

TEST_F(SignedFetchTest, KeylessBuildAsksForNoSignature) {
  run.PinnedKey.clear();
  server.accept().readRequest().send(Response(kList));
  server.start();
  run.FetchUpdateList();
  EXPECT_EQ(server.requests().size(), 1u);
}

}  // namespace
