#include "patcher/version_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/unit/patcher/patcher_test.h"
#include "ui/messages.h"

namespace {

constexpr char16_t kLauncher[] = u"Launcher";
constexpr char kOld[] = "old patcher";
constexpr char kNew[] = "new patcher";

Box StepFailed(const char16_t* suffix) {
  return SplashBox(kLauncher, std::u16string(g_messages.MsgVersionUpdateFailed) + suffix);
}
Box ManagerNote(const char16_t* text) { return {kLauncher, text, nullptr}; }

// How the local record "7\r\n2" fares while the server is asked.
enum class Record {
  kKept,
  kLostOnce,         // gone while the server's record is fetched the first time
  kLostTwice,        // gone on both fetches of the server's record
  kLostForGood,      // gone on the first fetch and cannot be written again
  kUnwritableLater,  // cannot be written once the list entry is being fetched
};

struct CheckCase {
  const char* what;
  const char* server;
  Record record;
  bool entryPublished;
  bool result;
  Paths requests;
  std::vector<Box> boxes;
  const char* recordAfter;  // "" when it cannot be read
  const char* patcherAfter;
};

class VersionCheck : public PatcherTest {
 protected:
  void Prepare(const CheckCase& c) {
    Write(u"patcher_version", "7\r\n2");
    Write(u"patcher_files_version", "a.dat 1\r\n");
    Write(u"VelkarisPatcher32.vke", kOld);
    machine().MakeFolders(std::u16string(kInstall) + u"\\locales");
    Serve("patcher_version", c.server);
    Serve("patcher_files_version", "a.dat 2\r\n");
    Serve("VelkarisPatcher32.vke", kNew);
    if (c.entryPublished) Serve("a.dat", "a");

    int losses = c.record == Record::kLostTwice                                      ? 2
                 : c.record == Record::kLostOnce || c.record == Record::kLostForGood ? 1
                                                                                     : 0;
    DownloadServer().SetRequestObserver(
        [path = HostPath(u"patcher_version"), losses, record = c.record](
            const testhttp::RecordedRequest& request) mutable {
          if (request.target == "/UploadData/patcher_version" && losses-- > 0) {
            std::filesystem::remove(path);
            if (record == Record::kLostForGood) MakeUnopenable(path);
          }
          if (request.target == "/UploadData/a.dat" && record == Record::kUnwritableLater) {
            MakeUnopenable(path);
          }
        });
  }
};

TEST_F(VersionCheck, FollowsTheStateTableWithTheManagersNotesBeforeItsOwnMessage) {
  const Paths justRecord{"patcher_version"};
  const Paths update{"patcher_version", "patcher_files_version", "VelkarisPatcher32.vke", "a.dat"};
  const Paths twice{"patcher_version", "patcher_version"};
  const Paths resetAndUpdate{"patcher_version", "patcher_version", "patcher_files_version",
                             "VelkarisPatcher32.vke", "a.dat"};
  const CheckCase cases[] = {
      {"same version", "7\r\n9", Record::kKept, true, true, justRecord, {}, "7\r\n2", kOld},
      {"new version", "8\r\n9", Record::kKept, true, true, update, {}, "8\r\n2", kNew},
      {"failed update", "8\r\n9", Record::kKept, false, false, update,
       {SplashBox(u"Launcher-ad", g_messages.MsgUpdateDownloadFailed)}, "7\r\n2", kOld},
      {"reset, then update", "8\r\n9", Record::kLostOnce, true, true, resetAndUpdate, {}, "8\r\n0",
       kNew},
      {"reset, then version 0", "0\r\n9", Record::kLostOnce, true, true, twice, {}, "0\r\n0", kOld},
      {"restore", "8\r\n9", Record::kLostForGood, true, false, justRecord,
       {ManagerNote(u"failed to restore patcher version."), StepFailed(u" - restore")}, "", kOld},
      {"refresh", "8\r\n9", Record::kLostTwice, true, false, twice, {StepFailed(u" - refresh")}, "",
       kOld},
      // The update is in place: the next run fetches the patcher again, but
      // no list entry.
      {"modify", "8\r\n9", Record::kUnwritableLater, true, false, update,
       {ManagerNote(u"failed to modify patcher version."), StepFailed(u" - modify")}, "", kNew},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Restart();
    Prepare(c);
    EXPECT_EQ(CheckPatcherVersion(run), c.result);
    EXPECT_EQ(Requests(), c.requests);
    EXPECT_EQ(Boxes(), c.boxes);
    EXPECT_EQ(Read(u"patcher_version"), c.recordAfter);
    EXPECT_EQ(Read(u"VelkarisPatcher32.vke"), c.patcherAfter);
  }
}

TEST_F(VersionCheck, VersionFilesThatCannotBeCreatedEndTheCheckSilently) {
  MakeUnopenable(HostPath(u"patcher_files_version"));
  EXPECT_FALSE(CheckPatcherVersion(run));
  EXPECT_TRUE(Requests().empty());
  EXPECT_TRUE(Boxes().empty());
}

}  // namespace
