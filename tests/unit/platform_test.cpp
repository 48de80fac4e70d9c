// The provider of the system the tests run on: the same expectations hold for
// the Windows services (under wine) and for their POSIX replacements.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "doubles.h"
#include "pe_fixture.h"
#include "base/error.h"
#include "base/utf.h"
#include "base/windows_case.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/file_name_case.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace {

namespace fs = std::filesystem;
using testing_doubles::readAll;
using testing_doubles::writeAll;

class PlatformTest : public ::testing::Test {
 protected:
  // A path below the test's directory in the program's own form.
  std::string path(const std::string& name) const { return dir.windowsForm() + name; }
  fs::path file(const std::string& name) const { return dir.path() / name; }

  platform::Platform& system = platform::systemPlatform();
  testing_doubles::TempWorkDir dir;
};

TEST_F(PlatformTest, CreateFileWritesAndTruncates) {
  writeAll(file("a.txt"), "old contents, longer than the new ones");
  std::unique_ptr<platform::OutputFile> out;
  ASSERT_EQ(system.createFile(path("a.txt"), out), 0u);
  ASSERT_TRUE(out);
  EXPECT_EQ(out->write("new", 3), 0u);
  EXPECT_EQ(out->write("\0\r\n", 3), 0u);
  EXPECT_EQ(out->close(), 0u);
  EXPECT_EQ(readAll(file("a.txt")), std::string("new\0\r\n", 6));
  EXPECT_EQ(system.readFile(path("a.txt")), std::string("new\0\r\n", 6));
}

TEST_F(PlatformTest, CreateFileErrorCodes) {
  fs::create_directory(file("folder"));
  writeAll(file("plain.txt"), "x");
  std::unique_ptr<platform::OutputFile> out;
  EXPECT_EQ(system.createFile(path("missing\\a.txt"), out), base::kErrorPathNotFound);
  EXPECT_EQ(system.createFile(path("plain.txt\\a.txt"), out), base::kErrorPathNotFound);
  EXPECT_EQ(system.createFile(path("folder"), out), base::kErrorAccessDenied);
  EXPECT_FALSE(out);
  EXPECT_TRUE(fs::is_directory(file("folder")));
  // What the user reads for such a failure.
  try {
    base::raiseCannotCreate("x", system.systemErrorText(base::kErrorPathNotFound));
  } catch (const base::Error& e) {
    EXPECT_GT(e.message().size(), std::string("Cannot create file \"x\". ").size());
    EXPECT_NE(e.message().back(), '.');
#ifndef _WIN32
    EXPECT_EQ(e.message(), "Cannot create file \"x\". The system cannot find the path specified");
#endif
  }
}

TEST_F(PlatformTest, AnOpenFileIsNotSharedUntilClosed) {
  std::unique_ptr<platform::OutputFile> first, second;
  ASSERT_EQ(system.createFile(path("held.txt"), first), 0u);
  EXPECT_EQ(first->write("kept", 4), 0u);
  EXPECT_EQ(system.createFile(path("held.txt"), second), base::kErrorSharingViolation);
  EXPECT_FALSE(second);
  EXPECT_FALSE(system.readFile(path("held.txt")));
  EXPECT_FALSE(system.copyFile(path("held.txt"), path("copy.txt")));
  EXPECT_EQ(first->close(), 0u);
  // The refused creation truncated nothing.
  EXPECT_EQ(readAll(file("held.txt")), "kept");
  EXPECT_EQ(system.createFile(path("held.txt"), second), 0u);
}

TEST_F(PlatformTest, CreateDirectoryMakesOneLevel) {
  EXPECT_EQ(system.createDirectory(path("UpdateBak\\")), 0u);
  EXPECT_TRUE(fs::is_directory(file("UpdateBak")));
  EXPECT_TRUE(system.directoryExists(path("UpdateBak\\")));
  EXPECT_EQ(system.createDirectory(path("UpdateBak\\")), base::kErrorAlreadyExists);
  EXPECT_EQ(system.createDirectory(path("a\\b")), base::kErrorPathNotFound);
  EXPECT_FALSE(fs::exists(file("a")));
  writeAll(file("taken"), "x");
  EXPECT_EQ(system.createDirectory(path("taken")), base::kErrorAlreadyExists);
  EXPECT_FALSE(system.directoryExists(path("taken")));
  EXPECT_FALSE(system.directoryExists(path("none")));
}

