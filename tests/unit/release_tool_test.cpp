// The publisher's tool: code page conversion, what pack refuses, a packed
// release verified and then tampered with, keys and signatures (also as the
// minisign program reads and writes them), and usage errors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <sstream>

#include "base/windows_case.h"
#include "doubles.h"
#include "script_server.h"
#include "tool_runner.h"
#include "release/codepage.h"
#include "release/list_checks.h"
#include "release/minisign.h"
#include "release/release_list.h"
#include "release/sha256.h"
#include "release/tool/files.h"
#include "release/tool/tool.h"

using release::Encoding;
using release::tool::pathOf;
using release::tool::utf8Of;
namespace fs = std::filesystem;

namespace {

// The program's texts are in the build's code page; names the tool handles are UTF-8.
std::string U8(std::u8string_view text) {
  return std::string(text.begin(), text.end());
}

// Names that Windows takes for one file, beyond ASCII; and those it keeps apart.
TEST(WindowsCase, FoldsAsTheFileSystemCompares) {
  struct Case {
    std::string a, b;
    bool one;
  } cases[] = {
      {"Good.DLL", "good.dll", true},
      {U8(u8"Ä.dll"), U8(u8"ä.dll"), true},
      {U8(u8"Я\\Ω.dll"), U8(u8"я\\ω.dll"), true},
      {U8(u8"ǅ.dll"), U8(u8"ǆ.dll"), false},   // a title-case letter stays as it is
      {U8(u8"Ⓐ.dll"), U8(u8"ⓐ.dll"), true},    // far from the Latin ones
      {U8(u8"I.dll"), U8(u8"ı.dll"), false},   // dotless i stays apart from ASCII
      {U8(u8"ß.dll"), "SS.dll", false},        // no mapping to two letters
      {U8(u8"😀.dll"), U8(u8"😀.DLL"), true},    // beyond the plane: kept as it is
      {"\xff\xfe.dll", "\xff\xfe.DLL", true},  // not UTF-8: kept, the rest folded
  };
  for (const Case& c : cases)
    EXPECT_EQ(base::foldedAsWindows(c.a) == base::foldedAsWindows(c.b), c.one) << c.a << " " << c.b;
}

TEST(CodePage, ConvertsExactlyOrNotAtAll) {
  // 中文 is D6D0 CEC4 in code page 936.
  EXPECT_EQ(release::fromUtf8(U8(u8"中文\\a.dll"), Encoding::Gbk), "\xD6\xD0\xCE\xC4\\a.dll");
  EXPECT_EQ(release::toUtf8("\xD6\xD0\xCE\xC4\\a.dll", Encoding::Gbk), U8(u8"中文\\a.dll"));
  EXPECT_EQ(release::fromUtf8(U8(u8"乗"), Encoding::Gbk), "\x81\x5C");  // a "\" as second byte
  EXPECT_EQ(release::fromUtf8(U8(u8"中文"), Encoding::Utf8), U8(u8"中文"));
  EXPECT_EQ(release::fromUtf8("", Encoding::Gbk), "");
  EXPECT_EQ(release::fromUtf8(U8(u8"😀"), Encoding::Gbk), std::nullopt);  // not in the code page
  EXPECT_EQ(release::fromUtf8("\xFF"
                              "a",
                              Encoding::Gbk),
            std::nullopt);  // not UTF-8
  EXPECT_EQ(release::fromUtf8("\xC3", Encoding::Utf8), std::nullopt);
  EXPECT_EQ(release::toUtf8("\xD6", Encoding::Gbk), std::nullopt);  // half a character
}

using Result = testing_doubles::ToolResult;
using testing_doubles::Tool;

void Write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  testing_doubles::writeAll(path, bytes);
}

class ReleaseToolTest : public ::testing::Test {
 protected:
  std::string Dir(const std::string& name) { return utf8Of(dir.path() / name); }
  testing_doubles::TempWorkDir dir;
};

