// Size<n> and Hash<n>: how the list reads them, and the SHA-256 that checks a
// download against them (the checks themselves are in transfer_test.cpp).
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
