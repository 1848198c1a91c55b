#include "app/install_folder.h"

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "patcher/release_key.h"
#include "platform/registry.h"
#include "tests/support/splash_owner_test.h"
#include "ui/messages.h"
#include "ui/splash.h"

namespace {

constexpr char16_t kModuleFolder[] = u"C:\\Games\\Velkaris";
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kBrowseFlags = 0x65;

using sim::DialogAnswer;
using sim::DialogRecord;

class InstallFolderTest : public SplashOwnerTest {
 protected:

  void MarkGameData(const std::u16string& folder) {
    machine().WriteFile(folder + u"\\Tov\\pad00000.meta", "");
  }
  std::u16string RecordedPath() {
    std::u16string path;
    EXPECT_TRUE(machine().GetString(kRegionalKey, kPathValueName, &path));
    return path;
  }
  void SetRawPath(uint32_t type, std::vector<uint8_t> data) {
    machine().SetString(kRegionalKey, kPathValueName, u"");
    auto& value = machine().registry[u"software\\velkaris_tw"][kPathValueName];
    value.type = type;
    value.data = std::move(data);
  }

  void ExpectBrowse(const DialogRecord& shown) {
    EXPECT_EQ(shown.kind, DialogRecord::Kind::kBrowseFolder);
    EXPECT_EQ(shown.owner, g_splashWindow);
    EXPECT_EQ(shown.text, g_messages.MsgChooseInstallFolder);
    EXPECT_EQ(shown.type, kBrowseFlags);
    EXPECT_EQ(shown.preselected, kDefaultInstallFolder);
  }
  void ExpectMessage(const DialogRecord& shown, const std::u16string& text, uint32_t type) {
    EXPECT_EQ(shown.kind, DialogRecord::Kind::kMessageBox);
    EXPECT_EQ(shown.owner, g_splashWindow);
    EXPECT_EQ(shown.caption, u"Launcher");
    EXPECT_EQ(shown.text, text);
    EXPECT_EQ(shown.type, type);
  }
  static std::u16string Confirmation(const std::u16string& path) {
    return path + g_messages.MsgConfirmInstallPathSuffix;
  }
};

TEST_F(InstallFolderTest, RecognisesGameDataByTheMarkerFile) {
  EXPECT_FALSE(IsInstallFolder(kModuleFolder));
  machine().MakeFolders(u"C:\\Games\\Velkaris\\Tov");
  EXPECT_FALSE(IsInstallFolder(kModuleFolder));
  MarkGameData(kModuleFolder);
  EXPECT_TRUE(IsInstallFolder(kModuleFolder));
  // The names are joined with "/" even after a drive root's backslash.
  MarkGameData(u"D:\\");
  EXPECT_TRUE(IsInstallFolder(u"D:\\"));
  // A folder named like the marker cannot be opened as a file.
  machine().MakeFolders(u"D:\\Other\\Tov\\pad00000.meta");
  EXPECT_FALSE(IsInstallFolder(u"D:\\Other"));
}

TEST_F(InstallFolderTest, ModuleFolderWithGameDataComparesExactlyWithTheRecord) {
  struct Case {
    const char16_t* recorded;  // null: no regional key
    bool changed;
  };
  const Case cases[] = {
      {kModuleFolder, false},
      {u"c:\\games\\velkaris", true},
      {u"D:\\Elsewhere", true},
      {u"", true},
      {nullptr, true},
  };
  MarkGameData(kModuleFolder);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.recorded ? Utf8(c.recorded) : "no key");
    machine().registry.clear();
    machine().registryWrites.clear();
    if (c.recorded) machine().SetString(kRegionalKey, kPathValueName, c.recorded);
    InstallFolder result;
    ASSERT_TRUE(ResolveInstallFolder(kModuleFolder, &result));
    EXPECT_EQ(result.folder, kModuleFolder);
    EXPECT_EQ(result.changed, c.changed);
    EXPECT_EQ(machine().currentDirectory, kModuleFolder);
    // Written again on every launch, even when nothing changed.
    EXPECT_EQ(machine().registryWrites,
              std::vector<std::u16string>{u"software\\velkaris_tw\\Path=C:\\Games\\Velkaris"});
    EXPECT_TRUE(machine().transcript.empty());
  }
}

