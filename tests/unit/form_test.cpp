// The command-line gate, the window's handlers, the default error report and
// the finish routine, against the recording window.
#include <gtest/gtest.h>

#include "doubles.h"
#include "platform/command_line.h"
#include "umain/form.h"

using namespace testing_doubles;
using ui::ControlId;

namespace {

TEST(Gate, OnlyTheExactFirstArgumentUpdateOpensTheWindow) {
  EXPECT_TRUE(UMain::IsUpdateArgument({"UPDATE"}));
  EXPECT_TRUE(UMain::IsUpdateArgument({"UPDATE", "more"}));
  EXPECT_FALSE(UMain::IsUpdateArgument({}));
  EXPECT_FALSE(UMain::IsUpdateArgument({"update"}));
  EXPECT_FALSE(UMain::IsUpdateArgument({"Update"}));
  EXPECT_FALSE(UMain::IsUpdateArgument({"other", "UPDATE"}));
  EXPECT_FALSE(UMain::IsUpdateArgument({"UPDATE "}));
  EXPECT_FALSE(UMain::IsUpdateArgument({"/UPDATE"}));
}

TEST(Gate, CommandLineSplittingFollowsTheRuntimeRules) {
  using V = std::vector<std::string>;
  EXPECT_EQ(platform::splitCommandLine("updater.exe"), V{});
  EXPECT_EQ(platform::splitCommandLine("updater.exe UPDATE"), V{"UPDATE"});
  EXPECT_EQ(platform::splitCommandLine("updater.exe \"UPDATE\""), V{"UPDATE"});
  EXPECT_EQ(platform::splitCommandLine("updater.exe UP\"DA\"TE"), V{"UPDATE"});
  EXPECT_EQ(platform::splitCommandLine("\"C:\\Program Files\\up.exe\"\tUPDATE\x01x"),
            (V{"UPDATE", "x"}));
  EXPECT_EQ(platform::splitCommandLine("up.exe \"a b\" c\\\"d"), (V{"a b", "c\\d"}));
  EXPECT_EQ(platform::splitCommandLine("  up.exe   x  UPDATE  "), (V{"x", "UPDATE"}));
}

TEST(DefaultErrorReport, TitleComesFromTheExecutableName) {
  EXPECT_EQ(ui::applicationTitle("C:\\App\\MyUpdater.exe"), "Myupdater");
  EXPECT_EQ(ui::applicationTitle("/opt/client/UPDATER"), "Updater");
  EXPECT_EQ(ui::applicationTitle("C:\\a.b\\Up.Date.exe"), "Up");
  EXPECT_EQ(ui::applicationTitle("file"), "file");
  // Code page 936: "\x81\x5C" and "\x81\x41" are characters whose trail bytes
  // are "\\" and "A"; neither separates nor is lower-cased.
  testing_doubles::FakePlatform cp936;
  cp936.codePage936 = true;
  EXPECT_EQ(ui::applicationTitle("C:\\A\x81\x5C"
                                 "B\x81\x41"
                                 "X.exe",
                                 cp936.charRule()),
            "A\x81\x5C"
            "b\x81\x41"
            "x");
}

TEST(DefaultErrorReport, PeriodIsAppendedOnlyAfterBytesThatSortAbovePeriod) {
  EXPECT_EQ(ui::errorReportText(""), "");
  EXPECT_EQ(ui::errorReportText("Invalid filename"), "Invalid filename.");
  EXPECT_EQ(ui::errorReportText("I/O error 183"), "I/O error 183.");
  EXPECT_EQ(ui::errorReportText("done."), "done.");
  EXPECT_EQ(ui::errorReportText("quoted \"x\""), "quoted \"x\"");
  EXPECT_EQ(ui::errorReportText("a-"), "a-");
  EXPECT_EQ(ui::errorReportText("a/"), "a/.");
  EXPECT_EQ(ui::errorReportText("\xcf\xb5"), "\xcf\xb5.");
}

TEST(DefaultErrorReport, AnEscapingErrorIsShownAndTheHandlerEnds) {
  RecordingWindow window;
  bool after = false;
  ui::runHandler(window, "Myupdater", [&] {
    throw base::Error("Invalid filename");
    after = true;
  });
  EXPECT_FALSE(after);
  EXPECT_EQ(window.events, std::vector<std::string>{"box 16 Myupdater|Invalid filename."});
}

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform.registry["SoftWare\\Molva"]["UpdatePath"] = {RegistryValue::String,
                                                          dir.windowsForm() + "app"};
    std::filesystem::create_directory(dir.path() / "app");
  }

  TempWorkDir dir;
  FakePlatform platform;
  RecordingWindow window;
  UMain::TTFrmUpdate form{platform, window, {"UPDATE"}};
};

