// The update list as read from a release description, the "Count" conversion and the
// numbered-entry scan. The reader's line rules are pinned by the corpus test.
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "ini/profile.h"

namespace {

using Names = std::vector<std::string>;

// The release description read the way the updater reads it.
Names fileList(const std::string& text) {
  const ini::Profile profile(text);
  const int32_t count = ini::profileInteger(profile.readString("FileList", "Count", ""));
  return profile.numberedValues("FileList", "File", count);
}

// prefix + 1 .. prefix + count read one key at a time, empty values skipped.
Names readOneByOne(const ini::Profile& profile, const std::string& section,
                   const std::string& prefix, int32_t count) {
  Names values;
  for (int32_t n = 1; n <= count; ++n) {
    std::string value = profile.readString(section, prefix + std::to_string(n), "");
    if (!value.empty()) values.push_back(value);
  }
  return values;
}

TEST(ProfileFileList, EntriesFollowCountAndSkipMissingOnes) {
  EXPECT_EQ(fileList("[FileList]\r\nCount=3\r\nFile1=a.exe\r\nFile3=c.dll\r\n"),
            (Names{"a.exe", "c.dll"}));
  EXPECT_EQ(fileList("[FileList]\r\nCount=2\r\nFile1=a\r\nFile2=b\r\nFile3=c\r\nFile4=d\r\n"
                     "File5=e\r\n"),
            (Names{"a", "b"}));
  EXPECT_EQ(fileList("[FileList]\r\nCount=0\r\nFile1=a\r\n"), Names{});
  EXPECT_EQ(fileList("[Version]\r\nNewVersion=6.3\r\n"), Names{});
  EXPECT_EQ(fileList("[FileList]\r\nCount=2\r\nFile1=same.dll\r\nFile2=same.dll\r\n"),
            (Names{"same.dll", "same.dll"}));
  // Numbers decide the order, not the lines; empty entries are skipped.
  EXPECT_EQ(fileList("[FileList]\r\nFile3=c\r\nFile2=\r\nCount=3\r\nFile1=sub\\a.dll\r\n"),
            (Names{"sub\\a.dll", "c"}));
}

TEST(ProfileFileList, CountFormsReadThroughTheFile) {
  auto withCount = [](const std::string& count) {
    return fileList("[FileList]\r\nCount=" + count + "\r\nFile1=a\r\nFile2=b\r\nFile3=c\r\n");
  };
  EXPECT_EQ(withCount("0x2"), (Names{"a", "b"}));
  EXPECT_EQ(withCount("$2"), (Names{"a", "b"}));
  EXPECT_EQ(withCount("2 "), (Names{"a", "b"}));  // the reader removes the blank first
  EXPECT_EQ(withCount("\"2 \""), Names{});        // inside quotes the blank stays
  EXPECT_EQ(withCount("$FFFFFFFF"), Names{});
  EXPECT_EQ(withCount("-5"), Names{});
  EXPECT_EQ(withCount("three"), Names{});
  EXPECT_EQ(withCount("2147483647"), (Names{"a", "b", "c"}));
}

TEST(ProfileFileList, HtmlBodyGivesNoEntriesAndNoVersion) {
  const std::string html =
      "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>\n<body>\n"
      "<h1>Not Found</h1>\n<p>The requested URL was not found.</p>\n</body></html>\n\r\n";
  EXPECT_EQ(fileList(html), Names{});
  EXPECT_EQ(ini::Profile(html).readString("Version", "NewVersion", ""), "");
}

TEST(ProfileInteger, AcceptsDecimalAndHexadecimalForms) {
  EXPECT_EQ(ini::profileInteger("0"), 0);
  EXPECT_EQ(ini::profileInteger("42"), 42);
  EXPECT_EQ(ini::profileInteger("007"), 7);
  EXPECT_EQ(ini::profileInteger("+3"), 3);
  EXPECT_EQ(ini::profileInteger("-5"), -5);
  EXPECT_EQ(ini::profileInteger("   12"), 12);
  EXPECT_EQ(ini::profileInteger("0x2"), 2);
  EXPECT_EQ(ini::profileInteger("0X1f"), 31);
  EXPECT_EQ(ini::profileInteger("x10"), 16);
  EXPECT_EQ(ini::profileInteger("X10"), 16);
  EXPECT_EQ(ini::profileInteger("$2"), 2);
  EXPECT_EQ(ini::profileInteger("-$10"), -16);
  EXPECT_EQ(ini::profileInteger("$FFFFFFFF"), -1);
  EXPECT_EQ(ini::profileInteger("$80000000"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ini::profileInteger("$000000010"), 16);
  EXPECT_EQ(ini::profileInteger("2147483647"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(ini::profileInteger("-2147483648"), std::numeric_limits<int32_t>::min());
}

TEST(ProfileInteger, AnythingElseIsZero) {
  for (const char* text :
       {"",           " ",           "-",           "+",          "$",           "0x",    "2 ",
        "\t2",        " 2 ",         "2\t",         "- 2",        "2a",          "1e3",   "1.5",
        "--1",        "+-1",         "$-1",         "0x-1",       "00x1",        "$G",    "0x1g",
        "2147483648", "-2147483649", "99999999999", "$100000000", "0x1FFFFFFFF", "\"2\"", "２"}) {
    EXPECT_EQ(ini::profileInteger(text), 0) << '"' << text << '"';
  }
}

TEST(ProfileReader, ValuesAreCutAt2047Bytes) {
  const std::string digits = [] {
    std::string s;
    for (int i = 0; i < 3000; ++i) s += static_cast<char>('0' + i % 10);
    return s;
  }();
  const ini::Profile profile("[L]\r\nv=" + digits + "\r\nq=\"" + digits.substr(0, 2047) +
                             "\"\r\nr=\"" + digits.substr(0, 2046) + "\"\r\n");
  EXPECT_EQ(profile.readString("L", "v", ""), digits.substr(0, 2047));
  // A quoted text of exactly 2047 bytes loses one more byte, as with the Windows reader.
  EXPECT_EQ(profile.readString("L", "q", ""), digits.substr(0, 2046));
  EXPECT_EQ(profile.readString("L", "r", ""), digits.substr(0, 2046));
  EXPECT_EQ(profile.readString("L", "missing", digits), digits.substr(0, 2047));
}

TEST(ProfileReader, NamelessSectionMissingFileAndDefaults) {
  const ini::Profile noSections("Count=2\r\nFile1=a.exe\r\n");
  EXPECT_EQ(noSections.readString("FileList", "Count", ""), "");
  EXPECT_EQ(noSections.readString("", "Count", ""), "2");
  EXPECT_EQ(fileList("Count=2\r\nFile1=a.exe\r\n"), Names{});

  const ini::Profile missing("");
  EXPECT_EQ(missing.readString("FileList", "Count", ""), "");
  EXPECT_EQ(missing.readString("FileList", "Count", "x  "), "x");
  EXPECT_EQ(missing.readString("FileList", "Count", "   "), " ");
  EXPECT_EQ(missing.readString("FileList", "Count", "'q'"), "q");
}

TEST(ProfileNumbered, KeyFormsThatCountAsNumbers) {
  const ini::Profile profile(
      "[FileList]\r\n file2 =two\r\nFile02=leading-zero\r\nFILE3\r\nFile3=hidden\r\n"
      "File+4=plus\r\nFile 4=inner-blank\r\nFile4='four'\r\nFile4=dup\r\nFile5=\"\"\r\n"
      "File6=six\r\nFilex=x\r\nFile=none\r\nFile1=one\r\n");
  EXPECT_EQ(profile.numberedValues("FileList", "File", 6), (Names{"one", "two", "four", "six"}));
  EXPECT_EQ(profile.numberedValues("filelist", " file", 5), (Names{"one", "two", "four"}));
  EXPECT_EQ(profile.numberedValues("FileList", "File", 6),
            readOneByOne(profile, "FileList", "File", 6));
  EXPECT_EQ(profile.numberedValues("FileList", "File", 0), Names{});
  EXPECT_EQ(profile.numberedValues("FileList", "File", -1), Names{});
}

TEST(ProfileNumbered, HugeCountCostsWhatTheFileHolds) {
  const ini::Profile profile("[FileList]\r\nFile1=a\r\nFile2=b\r\nFile3=c\r\nFile9999999999=x\r\n");
  EXPECT_EQ(profile.numberedValues("FileList", "File", std::numeric_limits<int32_t>::max()),
            (Names{"a", "b", "c"}));
  EXPECT_EQ(profile.numberedValues("FileList", "File", 3), (Names{"a", "b", "c"}));

  std::string many = "[FileList]\r\n";
  for (int i = 100000; i >= 1; --i) many += "File" + std::to_string(i) + "=f\r\n";
  EXPECT_EQ(ini::Profile(many)
                .numberedValues("FileList", "File", std::numeric_limits<int32_t>::max())
                .size(),
            100000u);
}

TEST(ProfileNumbered, AgreesWithOneByOneReadsOnGeneratedFiles) {
  std::mt19937 random(20240611);
  auto pick = [&](const std::vector<std::string>& options) {
    return options[std::uniform_int_distribution<size_t>(0, options.size() - 1)(random)];
  };
  const std::vector<std::string> headers = {
      "[FileList]", "[filelist]", "[ FileList ]", "[Other]", "[FileList", "[FileList] x", ""};
  const std::vector<std::string> names = {"File",  "file",  " FILE", "File0",
                                          "File+", "Fi le", ";File"};
  const std::vector<std::string> values = {"", "=", "=v", "= v ", "=\"q\"", "='", "=\"\"", "= =x"};
  const std::vector<std::string> ends = {"\r\n", "\n", "\r"};
  for (int file = 0; file < 2000; ++file) {
    std::string text;
    const int lines = std::uniform_int_distribution<int>(0, 30)(random);
    for (int line = 0; line < lines; ++line) {
      if (std::uniform_int_distribution<int>(0, 9)(random) == 0) {
        text += pick(headers);
      } else {
        const int number = std::uniform_int_distribution<int>(0, 13)(random);
        std::string value = pick(values);
        if (value.find('v') != std::string::npos) value += std::to_string(line);
        text += pick(names) + std::to_string(number) + pick({"", " ", "\t"}) + value;
      }
      text += pick(ends);
    }
    const ini::Profile profile(text);
    const int32_t count = std::uniform_int_distribution<int32_t>(-1, 16)(random);
    for (const char* section : {"FileList", "Other", ""}) {
      ASSERT_EQ(profile.numberedValues(section, "File", count),
                readOneByOne(profile, section, "File", std::min(count, 16)))
          << "count " << count << " section " << section << " file:\n"
          << text;
    }
    ASSERT_EQ(profile.numberedValues("FileList", "File", std::numeric_limits<int32_t>::max()),
              readOneByOne(profile, "FileList", "File", 16))
        << text;
  }
}

}  // namespace
