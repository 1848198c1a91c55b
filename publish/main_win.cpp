#include <cstdio>

#include "publish/command_line.h"

// The wide entry point: folder names reach the tool without a code page in
// between.
int wmain(int argc, wchar_t** argv) {
  const publish::Arguments args(argv + 1, argv + argc);
  return publish::RunPublishTool(args, stdout, stderr);
}
