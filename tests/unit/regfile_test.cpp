#include "platform/regfile.h"

#include <gtest/gtest.h>

namespace {

using platform::RegFile;

const char kExport5[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Molva]\r\n"
    "\"UpdatePath\"=\"C:\\\\Program Files\\\\Molva\\\\\"\r\n"
    "\"URL\"=\"http://update.example/client/\"\r\n"
    "\r\n";

// The value's data, or "<missing>".
std::string value(const std::optional<RegFile>& file, const std::string& key,
                  const std::string& name, uint32_t* type = nullptr) {
  if (!file) return "<no file>";
  const RegFile::Values* values = file->findKey(key);
  if (!values) return "<no key>";
  const platform::RegValue* v = RegFile::findValue(*values, name);
  if (!v) return "<missing>";
  if (type) *type = v->type;
  return v->data;
}

std::string utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

TEST(RegFile, ReadsBothFormatsAndTheirEncodings) {
  const std::string body =
      "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Molva]\r\n\"UpdatePath\"=\"C:\\\\App\"\r\n";
  for (const std::string& bytes :
       {"REGEDIT4" + body, "Windows Registry Editor Version 5.00" + body,
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00" + body,
        utf16("Windows Registry Editor Version 5.00" + body),
        std::string("REGEDIT4\n[HKLM\\SOFTWARE\\Molva]\n\"UpdatePath\"=\"C:\\\\App\"")}) {
    SCOPED_TRACE(bytes);
    EXPECT_EQ(value(RegFile::parse(bytes), "SoftWare\\Molva", "UpdatePath"), "C:\\App");
  }
  // Non-ASCII text of a UTF-16 export comes out as UTF-8.
  std::string chinese = utf16("Windows Registry Editor Version 5.00\r\n[HKLM\\K]\r\n\"P\"=\"");
  chinese += "\x2d\x4e";  // U+4E2D
  chinese += utf16("\"\r\n").substr(2);
  EXPECT_EQ(value(RegFile::parse(chinese), "K", "P"), "\xE4\xB8\xAD");
}

TEST(RegFile, OnlyFilesWithAHeaderAreRegistryFiles) {
  for (const std::string& bytes :
       {std::string(), std::string("REGEDIT"), std::string("Windows Registry Editor Version 5.0"),
        std::string("\r\nREGEDIT4\r\n"), std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"),
        std::string("\xFE\xFFREGEDIT4"), std::string("R\0E\0G\0E\0D\0I\0T\0004\0", 16)}) {
    SCOPED_TRACE(bytes);
    EXPECT_FALSE(RegFile::parse(bytes).has_value());
  }
}

TEST(RegFile, KeysMatchWithoutCaseAndIncludeTheirParents) {
  auto file = RegFile::parse(std::string(kExport5) +
                             "[hklm\\Software\\Other\\Deep\\Key]\r\n"
                             "[HKEY_CURRENT_USER\\SOFTWARE\\User]\r\n"
                             "\"x\"=\"y\"\r\n");
  ASSERT_TRUE(file);
  EXPECT_TRUE(file->findKey("software\\molva"));
  EXPECT_TRUE(file->findKey("SOFTWARE\\MOLVA\\"));
  EXPECT_TRUE(file->findKey("SoftWare\\Other"));
  EXPECT_TRUE(file->findKey("SOFTWARE\\OTHER\\DEEP\\KEY"));
  EXPECT_FALSE(file->findKey("SOFTWARE\\Molv"));
  EXPECT_FALSE(file->findKey("SOFTWARE\\Molva\\Sub"));
  EXPECT_FALSE(file->findKey("SOFTWARE\\User"));
  EXPECT_EQ(value(file, "SOFTWARE\\MOLVA", "updatepath"), "C:\\Program Files\\Molva\\");
}

TEST(RegFile, ValueTypesAndEscapes) {
  auto file = RegFile::parse(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_LOCAL_MACHINE\\K]\n"
      "@=\"default\"\n"
      "\"quote \\\"d\\\"\"=\"a \\\"b\\\" \\\\c \\d\" ; comment\n"
      "\"Expand\"=hex(2):25,00,41,00,25,00,5c,00,\\\n"
      "  78,00,00,00\n"
      "\"Num\"=dword:0000001f\n"
      "\"Bin\"=hex:00,ff,\\\n"
      "    10\n"
      "\"Empty\"=hex:\n"
      "\"Multi\"=hex(7):41,00,00,00,00,00\n");
  uint32_t type = 0;
  EXPECT_EQ(value(file, "K", "", &type), "default");
  EXPECT_EQ(value(file, "K", "QUOTE \"D\""), "a \"b\" \\c \\d");
  EXPECT_EQ(value(file, "K", "expand", &type), std::string("%A%\\x\0", 6));
  EXPECT_EQ(type, platform::kRegExpandSz);
  EXPECT_EQ(value(file, "K", "Num", &type), std::string("\x1f\0\0\0", 4));
  EXPECT_EQ(type, platform::kRegDword);
  EXPECT_EQ(value(file, "K", "Bin", &type), std::string("\x00\xff\x10", 3));
  EXPECT_EQ(type, platform::kRegBinary);
  EXPECT_EQ(value(file, "K", "Empty"), "");
  EXPECT_EQ(value(file, "K", "Multi", &type), std::string("A\0\0\0\0\0", 6));
  EXPECT_EQ(type, 7u);