TEST_F(PlatformTest, FilesExistAndAreDeleted) {
  writeAll(file("f.txt"), "x");
  fs::create_directory(file("folder"));
  EXPECT_TRUE(system.fileExists(path("f.txt")));
  EXPECT_FALSE(system.fileExists(path("folder")));
  EXPECT_FALSE(system.fileExists(path("none.txt")));
  EXPECT_FALSE(system.deleteFile(path("folder")));
  EXPECT_TRUE(system.deleteFile(path("f.txt")));
  EXPECT_FALSE(fs::exists(file("f.txt")));
  EXPECT_FALSE(system.deleteFile(path("f.txt")));
  EXPECT_FALSE(system.readFile(path("f.txt")));
}

TEST_F(PlatformTest, CopyFileKeepsContentsAndTimeAndOverwrites) {
  const std::string contents("binary\0\xff contents", 17);
  writeAll(file("from.dll"), contents);
  const auto old = fs::last_write_time(file("from.dll")) - std::chrono::hours(24 * 400);
  fs::last_write_time(file("from.dll"), old);
  writeAll(file("to.dll"), "an older target, longer than the source");

  EXPECT_TRUE(system.copyFile(path("from.dll"), path("to.dll")));
  EXPECT_EQ(readAll(file("to.dll")), contents);
  EXPECT_EQ(fs::last_write_time(file("to.dll")), old);
  EXPECT_TRUE(system.copyFile(path("from.dll"), path("new.dll")));
  EXPECT_EQ(readAll(file("new.dll")), contents);
  EXPECT_EQ(fs::last_write_time(file("new.dll")), old);

  // A missing source, or a folder, copies nothing and leaves the target alone.
  writeAll(file("to.dll"), "target");
  fs::create_directory(file("folder"));
  EXPECT_FALSE(system.copyFile(path("none.dll"), path("to.dll")));
  EXPECT_FALSE(system.copyFile(path("folder"), path("to.dll")));
  EXPECT_EQ(readAll(file("to.dll")), "target");
  // Onto itself the file keeps its contents.
  EXPECT_FALSE(system.copyFile(path("to.dll"), path("to.dll")));
  EXPECT_EQ(readAll(file("to.dll")), "target");
}

TEST_F(PlatformTest, ReplaceFilePutsOneFileInPlaceOfAnother) {
  writeAll(file("a.part"), "new a");
  writeAll(file("a.dll"), "old a, longer than the new one");
  EXPECT_EQ(system.replaceFile(path("a.part"), path("a.dll")), 0u);
  EXPECT_EQ(readAll(file("a.dll")), "new a");
  EXPECT_FALSE(fs::exists(file("a.part")));
  fs::create_directory(file("sub"));
  writeAll(file("sub") / "b.part", "new b");
  EXPECT_EQ(system.replaceFile("sub\\b.part", "sub\\b.dll"), 0u);
  EXPECT_EQ(readAll(file("sub") / "b.dll"), "new b");
  EXPECT_EQ(system.replaceFile(path("none.part"), path("a.dll")), base::kErrorFileNotFound);
  EXPECT_EQ(readAll(file("a.dll")), "new a");
}

