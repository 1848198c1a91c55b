#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "publish/publisher.h"

namespace publish {

// The arguments after the program name, each as the system gave it.
using Arguments = std::vector<std::filesystem::path>;

// False with *problem for a bad command line; *help set for --help.
bool ParseCommandLine(const Arguments& args, PublishOptions* options, bool* quiet, bool* help,
                      std::string* problem);

std::string UsageText();

// The whole tool: parses, publishes, reports; returns the exit code.
int RunPublishTool(const Arguments& args, std::FILE* out, std::FILE* err);

}  // namespace publish