  // A version 4 file keeps the bytes of hex strings as they are.
  EXPECT_EQ(value(RegFile::parse("REGEDIT4\n[HKLM\\K]\n\"E\"=hex(2):41,42,00\n"), "K", "E"),
            std::string("AB\0", 3));
}

TEST(RegFile, SkipsDeletionsAndLinesItCannotRead) {
  auto file = RegFile::parse(
      "REGEDIT4\n"
      "[HKEY_LOCAL_MACHINE\\K]\n"
      "\"Good1\"=\"1\"\n"
      "\"Unterminated\"=\"abc\n"
      "\"BadHex\"=hex:4g,00\n"
      "\"LongDword\"=dword:123456789\n"
      "\"NoEquals\" \"x\"\n"
      "\"Trailing\"=\"x\" y\n"
      "\"Gone\"=-\n"
      "Name=\"unquoted\"\n"
      "\"Good2\"=\"2\"\n"
      "\"Good2\"=\"replaced\"\n"
      "[-HKEY_LOCAL_MACHINE\\K]\n"
      "\"AfterDeletion\"=\"x\"\n"
      "[HKEY_LOCAL_MACHINE\\K\n"
      "\"AfterBrokenKey\"=\"x\"\n"
      "[HKEY_LOCAL_MACHINE\\K]\n"
      "\"Good3\"=\"3\"\n"
      "\"Continued\"=hex:01,\\");  // a continuation at the end of the file
  ASSERT_TRUE(file);
  const RegFile::Values* values = file->findKey("K");
  ASSERT_TRUE(values);
  std::string names;
  for (const auto& [name, v] : *values) names += name + "=" + v.data + ";";
  EXPECT_EQ(names, "good1=1;good2=replaced;good3=3;");
}

TEST(RegFile, TruncatedFilesKeepOnlyWholeValues) {
  const std::string full = std::string(kExport5) + "\"Num\"=dword:00000005\r\n";
  for (const std::string& bytes : {full, utf16(full)}) {
    for (size_t size = 0; size <= bytes.size(); ++size) {
      auto file = RegFile::parse(bytes.substr(0, size));
      const std::string path = value(file, "SOFTWARE\\Molva", "UpdatePath");
      if (path != "<no file>" && path != "<no key>" && path != "<missing>") {
        EXPECT_EQ(path, "C:\\Program Files\\Molva\\") << size;
      }
    }
  }
}

}  // namespace