TEST_F(InstallFolderTest, NoRecordCreatesTheDefaultFolderThenAsks) {
  machine().MakeFolders(u"D:\\Games");
  machine().answers = {DialogAnswer::Folder(u"D:\\Games"), DialogAnswer::Button(platform::kIdYes)};
  InstallFolder result;
  ASSERT_TRUE(ResolveInstallFolder(kModuleFolder, &result));
  EXPECT_TRUE(machine().Exists(kDefaultInstallFolder));
  EXPECT_EQ(result.folder, u"D:\\Games");
  EXPECT_TRUE(result.changed);
  EXPECT_EQ(RecordedPath(), u"D:\\Games");
  EXPECT_EQ(machine().currentDirectory, u"D:\\Games");
  // Not a drive root: nothing appended, nothing created.
  EXPECT_FALSE(machine().Exists(u"D:\\Games\\Velkaris"));
  ASSERT_EQ(machine().transcript.size(), 2u);
  ExpectBrowse(machine().transcript[0]);
  ExpectMessage(machine().transcript[1], Confirmation(u"D:\\Games"), platform::kMbYesNo);
}

TEST_F(InstallFolderTest, DriveRootGetsAGameFolderWithItsBackslash) {
  machine().MakeFolders(u"D:\\");
  machine().answers = {DialogAnswer::Folder(u"D:\\"), DialogAnswer::Button(platform::kIdYes)};
  InstallFolder result;
  ASSERT_TRUE(ResolveInstallFolder(kModuleFolder, &result));
  EXPECT_EQ(result.folder, u"D:\\Velkaris\\");
  EXPECT_EQ(RecordedPath(), u"D:\\Velkaris\\");
  EXPECT_TRUE(machine().Exists(u"D:\\Velkaris"));
  ASSERT_EQ(machine().transcript.size(), 2u);
  ExpectMessage(machine().transcript[1], Confirmation(u"D:\\Velkaris\\"), platform::kMbYesNo);
}

// The elevated patcher starts from the install folder: with a release key,
// a folder the launcher creates for it lets only administrators plant files.
// One that exists is left as found: its owner may have reasons the launcher
// cannot know, and other programs may rely on them.
TEST_F(InstallFolderTest, WithAReleaseKeyTheFoldersItCreatesAreForAdministratorsOnly) {
  const platform::P256PublicKey key{};
  for (const bool keyed : {false, true}) {
    for (const bool defaultExists : {false, true}) {
      SCOPED_TRACE(std::string(keyed ? "key" : "no key") + (defaultExists ? ", default exists" : ""));
      std::filesystem::remove_all(root());
      machine().Reset(root());
      UseReleaseKeyForTesting(keyed ? &key : nullptr);
      if (defaultExists) machine().MakeFolders(kDefaultInstallFolder);
      machine().MakeFolders(u"D:\\");
      machine().answers = {DialogAnswer::Folder(u"D:\\"), DialogAnswer::Button(platform::kIdYes)};
      InstallFolder result;
      ASSERT_TRUE(ResolveInstallFolder(kModuleFolder, &result));
      std::set<std::u16string> expected;
      if (keyed) {
        expected = {u"D:\\Velkaris"};
        if (!defaultExists) expected.insert({u"C:\\Corvane", kDefaultInstallFolder});
      }
      EXPECT_EQ(machine().protectedPaths, expected);
    }
  }
  UseReleaseKeyForTesting(nullptr);
}

// A signed launcher makes its install folder administrators' own: never a
// drive root, nor a folder of the system's or the player's own, nor one
// above the profile, however the record names it. Such a folder is told,
// and another is chosen.
TEST_F(InstallFolderTest, WithAReleaseKeyTheSystemsAndThePlayersFoldersAreRefused) {
  const platform::P256PublicKey key{};
  const struct {
    const char16_t* recorded;
    bool keyed;
    bool refused;
  } cases[] = {
      {u"C:\\", true, true},
      {u"D:\\", true, true},
      {u"C:\\Users\\player\\Desktop", true, true},
      {u"c:\\users\\PLAYER\\downloads\\", true, true},
      {u"C:/Program Files", true, true},
      {u"C:\\Program Files (x86)", true, true},
      {u"C:\\Users", true, true},
      {u"C:\\Users\\player\\Desktop\\Velkaris", true, false},
      {u"C:\\Users\\player\\Desktop", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.recorded) + (c.keyed ? ", key" : ", no key"));
    std::filesystem::remove_all(root());
    machine().Reset(root());
    UseReleaseKeyForTesting(c.keyed ? &key : nullptr);
    machine().MakeFolders(c.recorded);
    machine().MakeFolders(u"D:\\Games");
    machine().SetString(kRegionalKey, kPathValueName, c.recorded);
    machine().answers = {DialogAnswer::Button(platform::kIdOk), DialogAnswer::Folder(u"D:\\Games"),
                         DialogAnswer::Button(platform::kIdYes)};
    InstallFolder result;
    ASSERT_TRUE(ResolveInstallFolder(kModuleFolder, &result));
    EXPECT_EQ(result.folder, c.refused ? u"D:\\Games" : c.recorded);
    if (c.refused) {
      ASSERT_EQ(machine().transcript.size(), 3u);
      ExpectMessage(machine().transcript[0], g_messages.MsgInstallPathSaveFailed, platform::kMbOk);
      ExpectBrowse(machine().transcript[1]);
    }
    EXPECT_EQ(machine().currentDirectory, machine().AbsolutePath(result.folder));
  }
  UseReleaseKeyForTesting(nullptr);
}

