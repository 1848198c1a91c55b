// Route scripts and the request log of the standalone server
// (velkaris-test-server). The script format is described at the top of
// server_main.cpp.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "test_http_server.h"

namespace testhttp {

struct ScriptedRoute {
  std::string path;
  Response response;
};

// Parses script text; body=FILE names resolve against base_dir. On failure
// `error` names the line and the problem.
bool ParseRouteScript(const std::string& text, const std::filesystem::path& base_dir,
                      std::vector<ScriptedRoute>* routes, std::string* error);

// Reads a script file; body files resolve against the script's folder.
bool LoadRouteScript(const std::filesystem::path& file, std::vector<ScriptedRoute>* routes, std::string* error);

// JSON string contents: quotes, backslashes, control and non-ASCII bytes
// escaped, each byte >= 0x80 as \u00XX, so the raw bytes can be recovered.
std::string JsonEscape(const std::string& bytes);

// "2024-05-01T12:34:56.789Z"
std::string FormatUtcTime(std::chrono::system_clock::time_point time);

// One log line without the newline, with "run" when the request carries
// kRunHeader:
// {"method":"GET","target":"/UploadData/a b","time":"2024-05-01T12:34:56.789Z","run":"..."}
inline constexpr char kRunHeader[] = "X-Velkaris-Run";
std::string FormatRequestLogLine(const RecordedRequest& request);

}  // namespace testhttp
