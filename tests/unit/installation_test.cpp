// The installation as one transaction, on real files: back up, commit, roll
// back; and the plan that decides what the run does with each listed file.
#include <gtest/gtest.h>

#include "doubles.h"
#include "release/sha256.h"
#include "umain/attempt.h"
#include "umain/installation.h"
#include "umain/plan.h"

using namespace testing_doubles;
namespace fs = std::filesystem;

namespace {

class InstallationTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(app / "UpdateBak"); }

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
  UMain::Settings settings{"", dir.windowsForm() + "app\\", dir.windowsForm() + "app\\UpdateBak\\"};
  UMain::Installation install{platform, settings};
};

TEST_F(InstallationTest, InstalledFilesAreCopiedAsideAndMissingOnesLeaveNoTrace) {
  writeAll(app / "client.exe", "old client");
  writeAll(app / "UpdateBak" / "client.exe", "older client");
  writeAll(app / "UpdateBak" / "other.txt", "kept");
  fs::create_directory(app / "sub");
  writeAll(app / "sub" / "x.dll", "old x");
  install.BackUp({"client.exe", "missing.dll", "sub\\x.dll", "new\\y.dll"});
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

TEST_F(InstallationTest, TimeStampsSurviveTheBackup) {
  writeAll(app / "a.dll", "a");
  auto stamp = fs::last_write_time(app / "a.dll") - std::chrono::hours(48);
  fs::last_write_time(app / "a.dll", stamp);
  install.BackUp({"a.dll"});
  EXPECT_EQ(fs::last_write_time(app / "UpdateBak" / "a.dll"), stamp);
}

// Every file staged; the commit renames them all, or, refused on one, is
// rolled back to the installation as it was (a file that was not installed
// gone again). A name listed twice is one file, backed up and replaced once.
TEST_F(InstallationTest, CommitIsAllOrNothing) {
  settings.updatePath = dir.windowsForm();  // the working directory, as deployed
  settings.backupPath = settings.updatePath + "UpdateBak\\";
  fs::create_directories(dir.path() / "UpdateBak");
  const std::vector<std::string> names{"a.dll", "new.dll", "b.dll", "a.dll"};
  struct Case {
    std::set<std::string> FakePlatform::*refusal;  // of b.dll; null: none
    bool committed;
  };
  for (const Case& c : {Case{nullptr, true}, Case{&FakePlatform::unreplaceable, false},
                        Case{&FakePlatform::inUse, false}}) {
    FakePlatform platform;
    UMain::Installation install{platform, settings};
    if (c.refusal) (platform.*c.refusal).insert("b.dll");
    writeAll(dir.path() / "a.dll", "old a");
    writeAll(dir.path() / "b.dll", "old b");
    fs::remove(dir.path() / "new.dll");
    install.BackUp(names);
    for (const char* name : {"a.dll", "new.dll", "b.dll"})
      writeAll(dir.path() / (std::string(name) + ".update-part"), std::string("new ") + name);
    try {
      install.Commit(names);
      EXPECT_TRUE(c.committed);
    } catch (const base::Error&) {
      EXPECT_FALSE(c.committed);
      install.RollBack();
      install.DiscardStaged(names);
    }
    std::map<std::string, std::string> expected{{"a.dll", "old a"}, {"b.dll", "old b"}};
    if (c.committed)
      expected = {{"a.dll", "new a.dll"}, {"b.dll", "new b.dll"}, {"new.dll", "new new.dll"}};
    auto after = Tree(dir.path());
    std::erase_if(after, [](const auto& entry) { return entry.first.rfind("UpdateBak", 0) == 0; });
    EXPECT_EQ(after, expected) << c.committed;
  }
}

// A checked download waits for the others; what another program writes into
// it meanwhile is looked at again before the rename.
TEST_F(InstallationTest, CheckedDownloadWrittenToBeforeItsRenameIsCheckedAgain) {
  settings.updatePath = dir.windowsForm();
  settings.backupPath = settings.updatePath + "UpdateBak\\";
  fs::create_directories(dir.path() / "UpdateBak");
  const std::vector<std::string> names{"a.dll"};
  release::Sha256 hash;
  hash.update("new a", 5);
  const release::Expected expected{5, hash.finish()};
  struct Case {
    std::optional<std::string> writtenMeanwhile;
    bool committed;
    // What the file holds when it is noted as checked: bytes added to it
    // while its check ran make it another file than the one checked.
    std::string atCheck = "new a";
  };
  for (const Case& c : {Case{std::nullopt, true}, Case{"new a", true}, Case{"evil!", false},
                        Case{"new a, and more", false}, Case{std::nullopt, false, "new a!"}}) {
    FakePlatform platform;
    UMain::Installation install{platform, settings};
    writeAll(dir.path() / "a.dll", "old a");
    install.BackUp(names);
    writeAll(dir.path() / "a.dll.update-part", c.atCheck);
    install.Checked("a.dll", expected);
    if (c.writtenMeanwhile)
      platform.writtenBeforeReplace[(dir.path() / "a.dll.update-part").string()] =
          *c.writtenMeanwhile;
    std::string error;
    try {
      install.Commit(names);
    } catch (const base::Error& e) {
      error = e.message();
      install.DiscardStaged(names);
    }
    EXPECT_EQ(error, c.committed ? "" : "\"a.dll\" does not match the release (SHA-256)");
    EXPECT_EQ(readAll(dir.path() / "a.dll"), c.committed ? "new a" : "old a");
  }
}

// The record of the last signed list: none, a time, or something that is no
// time (which refuses, see SignedAt); and a time to remember never takes the
// place of a later one.
TEST_F(InstallationTest, RecordOfTheLastSignedList) {
  const fs::path record = app / "update.ini.signed";
  auto signedAt = [&] {
    try {
      const std::optional<int64_t> at = install.SignedAt();
      return at ? std::to_string(*at) : "none";
    } catch (const base::Error&) {
      return std::string("refused");
    }
  };
  struct Case {
    const char* record;  // nullptr: none; "/": a folder in its place
    std::string read;
    std::string afterRemembering100;
  };
  for (const Case& c :
       {Case{nullptr, "none", "100"}, Case{"1970-01-01T00:00:50Z\r\n", "50", "100"},
        Case{"1970-01-01T00:03:20Z\r\n", "200", "200"}, Case{"yesterday\r\n", "refused", "refused"},
        Case{"/", "refused", "refused"}}) {
    fs::remove_all(record);
    if (c.record && std::string(c.record) == "/")
      fs::create_directory(record);
    else if (c.record)
      writeAll(record, c.record);
    EXPECT_EQ(signedAt(), c.read) << (c.record ? c.record : "none");
    install.RememberSignedAt(100);
    EXPECT_EQ(signedAt(), c.afterRemembering100) << (c.record ? c.record : "none");
  }
}

TEST_F(InstallationTest, FileThatCannotBeCopiedStaysInstalledAndStopsTheBackup) {
  writeAll(app / "a.dll", "old a");
  writeAll(app / "b.dll", "old b");
  writeAll(app / "c.dll", "old c");
  fs::create_directory(app / "UpdateBak" / "b.dll");  // a directory in the copy's way
  EXPECT_THROW(install.BackUp({"a.dll", "b.dll", "c.dll"}), base::Error);
  EXPECT_EQ(readAll(app / "b.dll"), "old b");
  EXPECT_EQ(readAll(app / "c.dll"), "old c");
  install.RollBack();
  EXPECT_EQ(readAll(app / "a.dll"), "old a");
  EXPECT_EQ(readAll(app / "b.dll"), "old b");
  EXPECT_EQ(readAll(app / "c.dll"), "old c");
}

TEST_F(InstallationTest, EmptyListDoesNothing) {
  writeAll(app / "a.dll", "old a");
  const auto before = Tree(app);
  install.BackUp({});
  install.Commit({});
  install.RollBack();
  install.DiscardStaged({});
  EXPECT_EQ(Tree(app), before);
}

// What the run does with each listed file, from what lies on disk: a file
// already as listed is left alone; a staged download an earlier run left of
// a file whose size and hash are listed is taken up when it is shorter than
// the file; anything else it left goes.
TEST(Plan, CurrentFilesAreLeftAndLeftoversResumedOrDeleted) {
  const release::Digest listedHash{1}, otherHash{2}, oldHash{3}, unknownHash{4};
  release::ListedFile hashed{"a.dll", {3, listedHash}, {}, {}};
  release::ListedFile sized{"b.dll", {3, std::nullopt}, {}, {}};
  // 100 bytes, with a copy of 60 and a patch of 20 from the installed oldHash.
  release::ListedFile cheaper{
      "c.dll",
      {100, listedHash},
      release::Delta{"c.dll.copy", {60, release::Digest{}}, {}},
      {release::Delta{"c.dll.from-other", {5, release::Digest{}}, otherHash},
       release::Delta{"c.dll.from-old", {20, release::Digest{}}, oldHash}}};
  using UMain::Fetch;
  const std::nullopt_t none = std::nullopt;
  struct Case {
    const release::ListedFile& file;
    UMain::OnDisk disk;  // staged size, installed size and hash
    Fetch fetch;
    bool discard;
  };
  for (const Case& c : {
           Case{sized, {none, none, none}, Fetch::Whole, false},
           Case{sized, {2, 3, none}, Fetch::Whole, true},
           Case{hashed, {none, none, none}, Fetch::Whole, false},
           Case{hashed, {0, none, none}, Fetch::Whole, true},
           Case{hashed, {2, none, none}, Fetch::Resume, false},
           Case{hashed, {3, none, none}, Fetch::Whole, true},
           Case{hashed, {5, none, none}, Fetch::Whole, true},
           Case{hashed, {none, 3, listedHash}, Fetch::Current, false},
           Case{hashed, {2, 3, listedHash}, Fetch::Current, true},
           Case{hashed, {none, 3, otherHash}, Fetch::Whole, false},
           Case{hashed, {2, 4, listedHash}, Fetch::Resume, false},
           Case{cheaper, {none, 90, oldHash}, Fetch::Patch, false},
           Case{cheaper, {none, 90, unknownHash}, Fetch::Copy, false},
           Case{cheaper, {none, none, none}, Fetch::Copy, false},
           // A staged part: resumed while the rest costs no more than the patch.
           Case{cheaper, {50, 90, oldHash}, Fetch::Patch, true},
           Case{cheaper, {80, 90, oldHash}, Fetch::Resume, false},
           Case{cheaper, {50, 90, unknownHash}, Fetch::Resume, false},
       }) {
    const UMain::FilePlan plan = UMain::PlanFile(c.file, c.disk);
    const std::string what = c.file.name + " staged " +
                             std::to_string(c.disk.stagedSize.value_or(-1)) + " installed " +
                             std::to_string(c.disk.installedSize.value_or(-1));
    EXPECT_EQ(plan.fetch, c.fetch) << what;
    EXPECT_EQ(plan.discardStaged, c.discard) << what;
    if (c.fetch == Fetch::Resume) {
      EXPECT_EQ(plan.resumeFrom, *c.disk.stagedSize) << what;
    }
    if (c.fetch == Fetch::Patch || c.fetch == Fetch::Copy) {
      ASSERT_NE(plan.delta, nullptr) << what;
      EXPECT_EQ(plan.delta->name, c.fetch == Fetch::Patch ? "c.dll.from-old" : "c.dll.copy")
          << what;
    }
  }
}

}  // namespace

