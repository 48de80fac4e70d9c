// Copying installed files aside, on real files.
#include <gtest/gtest.h>

#include "doubles.h"
#include "umain/umain.h"

using namespace testing_doubles;
namespace fs = std::filesystem;

namespace {

class BackupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UMain::ResetUnitState();
    fs::create_directories(app / "UpdateBak");
    UMain::UpdatePath = dir.windowsForm() + "app\\";
    UMain::BackupPath = UMain::UpdatePath + "UpdateBak\\";
  }
  void TearDown() override { UMain::ResetUnitState(); }

  // Every file below the directory with its bytes.
  static std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
      if (entry.is_regular_file())
        files[fs::relative(entry.path(), root).generic_string()] = readAll(entry.path());
    return files;
  }

  TempWorkDir dir;
  fs::path app = dir.path() / "app";
  FakePlatform platform;
  RecordingWindow window;
  UMain::TTFrmUpdate form{platform, window, {"UPDATE"}};
};

TEST_F(BackupTest, InstalledFilesAreCopiedAsideAndMissingOnesLeaveNoTrace) {
  writeAll(app / "client.exe", "old client");
  writeAll(app / "UpdateBak" / "client.exe", "older client");
  writeAll(app / "UpdateBak" / "other.txt", "kept");
  fs::create_directory(app / "sub");
  writeAll(app / "sub" / "x.dll", "old x");
  UMain::UpdateFiles = {"client.exe", "missing.dll", "sub\\x.dll", "new\\y.dll"};
  form.BackupOldFiles();
  EXPECT_EQ(Tree(app), (std::map<std::string, std::string>{
                           {"client.exe", "old client"},
                           {"sub/x.dll", "old x"},
                           {"UpdateBak/client.exe", "old client"},
                           {"UpdateBak/other.txt", "kept"},
                           {"UpdateBak/sub/x.dll", "old x"},
                       }));
  EXPECT_TRUE(fs::is_directory(app / "sub"));
  EXPECT_FALSE(fs::exists(app / "UpdateBak" / "new"));
}

TEST_F(BackupTest, TimeStampsSurviveTheBackup) {
  writeAll(app / "a.dll", "a");
  auto stamp = fs::last_write_time(app / "a.dll") - std::chrono::hours(48);
  fs::last_write_time(app / "a.dll", stamp);
  UMain::UpdateFiles = {"a.dll"};
  form.BackupOldFiles();
  EXPECT_EQ(fs::last_write_time(app / "UpdateBak" / "a.dll"), stamp);
}

TEST_F(BackupTest, NameListedTwiceKeepsItsBackup) {
  writeAll(app / "a.dll", "old a");
  UMain::UpdateFiles = {"a.dll", "a.dll"};
  form.BackupOldFiles();
  EXPECT_EQ(readAll(app / "UpdateBak" / "a.dll"), "old a");
  form.RestoreOldFiles();
  EXPECT_EQ(readAll(app / "a.dll"), "old a");
}

TEST_F(BackupTest, FileThatCannotBeCopiedStaysInstalledAndStopsTheBackup) {
  writeAll(app / "a.dll", "old a");
  writeAll(app / "b.dll", "old b");
  writeAll(app / "c.dll", "old c");
  fs::create_directory(app / "UpdateBak" / "b.dll");  // a directory in the copy's way
  UMain::UpdateFiles = {"a.dll", "b.dll", "c.dll"};
  EXPECT_THROW(form.BackupOldFiles(), base::Error);
  EXPECT_EQ(readAll(app / "b.dll"), "old b");
  EXPECT_EQ(readAll(app / "c.dll"), "old c");
  form.RestoreOldFiles();
  EXPECT_EQ(readAll(app / "a.dll"), "old a");
  EXPECT_EQ(readAll(app / "b.dll"), "old b");
  EXPECT_EQ(readAll(app / "c.dll"), "old c");
}

TEST_F(BackupTest, EmptyListDoesNothing) {
  writeAll(app / "a.dll", "old a");
  const auto before = Tree(app);
  UMain::UpdateFiles.clear();
  form.BackupOldFiles();
  form.RestoreOldFiles();
  EXPECT_EQ(Tree(app), before);
}

}  // namespace
