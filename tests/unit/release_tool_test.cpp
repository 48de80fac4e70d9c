// The publisher's tool: code page conversion, what pack refuses, a packed
// release verified and then tampered with, and usage errors.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "doubles.h"
#include "release/codepage.h"
#include "release/release_list.h"
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

struct Result {
  int code;
  std::string out;
  std::string err;
};

Result Tool(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = release::tool::run(args, out, err);
  return {code, out.str(), err.str()};
}

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
      {"tab\t.dll", "holds a control character"},
      {"x\\y.dll", "has a \"\\\" inside a file or folder name"},
      {U8(u8"😀.dll"), "has a character that code page 936 (gbk) cannot hold"},
      {U8(u8"乗.dll"), "bytes hold a \"\\\""},
      {"Good.DLL", "\"good.dll\" and \"Good.DLL\" are one file for the Windows updater"},
  };
  int tried = 0;
  for (const auto& [name, message] : cases) {
    const fs::path rel = dir.path() / "refused" / std::to_string(tried++);
    Write(rel / "good.dll", "good");
    testing_doubles::writeAll(rel / pathOf(name), "bad");
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(rel))
      names.insert(utf8Of(entry.path().filename()));
    // Left out where the file system cannot hold the name, changes it, or ignores case.
    if (names != std::set<std::string>{"good.dll", name}) continue;
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

  Result verified = Tool({"verify", Dir("new")});
  EXPECT_EQ(verified.code, 0) << verified.out;
  EXPECT_EQ(verified.out, "ok   client.exe\nok   " + data +
                              "\\new.dat\n2 of 2 listed files match (version 6.3)\n");

  Write(dir.path() / "new" / "client.exe", "client 3");  // same size, other bytes
  fs::remove(dir.path() / "new" / pathOf(data) / "new.dat");
  Result tampered = Tool({"verify", Dir("new")});
  EXPECT_EQ(tampered.code, 1);
  EXPECT_EQ(tampered.out, "FAIL client.exe (SHA-256 differs)\nFAIL " + data +
                              "\\new.dat (missing)\n0 of 2 listed files match (version 6.3)\n");
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
           {{"verify", rel, "--encoding", "latin1"}, "--encoding must be gbk or utf-8"},
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

}  // namespace
