#pragma once

// Brings the patcher up to the server's version. True when it may be started.
bool CheckPatcherVersion();
