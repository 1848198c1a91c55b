#include "ui/message_box.h"

#include "ui/splash.h"

int ShowCatalogueMessage(const std::u16string& text, const char16_t* caption, uint32_t type) {
  return platform::ShowMessageBox(g_splashWindow, text, caption, type);
}