TEST_F(FormTest, CreationPutsTheCaptionIntoTheMessageLineAndRefusesClosing) {
  form.CloseAllowed = true;
  form.FormCreate();
  EXPECT_EQ(window.texts[ControlId::PLMsg], "Tarnel客户端自动升级");
  EXPECT_FALSE(form.CloseAllowed);
  EXPECT_FALSE(form.FormCloseQuery());
  EXPECT_EQ(window.endRequests, 0);
  EXPECT_TRUE(window.eventsStartingWith("box").empty());
}

TEST_F(FormTest, ShowingStartsTheTimerAndTheFirstTickStopsItBeforeTheRun) {
  form.FormShow();
  EXPECT_TRUE(window.timerEnabled);
  form.Timer1Timer();
  ASSERT_GE(window.events.size(), 3u);
  EXPECT_EQ(window.events[1], "timer off");
  EXPECT_EQ(window.events[2], "text LBL_Updating=正在获取升级配置文件,请稍候...");
  EXPECT_FALSE(window.timerEnabled);
}

TEST_F(FormTest, StatusTextIsPaintedAtOnce) {
  form.run().ShowStatus("a & b");
  EXPECT_EQ(window.texts[ControlId::LBL_Updating], "a & b");
  EXPECT_EQ(window.repaints, 1);
}

const char* const kScript =
    "@echo off\r\n:loop\r\ndel \"C:\\App\\MyUpdater.exe\"\r\n"
    "if exist .\\file.exe goto loop\r\ndel .\\delme.bat\r\n";

TEST_F(FormTest, FinishRoutineWritesTheRemovalScriptStartsItAndRequestsTheEnd) {
  form.run().RemoveSelfAndQuit();
  EXPECT_EQ(readAll(dir.path() / "delme.bat"), kScript);
  EXPECT_EQ(platform.startedHidden, std::vector<std::string>{".\\delme.bat"});
  EXPECT_EQ(window.endRequests, 1);
}

TEST_F(FormTest, FinishRoutineReplacesAnEarlierScript) {
  writeAll(dir.path() / "delme.bat", std::string(4096, 'x'));
  form.run().RemoveSelfAndQuit();
  EXPECT_EQ(readAll(dir.path() / "delme.bat"), kScript);
}

TEST_F(FormTest, FinishRoutineThatCannotWriteTheScriptRaisesAndStartsNothing) {
  platform.unwritable.insert(".\\delme.bat");
  try {
    form.run().RemoveSelfAndQuit();
    FAIL() << "no error raised";
  } catch (const base::Error& e) {
    EXPECT_EQ(e.message(), "File access denied");
  }
  EXPECT_TRUE(platform.startedHidden.empty());
  EXPECT_EQ(window.endRequests, 0);
}

TEST_F(FormTest, WithoutACommandInterpreterTheExecutableIsDeletedDirectly) {
  platform.commandInterpreter = false;
  form.run().RemoveSelfAndQuit();
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "delme.bat"));
  EXPECT_EQ(platform.deleted, std::vector<std::string>{"C:\\App\\MyUpdater.exe"});
  EXPECT_TRUE(platform.startedHidden.empty());
  EXPECT_EQ(window.endRequests, 1);
}

}  // namespace
