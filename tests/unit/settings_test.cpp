// Installation settings from the registry and the installed client's version.
#include <gtest/gtest.h>

#include "doubles.h"
#include "umain/form.h"

using namespace testing_doubles;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  std::map<std::string, RegistryValue>& key() { return platform.registry["SoftWare\\Molva"]; }
  std::string app() const { return dir.windowsForm() + "app"; }

  TempWorkDir dir;
  FakePlatform platform;
  RecordingWindow window;
  UMain::TTFrmUpdate form{platform, window, {"UPDATE"}};
  UMain::UpdateRun& run = form.run();
};

TEST_F(SettingsTest, InstallationDirectoryGetsExactlyOneTrailingBackslash) {
  std::filesystem::create_directory(dir.path() / "app");
  for (std::string stored : {app(), app() + "\\"}) {
    key()["UpdatePath"] = {RegistryValue::String, stored};
    UMain::UpdateRun run{platform, window, {"UPDATE"}};
    run.LoadSettings();
    EXPECT_EQ(run.settings().updatePath, app() + "\\");
    EXPECT_EQ(run.settings().backupPath, app() + "\\UpdateBak\\");
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "app" / "UpdateBak"));
  EXPECT_EQ(window.endRequests, 0);
  EXPECT_EQ(platform.openAttempts.front(), platform::kKeyRead);
}

// In code page 936 the trail byte of a double-byte character may be "\\"
// (乗 is 81 5C): such a path has no separator at its end yet.
TEST_F(SettingsTest, TrailingBackslashIsACharacterNotAByte) {
  platform.codePage936 = true;
  key()["UpdatePath"] = {RegistryValue::String, "C:\\\x81\x5C"};
  UMain::UpdateRun run{platform, window, {}};  // no backup directory to make
  run.LoadSettings();
  EXPECT_EQ(run.settings().updatePath, "C:\\\x81\x5C\\");
  EXPECT_EQ(run.settings().backupPath, "C:\\\x81\x5C\\UpdateBak\\");
}

TEST_F(SettingsTest, UrlValueReplacesTheDefaultAsStoredEvenWhenEmpty) {
  std::filesystem::create_directory(dir.path() / "app");
  key()["UpdatePath"] = {RegistryValue::String, app()};
  run.LoadSettings();
  EXPECT_EQ(run.settings().baseURL, UMain::DefaultBaseURL());
  EXPECT_EQ(run.settings().baseURL.rfind("http://", 0), 0u);
  EXPECT_EQ(run.settings().baseURL.substr(run.settings().baseURL.size() - 18),
            "/downloads/client/");

  key()["URL"] = {RegistryValue::String, "http://10.0.0.1:8080/rel"};
  run.LoadSettings();
  EXPECT_EQ(run.settings().baseURL, "http://10.0.0.1:8080/rel");

  key()["URL"] = {RegistryValue::String, ""};
  run.LoadSettings();
  EXPECT_EQ(run.settings().baseURL, "");
}

TEST_F(SettingsTest, MissingKeyWarnsAndEndsWithSettingsUntouched) {
  run.LoadSettings();
  EXPECT_EQ(platform.openAttempts, (std::vector<uint32_t>{0x20019, 0x20009, 0x1}));
  EXPECT_EQ(window.events, (std::vector<std::string>{"box 48 系统提示|没有找到源程序！", "end"}));
  EXPECT_EQ(run.settings().updatePath, "");
  EXPECT_EQ(run.settings().backupPath, "");
  EXPECT_EQ(run.settings().baseURL, UMain::DefaultBaseURL());
}

