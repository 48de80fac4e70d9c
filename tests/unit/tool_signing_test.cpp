// The publisher's tool holds a signed list to what an updater built with the
// key requires: pack --sign dates it, sign refuses what such an updater
// refuses, and verify -p reports it with the updater's own words.
#include <gtest/gtest.h>

#include <sstream>

#include "doubles.h"
#include "tool_runner.h"
#include "release/list_checks.h"
#include "release/minisign.h"
#include "release/tool/files.h"
#include "release/tool/tool.h"

namespace fs = std::filesystem;
using testing_doubles::readAll;
using testing_doubles::writeAll;

namespace {

using Result = testing_doubles::ToolResult;
using testing_doubles::Tool;

// The [Release] Expires of the list as a time; nullopt without one.
std::optional<int64_t> ExpiresOf(const std::string& list) {
  const size_t at = list.find("\r\nExpires=");
  if (at == std::string::npos) return std::nullopt;
  return release::parseUtcTime(list.substr(at + 10, 20));
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from << " in " << text;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

class ToolSigningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Tool({"keygen"}).code, 0);
    fs::create_directories("rel");
    writeAll("rel/a.dll", "a");
  }
  testing_doubles::TempWorkDir dir;
};

TEST_F(ToolSigningTest, PackDatesASignedListAndRefusesOneThatNeverExpires) {
  struct Case {
    std::vector<std::string> options;
    int code;
    std::optional<int64_t> days;  // the list's life; nullopt: no Expires
  } cases[] = {
      {{"--sign", "release.key"}, 0, 30},
      {{"--sign", "release.key", "--expires", "7"}, 0, 7},
      {{}, 0, std::nullopt},
      {{"--expires", "never"}, 0, std::nullopt},
      {{"--sign", "release.key", "--expires", "never"}, 2, std::nullopt},
  };
  for (const Case& c : cases) {
    fs::remove("rel/update.ini");
    std::vector<std::string> args{"pack", "rel", "--version", "6.3"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const int64_t before = release::tool::unixNow();
    const Result result = Tool(args);
    const std::string what = ::testing::PrintToString(c.options);
    ASSERT_EQ(result.code, c.code) << what << result.err;
    if (c.code != 0) {
      EXPECT_NE(result.err.find("refuses a signed list without Expires"), std::string::npos)
          << result.err;
      EXPECT_FALSE(fs::exists("rel/update.ini")) << what;
      continue;
    }
    const std::optional<int64_t> expires = ExpiresOf(readAll("rel/update.ini"));
    ASSERT_EQ(expires.has_value(), c.days.has_value()) << what;
    if (!c.days) continue;
    EXPECT_GE(*expires, before + *c.days * 86400) << what;
    EXPECT_LE(*expires, release::tool::unixNow() + *c.days * 86400) << what;
  }
}

// Each list signed over its exact bytes with the right key, so that only the
// rule in question fails: verify -p names it as the updater does, and sign
// refuses to sign such a list again (or, where only the trusted comment was
// wrong, signs it so that it passes).
TEST_F(ToolSigningTest, VerifyAndSignRefuseWhatAKeyedUpdaterRefuses) {
  ASSERT_EQ(Tool({"pack", "rel", "--version", "6.3", "--sign", "release.key"}).code, 0);
  const std::string good = readAll("rel/update.ini");
  const std::string expires = release::utcTimeText(*ExpiresOf(good));
  const auto key = release::parseSecretKey(readAll("release.key"));
  ASSERT_TRUE(key);
  const int64_t now = release::tool::unixNow();
  const std::string stamped = release::releaseTrustedComment(now, "update.ini");

  struct Case {
    std::string list, trustedComment;
    std::string problem;  // empty: taken
    bool listAtFault;     // sign refuses the list
  } cases[] = {
      {good, stamped, "", false},
      {Replaced(good, "[Release]\r\nExpires=" + expires + "\r\n", ""), stamped,
       "The signed list has no Expires", true},
      {Replaced(good, expires, "2001-01-01T00:00:00Z"), stamped,
       "The release list expired on 2001-01-01T00:00:00Z", true},
      {Replaced(good, expires, "2030-02-30T00:00:00Z"), stamped, "Invalid Expires in update.ini",
       true},
      {Replaced(good, "=6.3", "=6.3 beta"), stamped, "Invalid NewVersion in update.ini", true},
      {Replaced(good, "Hash1=", "Digest1="), stamped,
       "\"a.dll\" has no size or hash in the signed list", true},
      {Replaced(good, "File1=a.dll", "File1=..\\a.dll"), stamped, "Unsafe file name", true},
      {Replaced(good, "Size1=1", "Size1=one"), stamped, "Invalid Size1 in update.ini", true},
      {"<html>Sign in to use this network</html>", stamped, "No [FileList] or [Version] section",
       true},
      {good, "file:update.ini", "The trusted comment has no timestamp", false},
      {good, release::releaseTrustedComment(now + 2 * 86400, "update.ini"),
       "The trusted comment's timestamp is still to come", false},
  };
  for (const Case& c : cases) {
    writeAll("rel/update.ini", c.list);
    const std::string signature = release::sign(c.list, *key, c.trustedComment);
    writeAll("rel/update.ini.minisig", signature);
    const Result verified = Tool({"verify", "-p", "release.pub", "rel"});
    if (c.problem.empty()) {
      EXPECT_EQ(verified.code, 0) << verified.out;
      EXPECT_EQ(verified.out.find("FAIL"), std::string::npos) << verified.out;
    } else {
      EXPECT_EQ(verified.code, 1) << c.problem;
      EXPECT_NE(verified.out.find("FAIL " + c.problem), std::string::npos) << verified.out;
    }

    const Result signedAgain = Tool({"sign", "-s", "release.key", "rel"});
    if (c.listAtFault) {
      EXPECT_EQ(signedAgain.code, 1) << c.problem;
      EXPECT_NE(signedAgain.err.find(c.problem), std::string::npos) << signedAgain.err;
      EXPECT_EQ(readAll("rel/update.ini.minisig"), signature) << c.problem;
    } else {
      EXPECT_EQ(signedAgain.code, 0) << signedAgain.err;
      EXPECT_EQ(Tool({"verify", "-p", "release.pub", "rel"}).code, 0) << c.problem;
    }
  }

  // Without a key the list's files are what counts, and the summary says so.
  writeAll("rel/update.ini", Replaced(good, "[Release]\r\nExpires=" + expires + "\r\n", ""));
  const Result unkeyed = Tool({"verify", "rel"});
  EXPECT_EQ(unkeyed.code, 0) << unkeyed.out;
  EXPECT_NE(unkeyed.out.find("no signature was checked"), std::string::npos) << unkeyed.out;
}

}  // namespace
