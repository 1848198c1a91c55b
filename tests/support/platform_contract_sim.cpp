#include "tests/support/platform_contract.h"

#include <algorithm>
#include <filesystem>

#include "platform/sim/sim_machine.h"

void PlatformContractTest::SetUp() {
  WorkFolderTest::SetUp();
  sim::Current().processes = {OwnProcessName()};
}

// Nothing else to undo: the next work folder resets the whole machine,
// registry included.
void PlatformContractTest::TearDown() {
  m_held.clear();
  WorkFolderTest::TearDown();
}

std::u16string PlatformContractTest::OwnProcessName() {
  std::error_code error;
  const std::string name =
      std::filesystem::read_symlink("/proc/self/exe", error).filename().string();
  return std::u16string(name.begin(), name.end()) + u".exe";
}

bool PlatformContractTest::MakeLink(const std::u16string& link,
                                          const std::u16string& target) {
  std::u16string hostTarget = target;
  std::replace(hostTarget.begin(), hostTarget.end(), u'\\', u'/');
  std::error_code error;
  std::filesystem::create_symlink(hostTarget, sim::Current().HostPath(link), error);
  return !error;
}

bool PlatformContractTest::UseAnsiCodePage(uint32_t codePage) {
  sim::Current().ansiCodePage = codePage;
  return true;
}

bool PlatformContractTest::MakeHardLink(const std::u16string& link,
                                        const std::u16string& target) {
  std::error_code error;
  std::filesystem::create_hard_link(sim::Current().HostPath(target),
                                    sim::Current().HostPath(link), error);
  return !error;
}

bool PlatformContractTest::MachineLoadsLibraries() { return false; }

PlatformContractTest::LibraryLoad PlatformContractTest::LoadFromSystemFolder(
    const std::u16string&, const char*) {
  return LibraryLoad::kNotLoaded;
}
