// Size<n> and Hash<n>: how the list reads them and the tool writes them, and
// the SHA-256 that checks a download against them (the checks themselves are
// in transfer_test.cpp).
#include <gtest/gtest.h>

#include "base/error.h"
#include "release/release_list.h"

namespace {

// SHA-256 of "abc" (FIPS 180-2, appendix B.1).
const char kAbcHash[] = "sha256:ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string List(const std::string& keys) {
  return "[Version]\nNewVersion=2\n[FileList]\nCount=2\nFile1=a.dll\nFile2=b.dll\n" + keys;
}

TEST(ReleaseKeys, AreReadBesideTheirNamesAndRefusedWhenMalformed) {
  const auto list = release::readReleaseList(List(
      "Size1=3\nHash1=SHA256:BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD\n"
      "Size2=\nSize3=junk\nHash9=junk\n"));
  ASSERT_EQ(list.files.size(), 2u);
  EXPECT_EQ(list.files[0].expected.size, 3u);
  ASSERT_TRUE(list.files[0].expected.sha256);
  EXPECT_EQ(release::hashText(*list.files[0].expected.sha256), kAbcHash);
  EXPECT_FALSE(list.files[1].expected.any());  // an empty value, and keys of no listed name

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
      release::readReleaseList(List(keys));
      ADD_FAILURE() << keys;
    } catch (const base::Error& e) {
      EXPECT_EQ(e.message(), message) << keys;
    }
  }
  EXPECT_EQ(release::parseSize("9223372036854775807"), uint64_t{9223372036854775807u});
}

// Copy<n> and Patch<n>.<m> beside a file with its Size<n> and Hash<n>: read
// with every key, patches up to the first number missing; refused when a key
// is missing or malformed, a name unsafe, or the file without size and hash.
TEST(ReleaseKeys, CopiesAndPatchesAreReadWhole) {
  const std::string hash(kAbcHash);
  const std::string other = "sha256:" + std::string(64, 'e');
  const std::string file1 = "Size1=3\nHash1=" + hash + "\n";
  const std::string copy1 = "Copy1=delta/c.zst\nCopySize1=40\nCopyHash1=" + other + "\n";
  auto patch = [&](const std::string& m, const std::string& name, const std::string& size = "7") {
    return "Patch1." + m + "=" + name + "\nPatchBase1." + m + "=" + other + "\nPatchSize1." + m +
           "=" + size + "\nPatchHash1." + m + "=" + hash + "\n";
  };
  const auto list =
      release::readReleaseList(List(file1 + copy1 + patch("1", "delta/p1.patch") +
                                    patch("2", "delta/p2.patch") + patch("4", "delta/p4.patch")));
  ASSERT_EQ(list.files.size(), 2u);
  const release::ListedFile& a = list.files[0];
  ASSERT_TRUE(a.copy);
  EXPECT_EQ(a.copy->name, "delta/c.zst");
  EXPECT_EQ(a.copy->expected.size, 40u);
  EXPECT_EQ(release::hashText(*a.copy->expected.sha256), other);
  EXPECT_FALSE(a.copy->base);
  ASSERT_EQ(a.patches.size(), 2u);  // 1.4 comes after a missing 1.3
  EXPECT_EQ(a.patches[1].name, "delta/p2.patch");
  EXPECT_EQ(a.patches[1].expected.size, 7u);
  EXPECT_EQ(release::hashText(*a.patches[1].expected.sha256), hash);
  EXPECT_EQ(release::hashText(*a.patches[1].base), other);
  // File2 has no size and hash: its copy is refused, with the same words as the rest.
  for (const auto& [keys, message] : std::vector<std::pair<std::string, std::string>>{
           {file1 + "Copy2=x.zst\n", "Copy2 in update.ini without Size2 and Hash2"},
           {"Size1=3\n" + copy1, "Copy1 in update.ini without Size1 and Hash1"},
           {file1 + "Copy1=x.zst\nCopyHash1=" + other, "Invalid CopySize1 in update.ini"},
           {file1 + "Copy1=x.zst\nCopySize1=1\nCopyHash1=sha256:12",
            "Invalid CopyHash1 in update.ini"},
           {file1 + "Copy1=..\\x.zst\n", "Unsafe file name \"..\\x.zst\""},
           {file1 + patch("1", "c:p"), "Unsafe file name \"c:p\""},
           {file1 + patch("1", "p", "-7"), "Invalid PatchSize1.1 in update.ini"},
           {file1 + "Patch1.1=p\nPatchSize1.1=7\nPatchHash1.1=" + hash,
            "Invalid PatchBase1.1 in update.ini"},
           {file1 + patch("1", "p") + "Patch1.2=q\nPatchBase1.2=" + other + "\nPatchSize1.2=7\n",
            "Invalid PatchHash1.2 in update.ini"},
       }) {
    try {
      release::readReleaseList(List(keys));
      ADD_FAILURE() << keys;
    } catch (const base::Error& e) {
      EXPECT_EQ(e.message(), message) << keys;
    }
  }
}