// Each name beside a good one: pack refuses the folder and says why. Names
// this system cannot create are left out.
TEST_F(ReleaseToolTest, PackRefusesNamesTheUpdaterOrUpdateIniWouldNotKeep) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {" lead.dll", "\" lead.dll\" begins or ends with a blank"},
      {"trail.dll ", "\"trail.dll \" begins or ends with a blank"},
      {"'q.dll'", "\"'q.dll'\" is in matching quotes"},
      {"a:b.dll", "\"a:b.dll\" is a name the updater refuses"},
      {"c.dll.update-part", "\"c.dll.update-part\" is a name the updater refuses"},
      {"trail.dll.", "\"trail.dll.\" is a name the updater refuses"},
      {"Com3.log", "\"Com3.log\" is a name the updater refuses"},
      {"tab\t.dll", "holds a control character"},
      {"x\\y.dll", "has a \"\\\" inside a file or folder name"},
      {U8(u8"😀.dll"), "has a character that code page 936 (gbk) cannot hold"},
      {U8(u8"乗.dll"), "bytes hold a \"\\\""},
      {"Good.DLL", "\"good.dll\" and \"Good.DLL\" are one file for the Windows updater"},
      {U8(u8"я.dll"), U8(u8"\"я.dll\" and \"Я.dll\" are one file for the Windows updater")},
  };
  int tried = 0;
  for (const auto& [name, message] : cases) {
    const fs::path rel = dir.path() / "refused" / std::to_string(tried++);
    Write(rel / "good.dll", "good");
    testing_doubles::writeAll(rel / pathOf(U8(u8"Я.dll")), "good");
    testing_doubles::writeAll(rel / pathOf(name), "bad");
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(rel))
      names.insert(utf8Of(entry.path().filename()));
    // Left out where the file system cannot hold the name, changes it, or ignores case.
    if (names != std::set<std::string>{"good.dll", U8(u8"Я.dll"), name}) continue;
    const Result result = Tool({"pack", utf8Of(rel), "--version", "1"});
    EXPECT_EQ(result.code, 1) << name;
    EXPECT_NE(result.err.find("refused: "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(rel / "update.ini")) << name;
  }

  // A folder with nothing but what pack leaves out is empty; so is a version in quotes.
  Write(dir.path() / "empty" / "update.ini", "x");
  Write(dir.path() / "empty" / "update.ini.minisig", "x");
  Result empty = Tool({"pack", Dir("empty"), "--version", "1"});
  EXPECT_EQ(empty.code, 1);
  EXPECT_NE(empty.err.find("holds no files to release"), std::string::npos) << empty.err;
  Write(dir.path() / "v" / "a.dll", "a");
  Result quoted = Tool({"pack", Dir("v"), "--version", "\"1\""});
  EXPECT_EQ(quoted.code, 1);
  EXPECT_NE(quoted.err.find("the version \"\"1\"\" is in matching quotes"), std::string::npos);
}

