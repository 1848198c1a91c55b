#pragma once

#include "platform/win32.h"

// What the Win32 backend of the file calls shows its own tests.
namespace platform {

// IsAdministratorsOnly's judgement of a descriptor that holds an owner and
// a DACL: Wine keeps no descriptor set on a file or folder, so the
// judgement is proved on descriptors made in the process.
bool IsAdministratorsOnlyDescriptor(PSECURITY_DESCRIPTOR descriptor);

}  // namespace platform
