#pragma once

#include <cstdint>
#include <string>

#include "platform/shell.h"
#include "ui/messages.h"

// Shows a text of the catalogue (or one built from it) in a message box
// owned by the splash window, on the calling thread; returns the button the
// player pressed.
int ShowCatalogueMessage(const std::u16string& text, const char16_t* caption = kLauncherCaption,
                         uint32_t type = platform::kMbOk);
// One of the version manager's notes (messages.h): caption "Launcher", no
// owner window. Its line goes to the support log first.
void ShowManagerNote(const char16_t* note);
