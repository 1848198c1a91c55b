#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

// Base fixture of the tests that both builds run: each test gets an empty
// folder of its own as the current directory (a folder on the simulated
// machine natively, a real temporary folder under Windows), removed after
// the test. Paths below are relative to it or absolute Windows paths.
class WorkFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Files through the platform layer, so both builds see the same paths.
  static void WriteFile(const std::u16string& path, const std::string& bytes);
  // Whole content; empty when the file cannot be read.
  static std::string ReadFile(const std::u16string& path);
  static bool Exists(const std::u16string& path);

 private:
  std::filesystem::path m_hostFolder;  // removed in TearDown
  std::u16string m_previousDirectory;
};

// Loopback tests must not be sent through a proxy named in the environment
// (libcurl honours http_proxy and the like).
void ClearProxyEnvironment();
// Removes one variable from the environment libcurl reads (per build).
void UnsetEnvironmentVariable(const char* name);