TEST_F(ReleaseToolTest, PackedReleaseVerifiesAndSinceListsOnlyChangedFiles) {
  const std::string data = U8(u8"数据");
  Write(dir.path() / "old" / "client.exe", "client 1");
  Write(dir.path() / "old" / "same.dll", "same");
  Write(dir.path() / "new" / "client.exe", "client 2");
  Write(dir.path() / "new" / "same.dll", "same");
  Write(dir.path() / "new" / pathOf(data) / "new.dat", "abc");
  Write(dir.path() / "new" / "update.ini.minisig", "left out");

  Result packed = Tool({"pack", Dir("new"), "--version", "6.3", "--since", Dir("old")});
  ASSERT_EQ(packed.code, 0) << packed.err;
  const std::string ini = testing_doubles::readAll(dir.path() / "new" / "update.ini");
  const release::ReleaseList list = release::readReleaseList(ini);
  ASSERT_EQ(list.files.size(), 2u) << ini;
  EXPECT_EQ(list.newVersion, "6.3");
  EXPECT_EQ(list.files[0].name, "client.exe");
  EXPECT_EQ(list.files[0].expected.size, 8u);
  EXPECT_EQ(list.files[1].name, "\xCA\xFD\xBE\xDD\\new.dat");  // 数据 in code page 936
  EXPECT_EQ(release::hashText(*list.files[1].expected.sha256),
            "sha256:ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_NE(ini.find("\r\nHash2="), std::string::npos);

  const std::string noSignature =
      "no signature was checked (-p PUBKEY checks update.ini as an updater built with that key "
      "does)\n";
  Result verified = Tool({"verify", Dir("new")});
  EXPECT_EQ(verified.code, 0) << verified.out;
  EXPECT_EQ(verified.out, "ok   client.exe\nok   " + data +
                              "\\new.dat\n2 of 2 listed files match (version 6.3)\n" + noSignature);

  Write(dir.path() / "new" / "client.exe", "client 3");  // same size, other bytes
  fs::remove(dir.path() / "new" / pathOf(data) / "new.dat");
  Result tampered = Tool({"verify", Dir("new")});
  EXPECT_EQ(tampered.code, 1);
  EXPECT_EQ(tampered.out, "FAIL client.exe (SHA-256 differs)\nFAIL " + data +
                              "\\new.dat (missing)\n0 of 2 listed files match (version 6.3)\n" +
                              noSignature);
}

// Patches from two older releases and compressed copies: listed where they
// save bytes, named by their hash under DIR/delta/ (never listed as files,
// nor an older release inside DIR), checked and applied by verify.
TEST_F(ReleaseToolTest, PackListsPatchesAndCopiesThatSaveBytesAndVerifyAppliesThem) {
  std::string text;
  for (int i = 0; text.size() < 200000; ++i)
    text += "line " + std::to_string(i % 997) + " of the client's data\n";
  std::string edited = text;
  edited.replace(50000, 10, "CHANGED!!!");
  std::mt19937 random(3);
  std::string noise(100000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string noise2 = noise;
  noise2[777] ^= 1;
  const fs::path old1 = dir.path() / "old1", old2 = dir.path() / "new" / "old2";
  const fs::path now = dir.path() / "new";
  Write(old1 / "app.dat", text);    // a patch from here
  Write(old2 / "app.dat", edited);  // the same file: no patch
  Write(now / "app.dat", edited);
  Write(old1 / "noise.bin", noise);  // a patch, but no copy: it does not compress
  Write(now / "noise.bin", noise2);
  Write(old1 / "tiny.txt", "a");  // neither: nothing saves bytes
  Write(now / "tiny.txt", "b");
  Write(now / "delta" / "0000.zst", "of an earlier release");

  const Result packed = Tool({"pack", Dir("new"), "--version", "2", "--compress", "--delta-from",
                              utf8Of(old1), "--delta-from=" + utf8Of(old2)});
  ASSERT_EQ(packed.code, 0) << packed.err;
  EXPECT_NE(packed.out.find("2 patches listed"), std::string::npos) << packed.out;
  EXPECT_NE(packed.out.find("1 compressed copy listed"), std::string::npos) << packed.out;
  const release::ReleaseList list =
      release::readReleaseList(testing_doubles::readAll(now / "update.ini"));
  ASSERT_EQ(list.files.size(), 3u);
  const release::ListedFile &app = list.files[0], &bin = list.files[1], &tiny = list.files[2];
  EXPECT_EQ(app.name, "app.dat");
  ASSERT_TRUE(app.copy);
  ASSERT_EQ(app.patches.size(), 1u);
  EXPECT_FALSE(bin.copy);
  ASSERT_EQ(bin.patches.size(), 1u);
  EXPECT_FALSE(tiny.copy);
  EXPECT_TRUE(tiny.patches.empty());
  for (const release::Delta* patch : {&app.patches[0], &bin.patches[0]}) {
    EXPECT_LT(*patch->expected.size, 1000u);
    EXPECT_EQ(patch->name,
              "delta/" + release::hashText(*patch->expected.sha256).substr(7) + ".patch");
    EXPECT_EQ(fs::file_size(now / pathOf(patch->name)), patch->expected.size);
  }
  release::Sha256 oldText;
  oldText.update(text.data(), text.size());
  EXPECT_EQ(app.patches[0].base, oldText.finish());
  EXPECT_LT(*app.copy->expected.size, edited.size() / 10);

  const std::vector<std::string> verify{"verify", Dir("new"), "--delta-from", utf8Of(old1)};
  Result verified = Tool(verify);
  EXPECT_EQ(verified.code, 0) << verified.out;
  EXPECT_NE(verified.out.find("ok   app.dat: compressed copy delta/"), std::string::npos);
  EXPECT_NE(verified.out.find("ok   noise.bin: patch 1 delta/"), std::string::npos);
  EXPECT_NE(verified.out.find("(applied to " + utf8Of(old1 / "noise.bin") + ")"), std::string::npos)
      << verified.out;
  EXPECT_NE(verified.out.find("3 of 3 patches and compressed copies check out"), std::string::npos);

  // A patch damaged on the server, a copy gone: verify says which.
  std::string damaged = testing_doubles::readAll(now / pathOf(bin.patches[0].name));
  damaged[damaged.size() / 2] ^= 1;
  testing_doubles::writeAll(now / pathOf(bin.patches[0].name), damaged);
  fs::remove(now / pathOf(app.copy->name));
  verified = Tool(verify);
  EXPECT_EQ(verified.code, 1);
  EXPECT_NE(
      verified.out.find("FAIL noise.bin: patch 1 " + bin.patches[0].name + " (SHA-256 differs)"),
      std::string::npos)
      << verified.out;
  EXPECT_NE(verified.out.find("FAIL app.dat: compressed copy " + app.copy->name + " (missing)"),
            std::string::npos);
  EXPECT_NE(verified.out.find("1 of 3 patches and compressed copies check out"), std::string::npos);
}

TEST_F(ReleaseToolTest, UsageErrorsSayWhatWasWrong) {
  Write(dir.path() / "rel" / "a.dll", "a");
  const std::string rel = Dir("rel");
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{}, "no command given"},
           {{"publish"}, "unknown command \"publish\""},
           {{"pack", rel}, "pack needs --version V"},
           {{"pack", "--version", "1"}, "pack needs DIR"},
           {{"pack", rel, "--version"}, "--version needs a value (V)"},
           {{"pack", rel, "rel2", "--version", "1"}, "unexpected argument \"rel2\""},
           {{"pack", rel, "--version=1", "--level", "9"}, "pack does not know --level"},
           {{"pack", rel, "--version=1", "--since=a", "--since=b"}, "--since given twice"},
           {{"pack", rel, "--version=1", "--compress=yes"}, "--compress takes no value"},
           {{"verify", rel, "--encoding", "latin1"}, "--encoding must be gbk or utf-8"},
           {{"pack", rel, "--version", "1", "--expires", "0"}, "--expires takes a number of days"},
           {{"sign", rel}, "sign needs -s KEY"},
           {{"verify", rel, "-p"}, "-p needs a value (PUBKEY)"},
           {{"check", "ftp://example.com/rel/"}, "URL must be an http or https URL"},
           {{"check", "http://example.com/rel"}, "URL must end with \"/\""},
       }) {
    const Result result = Tool(args);
    EXPECT_EQ(result.code, 2) << message;
    EXPECT_NE(result.err.find("updater-release: " + message), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("usage: "), std::string::npos) << result.err;
  }
  Result help = Tool({"pack", "--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("updater-release verify DIR"), std::string::npos);
}

// check reads no body past its listed size (a server may send one without
// end), and takes no redirect for a file listed without its hash, as the
// updater takes none.
TEST_F(ReleaseToolTest, CheckReadsNoFurtherThanListedAndFollowsNoRedirectForUncheckedBytes) {
  release::Sha256 sha256;
  sha256.update("abcd", 4);
  const std::string hash = release::hashText(sha256.finish());
  const std::string list =
      "[Version]\r\nNewVersion=1\r\n[FileList]\r\nCount=2\r\nFile1=big.dat\r\n"
      "Size1=4\r\nHash1=" +
      hash + "\r\nFile2=plain.txt\r\nSize2=2\r\n";
  testing_server::ScriptServer server;
  server.accept()
      .readRequest()
      .send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(list.size()) + "\r\n\r\n" + list)
      .readRequest()
      .send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n8\r\nabcdabcd\r\n")
      .accept()
      .readRequest()
      .send("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n")
      .start();
  const Result result = Tool({"check", server.url("/rel/")});
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(
      result.out.find("FAIL big.dat: listed 4 bytes " + hash + ", served more than 4 bytes\n"),
      std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("FAIL plain.txt: listed 2 bytes, not served: HTTP/1.1 302 Found\n"),
            std::string::npos)
      << result.out;
}

