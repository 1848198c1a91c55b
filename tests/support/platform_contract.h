#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/work_folder.h"

// Base fixture of the platform contract: the same rows run against the
// simulated machine natively and against Windows (Wine) in the Windows
// build, each test in a work folder of its own. Machine state that only one
// side lets a test set is set here, the real way under Windows.
class PlatformContractTest : public WorkFolderTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The HKEY_LOCAL_MACHINE key the registry rows use; absent when each test
  // starts and removed when it ends.
  static constexpr char16_t kContractKey[] = u"Software\\VelkarisContract";

  // The file is held open as the launcher holds the patcher (reading
  // shared, nothing else) until the test ends.
  void HoldOpen(const std::u16string& path) {
    m_held.push_back(platform::HoldFile(path));
    ASSERT_TRUE(m_held.back()) << "cannot hold the file open";
  }
  // A symbolic link to a folder or a file, until the test ends: `link`
  // relative to the work folder, `target` to the link's own folder, as a
  // host's link names it. Windows sees a reparse point at a link to a
  // folder and opens through it, as through a junction.
  bool MakeLink(const std::u16string& link, const std::u16string& target);
  // A second name for an existing file, both plain names in the work folder.
  static bool MakeHardLink(const std::u16string& link, const std::u16string& target);
  // File name of the running test program, which Windows lists among the
  // processes (the simulated machine is told so).
  static std::u16string OwnProcessName();

  // Whether the machine's ANSI code page is `codePage`: the simulated
  // machine is set to it; Windows takes its own from the locale it started
  // in (LANG under Wine), and another is no match.
  static bool UseAnsiCodePage(uint32_t codePage);

  // Loading DLLs from the system folder: only Windows has any (the native
  // build hashes with OpenSSL and draws no splash).
  enum class LibraryLoad { kNotLoaded, kLoaded, kResolved };
  static bool MachineLoadsLibraries();
  // The DLL loaded from the system folder, and `procedure` found in it.
  static LibraryLoad LoadFromSystemFolder(const std::u16string& dll, const char* procedure);

 private:
  // Let go before the work folder goes.
  std::vector<platform::HeldFile> m_held;
  std::vector<std::u16string> m_links;
};
