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

// The proxy variables libcurl would read from the environment, and the
// list of hosts they spare: all removed, or every proxy set to `proxy`.
void ClearProxyEnvironment();
void SetProxyEnvironment(const char* proxy);
// Sets one variable of the environment libcurl reads (per build); a null
// value removes it.
void SetEnvironmentValue(const char* name, const char* value);
