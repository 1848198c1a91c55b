#include <cstdio>

#include "publish/command_line.h"

int main(int argc, char** argv) {
  const publish::Arguments args(argv + 1, argv + argc);
  return publish::RunPublishTool(args, stdout, stderr);
}
