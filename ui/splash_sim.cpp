// The splash of the simulated machine: no window, only the handle that
// message boxes name as their owner and the ready flag.
#include "ui/splash.h"

#include "platform/sim/sim_machine.h"

namespace {
int g_simulatedSplash;
}

unsigned SplashThreadProc(void* instance) {
  (void)instance;
  g_splashWindow = &g_simulatedSplash;
  if (!sim::Current().deferSplashReady) g_splashReady.store(1, std::memory_order_release);
  return 0;
}