namespace {

// The retry decision: a break is taken up three times where the list lets the
// bytes be checked at the end; a refused range starts the file over; a whole
// file not as listed is fetched once more only when bytes of an earlier
// attempt or run were in it.
TEST(NextAttempt, ResumeRestartOrFail) {
  using UMain::Failure;
  using UMain::Next;
  struct Case {
    Failure failure;
    UMain::Attempts attempts;
    Next next;
  } cases[] = {
      {Failure::Broken, {true, 0, false, false}, Next::Resume},
      {Failure::Broken, {true, 2, true, false}, Next::Resume},
      {Failure::Broken, {true, 3, true, false}, Next::Fail},
      {Failure::Broken, {false, 0, false, false}, Next::Fail},
      {Failure::RangeRefused, {true, 1, true, false}, Next::Restart},
      {Failure::RangeNotSatisfiable, {true, 0, true, false}, Next::Restart},
      {Failure::NotAsListed, {true, 1, true, false}, Next::Restart},
      {Failure::NotAsListed, {true, 0, false, false}, Next::Fail},
      {Failure::NotAsListed, {true, 1, true, true}, Next::Fail},
      {Failure::Other, {true, 0, true, false}, Next::Fail},
  };
  for (const Case& c : cases)
    EXPECT_EQ(UMain::NextAttempt(c.failure, c.attempts), c.next)
        << static_cast<int>(c.failure) << " after " << c.attempts.resumes << " resumes";
}

}  // namespace
