#include "ui/splash_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(SplashRules, CentresWithEachHalfTruncatedOnItsOwn) {
  struct Case {
    int screenWidth, screenHeight, width, height;
    int x, y;
  };
  const Case cases[] = {
      {1920, 1080, 461, 514, 730, 283},   // the suite's screen and picture
      {1921, 1081, 461, 515, 730, 283},   // odd sizes: both halves round down
      {1024, 768, 1024, 768, 0, 0},       // the picture fills the screen
      {800, 600, 1025, 769, -112, -84},   // larger than the screen: negative
      {1920, 1080, 0, 0, 960, 540},       // no picture: zero size at the centre
  };
  for (const Case& c : cases) {
    const SplashPosition position = CentredPosition(c.screenWidth, c.screenHeight, c.width, c.height);
    EXPECT_EQ(position.x, c.x) << c.screenWidth << "x" << c.screenHeight << " " << c.width;
    EXPECT_EQ(position.y, c.y) << c.screenWidth << "x" << c.screenHeight << " " << c.height;
  }
}

TEST(SplashRules, AQuitMessageNeverEndsTheLoop) {
  struct Case {
    int retrieved;
    bool quitMessage;
    PumpStep step;
  };
  const Case cases[] = {
      {0, true, PumpStep::kRetrieveAgain},
      {0, false, PumpStep::kRetrieveAgain},
      {1, false, PumpStep::kDispatch},
      {42, false, PumpStep::kDispatch},
      {1, true, PumpStep::kEndOnQuit},
      {-1, false, PumpStep::kEndBroken},
      {-1, true, PumpStep::kEndBroken},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NextPumpStep(c.retrieved, c.quitMessage), c.step)
        << "retrieved " << c.retrieved << ", quit " << c.quitMessage;
  }
}

}  // namespace
