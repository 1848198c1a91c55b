#pragma once

#include "tests/support/sim_test.h"
#include "ui/splash.h"

// A simulated machine with a splash window up, for code whose message boxes
// the splash owns.
class SplashOwnerTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    g_splashWindow = &m_splash;
  }
  void TearDown() override {
    g_splashWindow = nullptr;
    SimTest::TearDown();
  }

 private:
  int m_splash = 0;
};
