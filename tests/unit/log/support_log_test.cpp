#include "log/support_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "release/release_files.h"
#include "tests/support/sim_test.h"

namespace {

constexpr char16_t kInstall[] = u"C:\\Games\\Velkaris";
constexpr char16_t kEarlyEndFolder[] = u"C:\\ProgramData\\Velkaris";
constexpr char kLineEnd[] = "\r\n";

class SupportLogTest : public SimTest {
 protected:
  void TearDown() override {
    EndSupportLog(LogLine("end"));  // none left open for the next test
    SimTest::TearDown();
  }

  static std::u16string EarlyEndFile(const char16_t* name) {
    return std::u16string(kEarlyEndFolder) + u"\\" + name;
  }
  static std::u16string InstallFile(const char16_t* name) {
    return std::u16string(kInstall) + u"\\" + name;
  }
  // The file's lines, each of which must end in CR LF.
  static std::vector<std::string> Lines(const std::u16string& path) {
    const std::string text = machine().ReadFile(path);
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
      const size_t end = text.find(kLineEnd, start);
      EXPECT_NE(end, std::string::npos) << "a line without its CR LF";
      if (end == std::string::npos) break;
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }
  // What follows "step=STEP " in a line.
  static std::string AfterStep(const std::string& line, const std::string& step) {
    const std::string marker = " step=" + step + " ";
    const size_t at = line.find(marker);
    return at == std::string::npos ? "(no step " + step + ")" : line.substr(at + marker.size());
  }
};

TEST_F(SupportLogTest, EachLineIsTheTimeTheRunAndEscapedFields) {
  ASSERT_TRUE(StartSupportLog());
  MoveSupportLog(kInstall);
  const std::string runId = SupportRunId();
  EXPECT_TRUE(std::regex_match(runId, std::regex("[0-9a-f]{16}"))) << runId;

  struct Case {
    const char* what;
    std::string value;
    std::string written;
  };
  const Case cases[] = {
      {"a server path", "locales/zh_TW.txt", "locales/zh_TW.txt"},
      {"nothing", "", "\"\""},
      {"a blank", "Failed to read.", "\"Failed to read.\""},
      {"a quote and a backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
      {"a forged line", "x\r\n" + std::string(" step=end outcome=patcher-started"),
       "\"x\\x0d\\x0a step=end outcome=patcher-started\""},
      {"code-page 950 bytes, the second byte a backslash", "\xb3\x5c.txt", "\"\\xb3\\\\.txt\""},
      {"a value past its bound", std::string(300, 'n'), "\"" + std::string(200, 'n') + "...\""},
  };
  for (const Case& c : cases) LogLine("value").Add("v", std::string_view(c.value)).Write();
  LogLine("fields").Add("path", std::u16string(u"readme.txt")).Add("status", 404L).Write();

  const std::vector<std::string> lines = Lines(InstallFile(kSupportLogName));
  ASSERT_EQ(lines.size(), std::size(cases) + 1);
  // The simulated clock's second, in UTC.
  EXPECT_EQ(lines[0].substr(0, lines[0].find(" step=")),
            "time=2022-06-18T04:26:40.000Z run=" + runId);
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(AfterStep(lines[i], "value"), "v=" + cases[i].written) << cases[i].what;
  }
  EXPECT_EQ(AfterStep(lines.back(), "fields"), "path=readme.txt status=404");
}

// Over 1,000 runs the log and the older lines stay two files within the
// limit, in the install folder and in the folder of runs that end before
// they know it alike: the files hold the last lines written, in order, none
// lost or doubled where the log turned into the older lines, the newest in
// the log itself.
TEST_F(SupportLogTest, OverAThousandRunsTwoFilesKeepTheNewestLinesWithinTheLimit) {
  constexpr int kRuns = 1000;
  // Few lines a run, long enough for each folder's log to fill more than once.
  constexpr int kEarlyLines = 2;
  constexpr int kLaterLines = 2;
  const std::string path = "locales/" + std::string(kMaxLogValueChars - 20, 'n') + ".txt";
  struct Folder {
    std::u16string path;
    std::vector<int> written;  // the numbers of the lines it was given
  };
  Folder earlyEnd{EarlyEndFile(u""), {}};
  Folder install{InstallFile(u""), {}};
  int sequence = 0;
  for (int run = 0; run < kRuns; ++run) {
    ASSERT_TRUE(StartSupportLog());
    // Every other run ends before it knows its install folder.
    Folder& folder = run % 2 == 0 ? install : earlyEnd;
    for (int line = 0; line < kEarlyLines; ++line) {
      LogLine("early").Add("path", path).Add("n", sequence).Write();
      folder.written.push_back(sequence++);
    }
    if (&folder == &install) {
      MoveSupportLog(kInstall);
      for (int line = 0; line < kLaterLines; ++line) {
        LogLine("request").Add("path", path).Add("n", sequence).Write();
        install.written.push_back(sequence++);
      }
    }
    EndSupportLog(LogLine("end").Add("n", sequence));
    folder.written.push_back(sequence++);
  }
  EXPECT_FALSE(machine().Exists(machine().tempFolder + kSupportLogName));

  for (const Folder& folder : {earlyEnd, install}) {
    SCOPED_TRACE(Utf8(folder.path));
    const std::u16string log = folder.path + kSupportLogName;
    const std::u16string older = folder.path + kOlderSupportLogName;
    EXPECT_LE(std::filesystem::file_size(machine().HostPath(log)), kSupportLogMaxBytes);
    // The older lines were the log until the next line would not fit.
    const uintmax_t olderBytes = std::filesystem::file_size(machine().HostPath(older));
    EXPECT_LE(olderBytes, kSupportLogMaxBytes);
    EXPECT_GT(olderBytes, kSupportLogMaxBytes - kMaxLogLineBytes);
    std::vector<std::string> lines = Lines(older);
    const std::vector<std::string> newest = Lines(log);
    lines.insert(lines.end(), newest.begin(), newest.end());
    std::vector<int> numbers;
    for (const std::string& line : lines) {
      numbers.push_back(std::stoi(line.substr(line.rfind(" n=") + 3)));
    }
    ASSERT_LE(numbers.size(), folder.written.size());
    EXPECT_EQ(numbers, std::vector<int>(folder.written.end() - static_cast<long>(numbers.size()),
                                        folder.written.end()));
    EXPECT_EQ(machine().ReadFile(log).find("C:"), std::string::npos);  // no local path
  }
}

// A run that ends before it knows its install folder (a game running, the
// folder dialog closed) writes nothing in the user's temporary folder,
// whose path the user sets: its lines go to a folder below the machine's
// program data that only administrators can change, made so, or made the
// launcher's when a user made it first; never through a link there.
TEST_F(SupportLogTest, ARunThatEndsBeforeItsInstallFolderLogsWhereOnlyAdministratorsWrite) {
  const std::u16string elsewhere = u"C:\\Users\\player\\Documents";
  const std::u16string log = EarlyEndFile(kSupportLogName);
  const struct {
    const char* what;
    bool madeByAUser;
    std::u16string link;  // made a link to elsewhere, or elsewhere's log
    bool written;
  } cases[] = {
      {"no such folder yet", false, {}, true},
      {"a folder a user made", true, {}, true},
      {"a link to another folder", false, kEarlyEndFolder, false},
      {"a link at the log's name", true, log, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(root());
    machine().Reset(root());
    machine().MakeFolders(elsewhere);
    if (c.madeByAUser) machine().MakeFolders(kEarlyEndFolder);
    if (!c.link.empty()) {
      const std::u16string target = c.link == log ? elsewhere + u"\\" + kSupportLogName : elsewhere;
      std::filesystem::create_symlink(machine().HostPath(target), machine().HostPath(c.link));
    }
    ASSERT_TRUE(StartSupportLog());
    LogLine("install-folder").Add("result", "failed").Write();
    EndSupportLog(LogLine("end"));
    EXPECT_EQ(Lines(log).size(), c.written ? 2u : 0u);
    EXPECT_EQ(machine().protectedPaths.count(kEarlyEndFolder), c.link == kEarlyEndFolder ? 0u : 1u);
    EXPECT_FALSE(machine().Exists(elsewhere + u"\\" + kSupportLogName));
    EXPECT_FALSE(machine().Exists(machine().tempFolder + kSupportLogName));
  }
}

}  // namespace