TEST_F(ReleaseToolTest, KeygenWritesAKeyPairOnceWithTheSecretKeyForItsOwnerOnly) {
  const Result made = Tool({"keygen"});
  ASSERT_EQ(made.code, 0) << made.err;
  const std::string pub = testing_doubles::readAll("release.pub");
  const std::string key = testing_doubles::readAll("release.key");
  const auto publicKey = release::parsePublicKey(pub);
  const auto secretKey = release::parseSecretKey(key);
  ASSERT_TRUE(publicKey && secretKey);
  EXPECT_EQ(publicKey->keyId, secretKey->keyId);
  EXPECT_NE(made.out.find("-DUPDATER_RELEASE_KEY=" + pub.substr(pub.find('\n') + 1, 56) + "\n"),
            std::string::npos)
      << made.out;
  EXPECT_NE(made.err.find("Keep it offline"), std::string::npos);
#ifndef _WIN32
  EXPECT_EQ(fs::status("release.key").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
#endif

  // Either file of the pair already there: nothing is written.
  Write(dir.path() / "other.pub", "mine");
  for (const std::string name : {"release", "other"}) {
    const Result again = Tool({"keygen", "--out", name});
    EXPECT_EQ(again.code, 1);
    EXPECT_NE(again.err.find("\"" + name + ".pub\" exists already"), std::string::npos);
  }
  EXPECT_EQ(testing_doubles::readAll("release.key"), key);
  EXPECT_FALSE(fs::exists("other.key"));
}

TEST_F(ReleaseToolTest, SignedPackVerifiesWithItsKeyAndVerifyTellsWhatIsWrong) {
  ASSERT_EQ(Tool({"keygen", "--out", "a"}).code, 0);
  ASSERT_EQ(Tool({"keygen", "--out", "b"}).code, 0);
  Write(dir.path() / "rel" / "client.exe", "client");
  const int64_t before = release::tool::unixNow();
  const Result packed =
      Tool({"pack", "rel", "--version", "6.3", "--sign", "a.key", "--expires", "30"});
  ASSERT_EQ(packed.code, 0) << packed.err;
  const std::string ini = testing_doubles::readAll("rel/update.ini");
  const std::string section = "\r\n[Release]\r\nExpires=";
  const size_t at = ini.find(section);
  ASSERT_NE(at, std::string::npos) << ini;
  const auto expires = release::parseUtcTime(ini.substr(at + section.size(), 20));
  ASSERT_TRUE(expires) << ini;
  EXPECT_GE(*expires, before + 30 * 86400);
  EXPECT_LE(*expires, release::tool::unixNow() + 30 * 86400);

  const Result verified = Tool({"verify", "-p", "a.pub", "rel"});
  EXPECT_EQ(verified.code, 0) << verified.out << verified.err;
  EXPECT_EQ(verified.out.find("ok   update.ini is signed by key "), 0u) << verified.out;
  EXPECT_NE(verified.out.find("file:update.ini)\n"), std::string::npos) << verified.out;

  // Each change alone, then signed again over the changed list.
  const std::string signature = testing_doubles::readAll("rel/update.ini.minisig");
  const struct {
    std::string list, signature, key, message;
  } cases[] = {
      {ini, signature, "b.pub", "update.ini is signed with another key"},
      {ini + "\r\n", signature, "a.pub", "Invalid signature on update.ini"},
      {ini, "", "a.pub", "update.ini is not signed"},
  };
  for (const auto& c : cases) {
    Write(dir.path() / "rel" / "update.ini", c.list);
    Write(dir.path() / "rel" / "update.ini.minisig", c.signature);
    const Result result = Tool({"verify", "rel", "--public-key", c.key});
    EXPECT_EQ(result.code, 1) << c.message;
    EXPECT_EQ(result.out.find("FAIL " + c.message + "\n"), 0u) << result.out;
  }
  EXPECT_EQ(Tool({"sign", "-s", "a.key", "rel"}).code, 0);
  EXPECT_EQ(Tool({"verify", "rel", "-p", "a.pub"}).code, 0);

  // Keys that cannot sign, and a list that is not there, write nothing.
  fs::remove("rel/update.ini.minisig");
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"sign", "rel", "-s", "a.pub"}, "\"a.pub\" is not a minisign secret key"},
           {{"sign", "rel", "-s", "none.key"}, "cannot read the secret key \"none.key\""},
           {{"sign", ".", "-s", "a.key"}, "update.ini\" does not exist"},
           {{"pack", "rel", "--version", "6.3 beta", "--sign", "a.key"}, "is not dotted numbers"},
       }) {
    const Result result = Tool(args);
    EXPECT_EQ(result.code, 1) << message;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists("rel/update.ini.minisig")) << message;
  }
}