// A file is held by this program's own open file, and by a reader that shares
// reading only, as a program running from it does.
TEST_F(PlatformTest, FileHeldOpenElsewhereIsNotReplaceable) {
  EXPECT_EQ(system.checkReplaceable(path("none.dll")), 0u);
  EXPECT_EQ(system.checkReplaceable(path("nodir\\none.dll")), 0u);
  std::unique_ptr<platform::OutputFile> out;
  ASSERT_EQ(system.createFile(path("a.dll"), out), 0u);
  EXPECT_EQ(system.checkReplaceable(path("a.dll")), base::kErrorSharingViolation);
  EXPECT_EQ(out->close(), 0u);
  EXPECT_EQ(system.checkReplaceable(path("a.dll")), 0u);
#ifdef _WIN32
  HANDLE reader = CreateFileA(path("a.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(system.checkReplaceable(path("a.dll")), base::kErrorSharingViolation);
  CloseHandle(reader);
#else
  const int reader = open(file("a.dll").c_str(), O_RDONLY);
  ASSERT_EQ(flock(reader, LOCK_SH), 0);
  EXPECT_EQ(system.checkReplaceable(path("a.dll")), base::kErrorSharingViolation);
  close(reader);
#endif
  EXPECT_EQ(system.checkReplaceable(path("a.dll")), 0u);
  EXPECT_TRUE(fs::exists(file("a.dll")));
}

TEST_F(PlatformTest, BackslashesSeparateDirectoriesOfRelativePaths) {
  fs::create_directory(file("sub"));
  std::unique_ptr<platform::OutputFile> out;
  ASSERT_EQ(system.createFile("sub\\new.txt", out), 0u);
  EXPECT_EQ(out->close(), 0u);
  EXPECT_TRUE(fs::is_regular_file(file("sub") / "new.txt"));
  EXPECT_TRUE(system.fileExists(".\\sub\\new.txt"));
  EXPECT_TRUE(system.directoryExists("sub\\"));
}

TEST_F(PlatformTest, FullPathIsAbsoluteInTheSystemsForm) {
  const fs::path cwd = fs::current_path();
  EXPECT_EQ(system.fullPath("update.ini"), (cwd / "update.ini").string());
  EXPECT_EQ(system.fullPath("sub\\..\\.\\update.ini"), (cwd / "update.ini").string());
  EXPECT_EQ(system.fullPath(path("x\\y.txt")), (dir.path() / "x" / "y.txt").string());
}

TEST_F(PlatformTest, FileVersionOfTheClient) {
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    writeAll(file("client.exe"),
             pe_fixture::build({.pe32plus = plus, .ms = 0xFFFF0001, .ls = 0x00020003}).bytes);
    auto version = system.fileVersion(path("client.exe"));
    ASSERT_TRUE(version);
    EXPECT_EQ(version->ms, 0xFFFF0001u);
    EXPECT_EQ(version->ls, 0x00020003u);
  }
  writeAll(file("client.exe"), "@echo off\r\nrem not a program\r\n");
  EXPECT_FALSE(system.fileVersion(path("client.exe")));
  EXPECT_FALSE(system.fileVersion(path("none.exe")));
  EXPECT_FALSE(system.fileVersion(dir.windowsForm()));
}

TEST_F(PlatformTest, ModulePathNamesTheRunningProgram) {
  const std::string module = system.modulePath();
  EXPECT_TRUE(fs::is_regular_file(module)) << module;
  EXPECT_NE(module.find("unit_tests"), std::string::npos) << module;
}

// The client's key as both systems store it: the installation directory as
// an expandable string with its terminating NULs, and a number.
void expectClientKey(platform::Platform& system, const char* key) {
  auto values = system.openKeyReadOnly(key, platform::kKeyQueryValue);
  ASSERT_TRUE(values);
  EXPECT_EQ(values->readString("updatepath"), "%ProgramFiles%\\Molva");
  EXPECT_TRUE(values->valueExists("Count"));
  EXPECT_FALSE(values->valueExists("URL"));
  EXPECT_EQ(values->readString("URL"), "");
  try {
    values->readString("Count");
    ADD_FAILURE() << "a number read as a string";
  } catch (const base::Error& e) {
    EXPECT_EQ(e.message(), "Invalid data type for 'Count'");
  }
}

#ifdef _WIN32

// The tests run with the Chinese ANSI code page 936, whose double-byte
// characters may have "\\" as their trail byte.
TEST_F(PlatformTest, CharactersFollowTheAnsiCodePage) {
  if (GetACP() != 936) GTEST_SKIP() << "ANSI code page " << GetACP();
  EXPECT_EQ(system.charLength("\x81\x5C", 0), 2u);
  EXPECT_EQ(system.charLength("\x5C\x81", 0), 1u);
  EXPECT_EQ(system.charLength("\x81", 0), 1u);
}

TEST_F(PlatformTest, RegistryValuesAreReadAsStored) {
  const std::string key = "SOFTWARE\\UpdaterTest" + std::to_string(GetCurrentProcessId());
  HKEY handle;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &handle, nullptr) != ERROR_SUCCESS)
    GTEST_SKIP() << "no write access to HKEY_LOCAL_MACHINE";
  const char path[] = "%ProgramFiles%\\Molva\0junk";  // the string ends at its first NUL
  RegSetValueExA(handle, "UpdatePath", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(path),
                 sizeof path);
  const DWORD count = 1;
  RegSetValueExA(handle, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                 sizeof count);
  RegCloseKey(handle);

  expectClientKey(system, key.c_str());
  EXPECT_FALSE(system.openKeyReadOnly(key + "\\Missing", platform::kKeyRead));
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
}

#else

TEST_F(PlatformTest, RegistryComesFromTheExportFile) {
  const std::string registry = file("hklm.reg").string();
  const char* previous = std::getenv("HKLM_REG_FILE");
  const std::string saved = previous ? previous : "";
  setenv("HKLM_REG_FILE", registry.c_str(), 1);

  EXPECT_FALSE(system.openKeyReadOnly("SoftWare\\Molva", platform::kKeyRead));
  writeAll(
      registry,
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Molva]\r\n"
      "\"UpdatePath\"=hex(2):25,00,50,00,72,00,6f,00,67,00,72,00,61,00,6d,00,46,00,69,00,\\\r\n"
      "  6c,00,65,00,73,00,25,00,5c,00,4d,00,6f,00,6c,00,76,00,61,00,00,00,6a,00,75,00,\\\r\n"
      "  6e,00,6b,00,00,00\r\n"  // the string ends at its first NUL
      "\"Count\"=dword:00000001\r\n");
  expectClientKey(system, "SoftWare\\Molva");
  EXPECT_FALSE(system.openKeyReadOnly("SoftWare\\Molva\\Missing", platform::kKeyRead));
  writeAll(registry, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Molva]\r\n");
  EXPECT_FALSE(system.openKeyReadOnly("SoftWare\\Molva", platform::kKeyRead));

  if (previous)
    setenv("HKLM_REG_FILE", saved.c_str(), 1);
  else
    unsetenv("HKLM_REG_FILE");
}

