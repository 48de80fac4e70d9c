#include "pe/pe_version.h"

#include <gtest/gtest.h>

#include <random>

#include "pe_fixture.h"

namespace {

using pe_fixture::get32;
using pe_fixture::put32;

struct Version {
  uint32_t ms, ls;
};

std::optional<Version> read(const std::string& bytes) {
  auto v = pe::readFixedFileVersion(bytes);
  if (!v) return std::nullopt;
  return Version{v->ms, v->ls};
}

void expectVersion(const std::string& bytes, uint32_t ms, uint32_t ls) {
  auto v = read(bytes);
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(v->ms, ms);
  EXPECT_EQ(v->ls, ls);
}

TEST(PeVersion, ReadsFixedVersionOfPe32AndPe32Plus) {
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    expectVersion(pe_fixture::build({.pe32plus = plus}).bytes, 0x0002000A, 0x00000007);
    expectVersion(pe_fixture::build({.pe32plus = plus, .ms = 0xFFFF0001, .ls = 0x00020003}).bytes,
                  0xFFFF0001, 0x00020003);
  }
}

TEST(PeVersion, FindsTheVersionAmongOtherResourcesAndSections) {
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    // Named and icon types first, a second language after the first.
    expectVersion(pe_fixture::build({.pe32plus = plus, .otherResources = true}).bytes, 0x0002000A,
                  7);
    // The data entry's address lies in another section than the directories.
    expectVersion(pe_fixture::build({.pe32plus = plus, .dataInOwnSection = true}).bytes, 0x0002000A,
                  7);
    // A version resource that is not VS_VERSION_INFO (1) by number.
    expectVersion(pe_fixture::build({.pe32plus = plus, .versionNameId = 2}).bytes, 0x0002000A, 7);
  }
}

TEST(PeVersion, FilesWithoutVersionInformation) {
  EXPECT_FALSE(read(""));
  EXPECT_FALSE(read("MZ"));
  EXPECT_FALSE(read("This is not a program, only a text file called client.exe.\r\n"));

  const auto image = pe_fixture::build();
  auto damaged = [&](auto change) {
    std::string bytes = image.bytes;
    change(bytes);
    return read(bytes);
  };
  // No resource directory.
  EXPECT_FALSE(damaged([&](std::string& b) { put32(b, image.resourceDirectory, 0); }));
  // Resources, but none of the version type.
  EXPECT_FALSE(damaged([&](std::string& b) { put32(b, image.versionTypeEntry, 14); }));
  // A wrong signature, a wrong key, no fixed part, a data entry too small for it.
  EXPECT_FALSE(damaged([&](std::string& b) { b[image.fixedInfo] ^= 1; }));
  EXPECT_FALSE(damaged([&](std::string& b) { b[image.fixedInfo - 30] = 'X'; }));
  EXPECT_FALSE(damaged([&](std::string& b) { b[image.fixedInfo - 38] = 0; }));
  EXPECT_FALSE(damaged([&](std::string& b) { put32(b, image.versionDataEntry + 4, 60); }));
}

TEST(PeVersion, OffsetsNearTheEndOfTheAddressSpace) {
  const auto image = pe_fixture::build();
  for (uint32_t value : {0xFFFFFFFFu, 0xFFFFFFF0u, 0x80000000u, 0x7FFFFFFFu}) {
    SCOPED_TRACE(value);
    std::string b = image.bytes;
    put32(b, 0x3C, value);  // PE header
    EXPECT_FALSE(read(b));
    b = image.bytes;
    put32(b, image.resourceDirectory, value);
    EXPECT_FALSE(read(b));
    b = image.bytes;
    put32(b, image.versionDataEntry, value);  // data address
    EXPECT_FALSE(read(b));
    b = image.bytes;
    put32(b, image.versionDataEntry + 4, value);  // data size
    expectVersion(b, 0x0002000A, 7);              // only the fixed part is read
    b = image.bytes;
    put32(b, image.versionTypeEntry + 4, value);  // subdirectory offset
    EXPECT_FALSE(read(b));
  }
}

TEST(PeVersion, CyclicResourceDirectoriesEnd) {
  const auto image = pe_fixture::build();
  std::string b = image.bytes;
  put32(b, image.versionTypeEntry + 4, 0x80000000);  // the version type is the root again
  EXPECT_FALSE(read(b));
  // Every directory entry of the tree pointing at the root.
  b = image.bytes;
  for (size_t at = image.resourceSection + 16; at < image.versionDataEntry; at += 8)
    if (get32(b, at + 4) & 0x80000000) put32(b, at + 4, 0x80000000);
  EXPECT_FALSE(read(b));
}

TEST(PeVersion, TruncatedFilesHaveNoVersionUntilTheFixedPartIsThere) {
  for (bool plus : {false, true}) {
    const auto image = pe_fixture::build({.pe32plus = plus});
    for (size_t size = 0; size < image.bytes.size(); ++size) {
      auto v = read(image.bytes.substr(0, size));
      if (size < image.fixedInfo + 52) {
        EXPECT_FALSE(v) << size;
      } else {
        ASSERT_TRUE(v) << size;
        EXPECT_EQ(v->ms, 0x0002000Au);
      }
    }
  }
}

// Whatever a damaged file holds, the reader either finds nothing or reads the
// one fixed part there is, never anything else.
TEST(PeVersion, MutatedFilesGiveNothingOrTheFixedPart) {
  std::mt19937 random(20240611);
  for (bool plus : {false, true}) {
    const auto image = pe_fixture::build({.pe32plus = plus, .otherResources = true});
    auto check = [&](const std::string& b, const std::string& what) {
      auto v = read(b);
      if (!v) return;
      EXPECT_EQ(v->ms, get32(b, image.fixedInfo + 8)) << what;
      EXPECT_EQ(v->ls, get32(b, image.fixedInfo + 12)) << what;
    };
    const size_t end = image.fixedInfo + 52;
    for (size_t at = 0; at < end; ++at) {
      for (int change : {0x00, 0xFF, 0x80, 0x01}) {
        std::string b = image.bytes;
        b[at] = static_cast<char>(change == 0x80 || change == 0x01 ? b[at] ^ change : change);
        check(b, "byte " + std::to_string(at) + " -> " + std::to_string(change));
      }
    }
    for (int round = 0; round < 2000; ++round) {
      std::string b = image.bytes;
      for (int n = 1 + random() % 8; n > 0; --n) b[random() % end] = static_cast<char>(random());
      check(b, "round " + std::to_string(round));
    }
  }
}

}  // namespace
