#include "ui/message_box.h"

#include "log/support_log.h"
#include "ui/splash.h"

int ShowCatalogueMessage(const std::u16string& text, const char16_t* caption, uint32_t type) {
  return platform::ShowMessageBox(g_splashWindow, text, caption, type);
}

void ShowManagerNote(const char16_t* note) {
  LogLine("box").Add("box", note).Add("caption", kLauncherCaption).Write();
  platform::ShowMessageBox(nullptr, note, kLauncherCaption, platform::kMbOk);
}
