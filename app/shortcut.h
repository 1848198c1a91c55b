#pragma once

#include <cstdint>
#include <string>

// Shell links to the launcher copy in the install folder, on the desktop and
// in the all-users programs menu. True when both were saved.
bool CreateShortcuts(const std::u16string& installFolder);

// Saves one shell link; the platform's result code (negative on failure).
int32_t CreateShellLink(const std::u16string& target, const std::u16string& linkPath,
                        const std::u16string& description);
