#include "publish/list_names.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/publish/publish_fixture.h"

namespace {

using publish::ExitCode;

struct NameCase {
  std::u16string name;
  const char* problem;  // a word of the reason; null: accepted
  publish::CodePage codePage = publish::kDefaultCodePage;
};

// A name given by its bytes in code page 950, as a list holds it.
std::u16string FromCp950(std::string_view bytes) {
  std::u16string name;
  EXPECT_TRUE(publish::NameOfCodePageBytes(bytes, publish::kDefaultCodePage, &name));
  return name;
}

TEST(ListNames, RefusesWhatTheLauncherCouldNotFetchIntoANewInstallFolder) {
  const NameCase cases[] = {
      {u"readme.txt", nullptr},
      {u"locales\\zh_TW.txt", nullptr},
      {u"LOCALES\\zh_TW.txt", nullptr},  // Windows folders ignore case
      {u"VelkarisPatcher32.vke.bak", nullptr},
      {std::u16string(127, u'a'), nullptr},
      {std::u16string(128, u'a'), "longer than 127"},
      {u"", "empty"},
      // Code page 950: 許, 功 and 蓋 end in the byte of "\\", 四 in that of "|".
      {u"\u8A31\u529F\u84CB.txt", nullptr},
      {u"locales\\\u56DB.txt", nullptr},
      {u"locales\\\u8AAA\u660E.txt", nullptr},
      {std::u16string(63, u'\u8A31') + u"a", nullptr},
      {std::u16string(64, u'\u8A31'), "longer than 127 bytes in code page 950 (128)"},
      {u"caf\u00e9.txt", "no form in code page 950"},
      {u"\U0001F600.txt", "no form in code page 950"},
      // Code page 932 has no yen sign of its own: a best fit would write the
      // byte of "\\", a folder separator.
      {u"a\u00A5b.dat", "no form in code page 932", 932},
      // Bytes that a byte-wise reader splits at the second byte of 功:
      {FromCp950("\xA5\x5C..\x5Cx.dll"), "plain relative path"},      // 功..\x.dll
      {FromCp950("\xA5\x5C\x5C..\x5Cx.dll"), "plain relative path"},  // 功\..\x.dll
      {FromCp950("\xA5\x5C\x5C\x43ON"), "plain relative path"},       // 功\CON
      {FromCp950("\xA5\x5C\x43ON.txt"), nullptr},                     // 功CON.txt: no device
      {u"tab\there", "control character"},
      {u"two words.txt", "blank"},
      {u"locales/zh.txt", "\"/\""},
      {u"..\\up.txt", "plain relative path"},
      {u"\\rooted.txt", "plain relative path"},
      {u"C:x.txt", "plain relative path"},
      {u"nul.txt", "plain relative path"},
      {u"locales\\COM1", "plain relative path"},
      {u"trailing.", "plain relative path"},
      {u"data\\x.pak", "folder other than \"locales\""},
      {u"locales\\sub\\x.pak", "folder other than \"locales\""},
      {u"patcher_version", "its own files"},
      {u"Patcher_Files_Version_tmp", "its own files"},
      {u"velkarispatcher32.vke", "its own files"},
      {u"locales", "its own files"},
      {u"Launcher.LOG.1", "its own files"},
      {u"VelkarisLauncher.exe.old", "its own files"},
      {u"a.dat.publish-tmp", ".publish-tmp"},
      // A signed update of "a.dat" would be staged over it.
      {u"a.dat.temp", "\".temp\""},
      {u"locales\\zh.TeMp", "\".temp\""},
  };
  for (const NameCase& c : cases) {
    const std::string problem = publish::ListNameProblem(c.name, c.codePage);
    if (c.problem == nullptr) {
      EXPECT_EQ(problem, "") << publish::Printable(c.name);
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos)
          << publish::Printable(c.name) << ": " << problem;
    }
  }
}

TEST_F(PublishTest, EveryRefusedNameIsReportedTogetherAndNothingIsWritten) {
  SetBuild(u"fine.txt", "ok");
  WriteBytes(Build() / "data" / "x.pak", "x");
  WriteBytes(Build() / "back\\slash.txt", "x");
  WriteBytes(Build() / "caf\xC3\xA9.txt", "x");
  WriteBytes(Build() / "\xC0\xAE\xC0\xAE.txt", "x");  // ".." in overlong UTF-8
  WriteBytes(Build() / "Fine.TXT", "x");
  // Full-width ａ and Ａ: one file for Windows too.
  WriteBytes(Build() / "\xEF\xBD\x81.txt", "x");
  WriteBytes(Build() / "\xEF\xBC\xA1.txt", "x");
  WriteBytes(Build() / "patcher_version", "9\r\n9");
  EXPECT_EQ(Run(), ExitCode::kUnsafeName);
  for (const char* named :
       {"data/x.pak", "back\\slash.txt", "caf\xC3\xA9.txt: has no form in code page 950",
        "\xC0\xAE\xC0\xAE.txt: is not UTF-8", "Fine.TXT", "patcher_version",
        "\xEF\xBD\x81.txt: is the same file as \xEF\xBC\xA1.txt"}) {
    EXPECT_NE(LastMessage().find(named), std::string::npos) << named << " in\n" << LastMessage();
  }
  EXPECT_NE(LastMessage().find("only in case"), std::string::npos);
  EXPECT_TRUE(Snapshot().empty());
}

}  // namespace
