#include "ui/splash_rules.h"

namespace {
constexpr int kRetrievedQuit = 0;
constexpr int kRetrievalFailed = -1;
}  // namespace

SplashPosition CentredPosition(int screenWidth, int screenHeight, int pictureWidth,
                               int pictureHeight) {
  return {screenWidth / 2 - pictureWidth / 2, screenHeight / 2 - pictureHeight / 2};
}

PumpStep NextPumpStep(int retrieved, bool quitMessage) {
  if (retrieved == kRetrievedQuit) return PumpStep::kRetrieveAgain;
  if (retrieved == kRetrievalFailed) return PumpStep::kEndBroken;
  return quitMessage ? PumpStep::kEndOnQuit : PumpStep::kDispatch;
}
