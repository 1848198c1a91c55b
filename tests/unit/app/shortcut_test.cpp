#include "app/shortcut.h"

#include <string>

#include "tests/support/sim_test.h"

namespace {

constexpr char16_t kDesktop[] = u"C:\\Users\\Player\\Desktop";
constexpr char16_t kPrograms[] = u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
constexpr char16_t kDesktopLink[] = u"C:\\Users\\Player\\Desktop/Velkaris.lnk";
constexpr char16_t kProgramsLink[] =
    u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs/Velkaris.lnk";
constexpr int32_t kClassNotRegistered = static_cast<int32_t>(0x80040154);

class ShortcutTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ResolveLinkFolders();
  }
  static void ResolveLinkFolders() {
    machine().specialFolders[platform::kCsidlDesktop] = kDesktop;
    machine().specialFolders[platform::kCsidlCommonPrograms] = kPrograms;
  }
};

TEST_F(ShortcutTest, BothLinksPointAtTheLauncherInTheInstallFolder) {
  // A drive-root choice leaves a backslash before the joining slash.
  ASSERT_TRUE(CreateShortcuts(u"D:\\Velkaris\\"));
  ASSERT_EQ(machine().shellLinks.size(), 2u);
  for (const char16_t* linkPath : {kDesktopLink, kProgramsLink}) {
    SCOPED_TRACE(Utf8(linkPath));
    ASSERT_EQ(machine().shellLinks.count(linkPath), 1u);
    const auto& link = machine().shellLinks[linkPath];
    EXPECT_EQ(link.target, u"D:\\Velkaris\\/VelkarisLauncher.exe");
    EXPECT_EQ(link.iconFile, link.target);
    EXPECT_EQ(link.iconIndex, 0);
    EXPECT_EQ(link.description, u"Velkaris");
  }
  // The component library is initialised again for every link.
  EXPECT_EQ(machine().componentLibraryInits, 2);
}

TEST_F(ShortcutTest, SecondLinkIsOnlyAttemptedAfterTheFirstWasSaved) {
  struct Case {
    const char* what;
    void (*breakIt)(sim::Machine& machine);
    bool desktopLinkSaved;
  };
  const Case cases[] = {
      {"desktop unresolved",
       [](sim::Machine& m) { m.specialFolders.erase(platform::kCsidlDesktop); }, false},
      {"desktop not writable", [](sim::Machine& m) { m.unwritableLinkFolders.insert(kDesktop); },
       false},
      {"no shell-link object", [](sim::Machine& m) { m.shellLinkCreateResult = kClassNotRegistered; },
       false},
      {"programs unresolved",
       [](sim::Machine& m) { m.specialFolders.erase(platform::kCsidlCommonPrograms); }, true},
      {"programs not writable", [](sim::Machine& m) { m.unwritableLinkFolders.insert(kPrograms); },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    machine().Reset(root());
    ResolveLinkFolders();
    c.breakIt(machine());
    EXPECT_FALSE(CreateShortcuts(u"C:\\Games\\Velkaris"));
    EXPECT_EQ(machine().shellLinks.count(kDesktopLink), c.desktopLinkSaved ? 1u : 0u);
    EXPECT_EQ(machine().shellLinks.count(kProgramsLink), 0u);
  }
}

TEST_F(ShortcutTest, LinkPathThatDoesNotFitAPathBufferIsAFailedLink) {
  // Folder + "/" + "Velkaris.lnk" adds 13 code units.
  const std::u16string fits = u"C:\\" + std::u16string(259 - 13 - 3, u'd');
  const std::u16string tooLong = fits + u"d";
  machine().specialFolders[platform::kCsidlDesktop] = fits;
  machine().specialFolders[platform::kCsidlCommonPrograms] = tooLong;
  EXPECT_FALSE(CreateShortcuts(u"C:\\Games\\Velkaris"));
  EXPECT_EQ(machine().shellLinks.count(fits + u"/Velkaris.lnk"), 1u);
  EXPECT_EQ(machine().shellLinks.size(), 1u);
}

}  // namespace