TEST_F(InstallFolderTest, NoToTheQuestionOpensAFreshDialog) {
  machine().MakeFolders(u"D:\\");
  machine().MakeFolders(u"E:\\Other");
  machine().answers = {DialogAnswer::Folder(u"D:\\"), DialogAnswer::Button(platform::kIdNo),
                       DialogAnswer::Folder(u"E:\\Other"), DialogAnswer::Button(platform::kIdYes)};
  InstallFolder result;
  ASSERT_TRUE(ResolveInstallFolder(kModuleFolder, &result));
  EXPECT_EQ(result.folder, u"E:\\Other");
  // The refused drive root was not created.
  EXPECT_FALSE(machine().Exists(u"D:\\Velkaris"));
  ASSERT_EQ(machine().transcript.size(), 4u);
  ExpectBrowse(machine().transcript[0]);
  ExpectBrowse(machine().transcript[2]);
}

TEST_F(InstallFolderTest, GivingUpInTheChooserCancelsWithNothingRecorded) {
  struct Case {
    const char* what;
    std::vector<DialogAnswer> answers;
    bool driveTooSmall;
    size_t dialogs;
  };
  const Case cases[] = {
      {"dialog closed", {DialogAnswer::Cancel()}, false, 1},
      // The space refusal ends the choice; the dialog does not come back.
      {"drive too small", {DialogAnswer::Folder(u"D:\\Games")}, true, 2},
  };
  machine().MakeFolders(u"D:\\Games");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    machine().transcript.clear();
    machine().answers.assign(c.answers.begin(), c.answers.end());
    machine().freeSpaceByDrive[u"D:"] = {8, 512, c.driveTooSmall ? 0u : 0x7fffffffu};
    InstallFolder result;
    EXPECT_FALSE(ResolveInstallFolder(kModuleFolder, &result));
    EXPECT_FALSE(machine().KeyExists(kRegionalKey));
    EXPECT_EQ(machine().transcript.size(), c.dialogs);
  }
  ExpectMessage(machine().transcript.back(), g_messages.MsgDiskSpaceInsufficient, platform::kMbOk);
}

TEST_F(InstallFolderTest, LegacyRecordIsCarriedOverOnlyBesideTheRegionalKey) {
  MarkGameData(kModuleFolder);
  machine().SetString(kLegacyKey, kPathValueName, u"E:\\Old");

  InstallFolder result;
  ASSERT_TRUE(ResolveInstallFolder(kModuleFolder, &result));
  EXPECT_TRUE(result.changed);
  EXPECT_EQ(machine().registryWrites,
            std::vector<std::u16string>{u"software\\velkaris_tw\\Path=C:\\Games\\Velkaris"});

  // Now both keys exist: the legacy folder comes first, and the comparison
  // is made against it.
  machine().registryWrites.clear();
  ASSERT_TRUE(ResolveInstallFolder(kModuleFolder, &result));
  EXPECT_TRUE(result.changed);
  EXPECT_EQ(machine().registryWrites,
            (std::vector<std::u16string>{u"software\\velkaris_tw\\Path=E:\\Old",
                                         u"software\\velkaris_tw\\Path=C:\\Games\\Velkaris"}));
  std::u16string legacy;
  ASSERT_TRUE(machine().GetString(kLegacyKey, kPathValueName, &legacy));
  EXPECT_EQ(legacy, u"E:\\Old");
}

TEST_F(InstallFolderTest, RecordedFolderIsTakenWithoutLookingForGameData) {
  machine().MakeFolders(u"D:\\Empty");
  machine().SetString(kRegionalKey, kPathValueName, u"D:\\Empty");
  InstallFolder result;
  ASSERT_TRUE(ResolveInstallFolder(kModuleFolder, &result));
  EXPECT_EQ(result.folder, u"D:\\Empty");
  EXPECT_FALSE(result.changed);
  EXPECT_EQ(machine().currentDirectory, u"D:\\Empty");
  EXPECT_TRUE(machine().Exists(kDefaultInstallFolder));
  EXPECT_TRUE(machine().registryWrites.empty());
}