// Debian's minisign checks what we sign, and what it signs passes verify -p.
TEST_F(ReleaseToolTest, AgreesWithTheMinisignProgram) {
#ifdef _WIN32
  GTEST_SKIP() << "the minisign program runs on the Linux build";
#else
  if (std::system("minisign -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "minisign not installed";
  ASSERT_EQ(Tool({"keygen"}).code, 0);
  Write(dir.path() / "rel" / "client.exe", "client");
  ASSERT_EQ(Tool({"pack", "rel", "--version", "6.3", "--expires", "30"}).code, 0);
  ASSERT_EQ(Tool({"sign", "rel", "-s", "release.key"}).code, 0);
  EXPECT_EQ(std::system("minisign -V -q -p release.pub -m rel/update.ini"), 0);
  Write(dir.path() / "rel" / "update.ini", testing_doubles::readAll("rel/update.ini") + "\r\n");
  EXPECT_NE(std::system("minisign -V -q -p release.pub -m rel/update.ini 2>/dev/null"), 0);

  ASSERT_EQ(std::system("minisign -G -W -p mini.pub -s mini.key >/dev/null"), 0);
  for (const std::string& legacy : {std::string(), std::string(" -l")}) {
    // minisign's own trusted comment: "timestamp:<n>", a tab, "file:update.ini", ...
    ASSERT_EQ(
        std::system(("minisign -S -s mini.key -m rel/update.ini" + legacy + " >/dev/null").c_str()),
        0)
        << legacy;
    const Result result = Tool({"verify", "rel", "-p", "mini.pub"});
    EXPECT_EQ(result.code, 0) << legacy << result.out;
    EXPECT_NE(result.out.find("(trusted comment: timestamp:"), std::string::npos) << result.out;
    EXPECT_EQ(Tool({"verify", "rel", "-p", "release.pub"}).code, 1);
  }
#endif
}

}  // namespace
