#pragma once

#include <string>

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

  // Another program holds the file open, sharing reads and writes but not
  // deletion, until the test ends.
  static void HoldOpen(const std::u16string& path);
  // File name of the running test program, which Windows lists among the
  // processes (the simulated machine is told so).
  static std::u16string OwnProcessName();

  // Loading DLLs from the system folder: only Windows has any (the native
  // build hashes with OpenSSL and draws no splash).
  enum class LibraryLoad { kNotLoaded, kLoaded, kResolved };
  static bool MachineLoadsLibraries();
  // The DLL loaded from the system folder, and `procedure` found in it.
  static LibraryLoad LoadFromSystemFolder(const std::u16string& dll, const char* procedure);
};