TEST_F(InstallFolderTest, VanishedFolderIsReportedThenChosenAgain) {
  machine().SetString(kRegionalKey, kPathValueName, u"D:\\Gone");
  machine().MakeFolders(u"E:\\Games");
  machine().answers = {DialogAnswer::Button(platform::kIdOk), DialogAnswer::Folder(u"E:\\Games"),
                       DialogAnswer::Button(platform::kIdYes)};
  InstallFolder result;
  ASSERT_TRUE(ResolveInstallFolder(kModuleFolder, &result));
  EXPECT_EQ(result.folder, u"E:\\Games");
  EXPECT_TRUE(result.changed);
  EXPECT_EQ(RecordedPath(), u"E:\\Games");
  ASSERT_EQ(machine().transcript.size(), 3u);
  ExpectMessage(machine().transcript[0], g_messages.MsgInstallPathSaveFailed, platform::kMbOk);
  ExpectBrowse(machine().transcript[1]);
}

TEST_F(InstallFolderTest, VanishedFolderAndAClosedDialogCancelWithoutAFurtherMessage) {
  machine().SetString(kRegionalKey, kPathValueName, u"D:\\Gone");
  machine().answers = {DialogAnswer::Button(platform::kIdOk), DialogAnswer::Cancel()};
  InstallFolder result;
  EXPECT_FALSE(ResolveInstallFolder(kModuleFolder, &result));
  EXPECT_EQ(machine().transcript.size(), 2u);
  EXPECT_EQ(RecordedPath(), u"D:\\Gone");
}

TEST_F(InstallFolderTest, FolderThatCannotBeEnteredWithoutARegionalKeyCancelsAfterOneMessage) {
  // The key cannot be created, so each attempt would meet the same two
  // failures again: one message, then the launch is cancelled.
  MarkGameData(kModuleFolder);
  machine().unenterableFolders.insert(kModuleFolder);
  machine().failRegistryCreate = true;
  InstallFolder result;
  EXPECT_FALSE(ResolveInstallFolder(kModuleFolder, &result));
  ASSERT_EQ(machine().transcript.size(), 1u);
  ExpectMessage(machine().transcript[0], g_messages.MsgInstallPathSaveFailed, platform::kMbOk);
}

TEST_F(InstallFolderTest, RecordedValueIsReadOnlyWhenItIsATerminatedTextThatFits) {
  auto bytesOf = [](const std::u16string& text, bool terminated) {
    std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()),
                               reinterpret_cast<const uint8_t*>(text.data() + text.size()));
    if (terminated) bytes.insert(bytes.end(), {0, 0});
    return bytes;
  };
  // 259 code units fill the 520-byte buffer with the terminator.
  const std::u16string longest =
      u"D:\\" + std::u16string(127, u'a') + u"\\" + std::u16string(128, u'b');
  const std::u16string tooLong = longest + u"c";
  machine().MakeFolders(longest);
  machine().MakeFolders(u"D:\\Games");
  struct Case {
    const char* what;
    uint32_t type;
    std::vector<uint8_t> data;
    std::optional<std::u16string> read;  // the folder taken; none: counts as empty
  };
  const Case cases[] = {
      {"259 code units", platform::kRegSz, bytesOf(longest, true), longest},
      {"260 code units", platform::kRegSz, bytesOf(tooLong, true), std::nullopt},
      {"260 code units, unterminated", platform::kRegSz, bytesOf(tooLong.substr(0, 260), false),
       std::nullopt},
      {"unterminated", platform::kRegSz, bytesOf(u"D:\\Games", false), std::nullopt},
      {"odd byte count", platform::kRegSz, {'D', 0, 0}, std::nullopt},
      // Taken as it stands, as some tools store it: nothing is expanded.
      {"expandable text", platform::kRegExpandSz, bytesOf(u"D:\\Games", true), u"D:\\Games"},
      {"binary", kRegBinary, bytesOf(u"D:\\Games", true), std::nullopt},
      {"text after a NUL", platform::kRegSz,
       bytesOf(std::u16string(u"D:\\Games\0xyz", 12), true), u"D:\\Games"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    machine().transcript.clear();
    machine().answers = {DialogAnswer::Button(platform::kIdOk), DialogAnswer::Cancel()};
    SetRawPath(c.type, c.data);
    InstallFolder result;
    const bool resolved = ResolveInstallFolder(kModuleFolder, &result);
    if (c.read) {
      ASSERT_TRUE(resolved);
      EXPECT_EQ(result.folder, *c.read);
      EXPECT_TRUE(machine().transcript.empty());
    } else {
      // Counted as empty: no folder to enter, so the chooser is offered.
      EXPECT_FALSE(resolved);
      ASSERT_EQ(machine().transcript.size(), 2u);
      ExpectMessage(machine().transcript[0], g_messages.MsgInstallPathSaveFailed, platform::kMbOk);
    }
  }
}

}  // namespace