TEST_F(SettingsTest, MissingOrEmptyInstallationDirectoryIsTreatedAsAMissingKey) {
  key()["URL"] = {RegistryValue::String, "http://x/"};
  run.LoadSettings();
  key()["UpdatePath"] = {RegistryValue::String, ""};
  run.LoadSettings();
  EXPECT_EQ(window.events, (std::vector<std::string>{"box 48 系统提示|没有找到源程序！", "end",
                                                     "box 48 系统提示|没有找到源程序！", "end"}));
  EXPECT_EQ(run.settings().updatePath, "");
  EXPECT_EQ(run.settings().baseURL, UMain::DefaultBaseURL());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(SettingsTest, ValuesOfANonStringTypeRaiseAndEndTheApplication) {
  key()["UpdatePath"] = {RegistryValue::Dword, "1"};
  EXPECT_THROW(
      {
        try {
          run.LoadSettings();
        } catch (const base::Error& e) {
          EXPECT_EQ(e.message(), "Invalid data type for 'UpdatePath'");
          throw;
        }
      },
      base::Error);
  key()["UpdatePath"] = {RegistryValue::String, app()};
  key()["URL"] = {RegistryValue::Dword, "1"};
  EXPECT_THROW(run.LoadSettings(), base::Error);
  EXPECT_EQ(window.endRequests, 2);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "app"));
}

TEST_F(SettingsTest, ExistingBackupDirectoryIsLeftAsItIs) {
  std::filesystem::create_directories(dir.path() / "app" / "UpdateBak");
  writeAll(dir.path() / "app" / "UpdateBak" / "old.dll", "old bytes");
  key()["UpdatePath"] = {RegistryValue::String, app()};
  run.LoadSettings();
  EXPECT_EQ(readAll(dir.path() / "app" / "UpdateBak" / "old.dll"), "old bytes");
}

TEST_F(SettingsTest, BackupDirectoryThatCannotBeMadeRaisesAnInputOutputError) {
  key()["UpdatePath"] = {RegistryValue::String, app()};  // "app" does not exist
  try {
    run.LoadSettings();
    FAIL() << "no error raised";
  } catch (const base::Error& e) {
    EXPECT_EQ(e.message(), "Invalid filename");
  }

  std::filesystem::create_directory(dir.path() / "app");
  writeAll(dir.path() / "app" / "UpdateBak", "a file in the way");
  try {
    run.LoadSettings();
    FAIL() << "no error raised";
  } catch (const base::Error& e) {
    EXPECT_EQ(e.message(), "I/O error 183");
  }
  EXPECT_EQ(window.endRequests, 0);
}

TEST_F(SettingsTest, WindowCreationStopsAtAFailedBackupDirectory) {
  key()["UpdatePath"] = {RegistryValue::String, app()};
  platform.versions[app() + "\\client.exe"] = {0x0002000A, 0x00000007};
  form.CloseAllowed = false;
  ui::runHandler(window, "Updater", [&] { form.FormCreate(); });
  EXPECT_EQ(window.events, std::vector<std::string>{"box 16 Updater|Invalid filename."});
  EXPECT_EQ(run.OldVersion, "");
}

TEST_F(SettingsTest, VersionTextHasTheFourHalvesOfTheFixedFileVersion) {
  platform.versions["C:\\c\\a.exe"] = {0x0002000A, 0x00000007};
  platform.versions["C:\\c\\b.exe"] = {0xFFFF0001, 0x00020003};
  EXPECT_EQ(run.GetFileVersionText("C:\\c\\a.exe"), "2.10.0.7");
  EXPECT_EQ(run.GetFileVersionText("C:\\c\\b.exe"), "65535.1.2.3");
  EXPECT_EQ(run.GetFileVersionText("C:\\c\\none.exe"), "65535.65535.65535.65535");
  EXPECT_EQ(UMain::UpdateRun::GetVersionPart(platform, "C:\\c\\a.exe", 1), 0x0002000Au);
  EXPECT_EQ(UMain::UpdateRun::GetVersionPart(platform, "C:\\c\\a.exe", 2), 7u);
  EXPECT_EQ(UMain::UpdateRun::GetVersionPart(platform, "C:\\c\\a.exe", 3), 0xFFFFFFFFu);
}

TEST_F(SettingsTest, CreationReadsTheInstalledClientsVersion) {
  std::filesystem::create_directory(dir.path() / "app");
  key()["UpdatePath"] = {RegistryValue::String, app()};
  platform.versions[app() + "\\client.exe"] = {0x00060003, 0};
  form.FormCreate();
  EXPECT_EQ(run.OldVersion, "6.3.0.0");
}

}  // namespace
