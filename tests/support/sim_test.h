#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/sim/sim_machine.h"
#include "tests/support/utf8.h"

// Base fixture of the native tests: a fresh simulated machine whose drives
// live in a new temporary folder, removed after the test.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "launcher-sim-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_root = pattern;
    machine().Reset(m_root);
  }
  void TearDown() override {
    std::error_code error;
    std::filesystem::remove_all(m_root, error);
  }

  static sim::Machine& machine() { return sim::Current(); }
  const std::filesystem::path& root() const { return m_root; }

 private:
  std::filesystem::path m_root;
};