// The user's locale decides what a character is and how decimals are
// written: code page 936 has double-byte characters whose trail byte is "\\".
TEST_F(PlatformTest, CharactersAndDecimalSeparatorFollowTheUsersLocale) {
  const char* previous = std::getenv("LC_ALL");
  const std::string saved = previous ? previous : "";
  setenv("LC_ALL", "zh_CN.GBK", 1);
  EXPECT_EQ(system.charLength("\x81\x5C", 0), 2u);
  EXPECT_EQ(system.charLength("\x5C\x81", 0), 1u);
  EXPECT_EQ(system.charLength("\x81", 0), 1u);  // a lead byte at the end stands alone
  setenv("LC_ALL", "de_DE.UTF-8", 1);
  EXPECT_EQ(system.decimalSeparator(), ',');
  EXPECT_EQ(system.charLength("\xE4\xB8\xAD\x5C", 0), 3u);
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(system.decimalSeparator(), '.');
  if (previous)
    setenv("LC_ALL", saved.c_str(), 1);
  else
    unsetenv("LC_ALL");
}

TEST_F(PlatformTest, CopyFileKeepsPermissions) {
  writeAll(file("tool"), "#!/bin/sh\n");
  fs::permissions(file("tool"), fs::perms::owner_all | fs::perms::group_read);
  EXPECT_TRUE(system.copyFile(path("tool"), path("copy")));
  EXPECT_EQ(fs::status(file("copy")).permissions(), fs::perms::owner_all | fs::perms::group_read);
}

// The text of a file once a started program has written it (renamed into
// place, so that it is whole).
std::string waitForFile(const fs::path& path) {
  for (int i = 0; i < 200 && !fs::exists(path); ++i) usleep(50000);
  return readAll(path);
}

TEST_F(PlatformTest, StartedProgramsRunDetached) {
  // The command reports its standard input and its session.
  system.startHidden(
      "echo $(readlink /proc/$$/fd/0) $(cut -d' ' -f6 /proc/$$/stat) >report.tmp &&"
      " mv report.tmp report.txt");
  std::istringstream report(waitForFile(file("report.txt")));
  std::string input;
  pid_t session = 0;
  report >> input >> session;
  EXPECT_EQ(input, "/dev/null");
  EXPECT_NE(session, 0);
  EXPECT_NE(session, getsid(0));

  fs::create_directory(file("sub"));
  writeAll(file("sub") / "client.exe", "#!/bin/sh\necho started >ran.tmp && mv ran.tmp ran.txt\n");
  fs::permissions(file("sub") / "client.exe", fs::perms::owner_all);
  system.shellOpen("sub\\client.exe");
  EXPECT_EQ(waitForFile(file("ran.txt")), "started\n");
}

#endif

// The publisher's tool refuses two names that differ only in case by its own
// table, on any system; the Windows updater keys names by the system's table
// (sameFileKey). Where they disagree on a character, pack lets through two
// files that the updater takes for one, or refuses two that it keeps apart.
TEST(WindowsCase, TheToolsTableIsTheSystems) {
#ifndef _WIN32
  GTEST_SKIP() << "the system's table is Windows' own";
#else
  std::wstring units;
  for (wchar_t c = 1; c != 0; ++c)
    if (c < 0xD800 || c > 0xDFFF) units += c;  // every character of the BMP
  const std::optional<std::wstring> upper = platform::upperCaseAsFileNames(units);
  ASSERT_TRUE(upper);
  ASSERT_EQ(upper->size(), units.size());
  std::ostringstream differing;
  for (size_t i = 0; i < units.size(); ++i) {
    std::string character, system;
    base::appendUtf8(character, units[i]);
    base::appendUtf8(system, (*upper)[i]);
    const std::string table = base::foldedAsWindows(character);
    if (table != system)
      differing << std::hex << " U+" << static_cast<uint32_t>(units[i]) << " (table: " << table
                << ", system: " << system << ")";
  }
  EXPECT_EQ(differing.str(), "") << "characters the two fold apart";
#endif
}

}  // namespace
