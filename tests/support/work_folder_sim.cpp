#include "tests/support/work_folder.h"

#include <stdlib.h>

#include "platform/files.h"
#include "platform/sim/sim_machine.h"

namespace {
constexpr char16_t kSimWorkFolder[] = u"C:\\work";
}  // namespace

void WorkFolderTest::SetUp() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "launcher-work-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  m_hostFolder = pattern;
  sim::Machine& machine = sim::Current();
  machine.Reset(m_hostFolder);
  m_previousDirectory = machine.currentDirectory;
  machine.MakeFolders(kSimWorkFolder);
  ASSERT_TRUE(platform::SetWorkingDirectory(kSimWorkFolder));
}

void WorkFolderTest::TearDown() {
  platform::SetWorkingDirectory(m_previousDirectory);
  std::error_code error;
  std::filesystem::remove_all(m_hostFolder, error);
}

void SetEnvironmentValue(const char* name, const char* value) {
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}