// The tool's writer against the updater's reader: each list comes back as it
// was written, line by line in the layout that a signature covers (CR LF,
// keys in this order, Size and Hash only where the file has them).
TEST(ReleaseKeys, WrittenListsAreReadBackUnchanged) {
  auto digest = [](uint8_t byte) {
    release::Digest d;
    d.fill(byte);
    return d;
  };
  auto hash = [](char digit) { return "sha256:" + std::string(64, digit); };
  auto lines = [](std::initializer_list<std::string> each) {
    std::string text;
    for (const std::string& line : each) text += line + "\r\n";
    return text;
  };
  struct Case {
    release::ReleaseList list;
    std::string text;
  } cases[] = {
      {{{{"client.exe", {8, digest(0xaa)}, {}, {}}, {"notes.txt", {}, {}, {}}}, "6.3", "", true},
       lines({"[Version]", "NewVersion=6.3", "[FileList]", "Count=2", "File1=client.exe", "Size1=8",
              "Hash1=" + hash('a'), "File2=notes.txt"})},
      // 中文\a.dll in code page 936, as the tool lists it for the Windows updater.
      {{{{"\xD6\xD0\xCE\xC4\\a.dll",
          {300, digest(0xbb)},
          release::Delta{"delta/c.zst", {20, digest(0xcc)}, {}},
          {{"delta/1.patch", {9, digest(0xdd)}, digest(0xee)},
           {"delta/2.patch", {10, digest(0xee)}, digest(0x11)}}},
         {"data\\b.dll", {0, digest(0x11)}, {}, {}}},
        "6.3.0.12",
        "2030-01-07T15:52:36Z",
        true},
       lines({"[Version]",
              "NewVersion=6.3.0.12",
              "[FileList]",
              "Count=2",
              "File1=\xD6\xD0\xCE\xC4\\a.dll",
              "Size1=300",
              "Hash1=" + hash('b'),
              "Copy1=delta/c.zst",
              "CopySize1=20",
              "CopyHash1=" + hash('c'),
              "Patch1.1=delta/1.patch",
              "PatchBase1.1=" + hash('e'),
              "PatchSize1.1=9",
              "PatchHash1.1=" + hash('d'),
              "Patch1.2=delta/2.patch",
              "PatchBase1.2=" + hash('1'),
              "PatchSize1.2=10",
              "PatchHash1.2=" + hash('e'),
              "File2=data\\b.dll",
              "Size2=0",
              "Hash2=" + hash('1'),
              "[Release]",
              "Expires=2030-01-07T15:52:36Z"})},
  };
  for (const Case& c : cases) {
    const std::string text = release::writeReleaseList(c.list);
    EXPECT_EQ(text, c.text);
    EXPECT_TRUE(release::readReleaseList(text) == c.list) << text;
  }
}

// Names that would reach another file than they say, or a device, on Windows.
TEST(ReleaseNames, UnsafeNamesAreThoseWindowsResolvesElsewhere) {
  for (const char* name : {"..\\x.dll", "C:x.dll", "x.dll.update-part", "x.dll.Update-Delta",
                           "x.dll.", "sub.\\x.dll", "x.dll ", "CON", "nul.txt", "sub\\Aux.dll",
                           "COM1", "lpt9.dat", "conin$", "CONOUT$.log", "con .txt"})
    EXPECT_TRUE(release::isUnsafeName(name)) << name;
  for (const char* name : {"x.dll", "console.dll", "com10.dll", "lpt.dll", "sub\\connect\\a.b",
                           ".hidden", "a..b", "nuls"})
    EXPECT_FALSE(release::isUnsafeName(name)) << name;
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

}  // namespace
