#pragma once

#include <atomic>
#include <cstdint>

#include "platform/types.h"

// The splash window stands centred on the primary screen for the whole run.
// It is built on a thread of its own, which then serves its messages until
// the process ends; the main thread only waits for it to be ready and uses
// its handle as the owner of every message box.

// The visible splash window: owner of the launcher's message boxes and of
// the folder chooser. Written once by the splash thread before it sets
// g_splashReady.
extern platform::WindowHandle g_splashWindow;
// An invisible popup that owns the splash so neither gets a taskbar button.
extern platform::WindowHandle g_splashOwnerWindow;
// 0 until the splash window exists and has been drawn and placed, then 1.
// Stored with release and loaded with acquire, which publishes the handles.
extern std::atomic<uint8_t> g_splashReady;

// Thread procedure of the splash thread; the argument is the instance handle.
unsigned SplashThreadProc(void* instance);
