#pragma once

// The splash window's rules, apart from the window system so that native
// tests can check them.

struct SplashPosition {
  int x = 0;
  int y = 0;
};

// The top-left corner that centres a picture on a screen: each of the four
// halves truncates on its own before the subtraction, and on a screen
// smaller than the picture the corner is negative and used as it is.
SplashPosition CentredPosition(int screenWidth, int screenHeight, int pictureWidth,
                               int pictureHeight);

// What the splash thread's message loop does after one retrieval.
enum class PumpStep {
  kRetrieveAgain,  // a quit message: the splash stays until the process ends
  kDispatch,       // an ordinary message
  kEndOnQuit,      // a quit message the retrieval did not report as one
  kEndBroken,      // the window is gone or the call failed: nothing to serve
};
// `retrieved` is GetMessage's result, `quitMessage` whether the record holds
// a quit message.
PumpStep NextPumpStep(int retrieved, bool quitMessage);
