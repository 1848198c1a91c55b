#include "ui/splash.h"

platform::WindowHandle g_splashWindow = nullptr;
platform::WindowHandle g_splashOwnerWindow = nullptr;
std::atomic<uint8_t> g_splashReady{0};
