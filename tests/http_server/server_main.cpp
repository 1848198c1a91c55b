// velkaris-test-server: the test HTTP server as a standalone program for
// end-to-end tests.
//
//   velkaris-test-server [--port N] [--root DIR] [--script FILE] [--log FILE]
//                        [--max-seconds N]
//
//   --port N         port on 127.0.0.1; 0 (default) picks a free one. The
//                    chosen port is printed alone on the first stdout line.
//   --root DIR       document root served under /UploadData/.
//   --script FILE    route script (below).
//   --log FILE       appends one JSON line per request, written as it arrives:
//                    {"method":"GET","target":"/UploadData/a b","time":"2024-05-01T12:34:56.789Z"}
//                    Quotes, backslashes, control and non-ASCII bytes of the
//                    target are escaped per byte as \u00xx (so byte 0xC3 is
//                    \u00c3). Time is UTC with milliseconds.
//   --max-seconds N  exit after N seconds in all (default 300), so a
//                    forgotten server never lives on.
//
// Route script: one route per line, blank lines and lines starting with '#'
// ignored, fields separated by blanks or tabs:
//
//   PATH STATUS [OPTION...]
//
// PATH is the request-target matched exactly (then without its query); it
// starts with '/' and cannot contain blanks. Routes take precedence over the
// document root. STATUS is 100..599. Without body= or nobody the body is a
// small HTML page naming the status (or, with redirect=, pointing at the
// new location). Options:
//
//   body=FILE          body read from FILE (relative to the script's folder),
//                      Content-Type application/octet-stream
//   nobody             no body, Content-Length: 0
//   type=MIME          Content-Type to use instead
//   header=NAME:VALUE  an extra response header (no blanks)
//   redirect=LOCATION  Location header (use with a 3xx STATUS)
//   cut=K[:BYTES]      the first K requests get the full Content-Length but
//                      only BYTES (default half) of the body, then a close;
//                      later requests get the full response
//   silence[=K]        status line and headers, then nothing, holding the
//                      connection (first K requests, default every request)
//   noresponse[=K]     read the request, then send nothing, holding the
//                      connection (first K requests, default every request)
//   reset[=K]          read the request, then close with a TCP reset
//                      (first K requests, default every request)
//   hold=MS            how long silence/noresponse hold (default 30000)
//   trickle=CHUNK:MS   send the body CHUNK bytes at a time, MS apart
//
// At most one of cut, silence, noresponse, reset per line. Example:
//
//   /UploadData/big.bin 200 body=big.bin cut=2:1000 trickle=4096:10
//   /missing            404 nobody
//   /old                302 redirect=/UploadData/big.bin
//   /stall              200 body=big.bin silence hold=5000

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "server_script.h"
#include "test_http_server.h"

namespace {

constexpr int kDefaultMaxSeconds = 300;
constexpr int kLongestMaxSeconds = 24 * 60 * 60;
constexpr int kMaxPort = 65535;
constexpr int kUsageError = 2;
constexpr int kStartError = 1;

struct Options {
  int port = 0;
  std::string root;
  std::string script;
  std::string log;
  int max_seconds = kDefaultMaxSeconds;
};

bool ParseNumber(const char* text, int min, int max, int* value) {
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || parsed < min || parsed > max) return false;
  *value = static_cast<int>(parsed);
  return true;
}

void PrintUsage() {
  std::cerr << "usage: velkaris-test-server [--port N] [--root DIR] [--script FILE] [--log FILE]"
               " [--max-seconds N]\n";
}

bool ParseArguments(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) {
      std::cerr << "missing value for " << name << "\n";
      return false;
    }
    const char* value = argv[++i];
    bool ok = true;
    if (name == "--port") {
      ok = ParseNumber(value, 0, kMaxPort, &options->port);
    } else if (name == "--root") {
      options->root = value;
    } else if (name == "--script") {
      options->script = value;
    } else if (name == "--log") {
      options->log = value;
    } else if (name == "--max-seconds") {
      ok = ParseNumber(value, 1, kLongestMaxSeconds, &options->max_seconds);
    } else {
      ok = false;
    }
    if (!ok) {
      std::cerr << "bad argument: " << name << " " << value << "\n";
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, &options)) {
    PrintUsage();
    return kUsageError;
  }

  // Declared before the server so it outlives the observer that writes it.
  std::ofstream log;
  testhttp::TestHttpServer server;
  if (!options.root.empty()) server.SetDocumentRoot(std::filesystem::path(options.root));
  if (!options.script.empty()) {
    std::vector<testhttp::ScriptedRoute> routes;
    std::string error;
    if (!testhttp::LoadRouteScript(std::filesystem::path(options.script), &routes, &error)) {
      std::cerr << "script: " << error << "\n";
      return kUsageError;
    }
    for (const auto& route : routes) server.SetRoute(route.path, route.response);
  }

  if (!options.log.empty()) {
    log.open(options.log, std::ios::app | std::ios::binary);
    if (!log) {
      std::cerr << "cannot open log " << options.log << "\n";
      return kUsageError;
    }
    // Flushed per line so a test can read the log while the server runs.
    server.SetRequestObserver([&log](const testhttp::RecordedRequest& request) {
      log << testhttp::FormatRequestLogLine(request) << '\n';
      log.flush();
    });
  }

  if (!server.Start(static_cast<std::uint16_t>(options.port))) {
    std::cerr << "cannot listen on 127.0.0.1:" << options.port << "\n";
    return kStartError;
  }
  std::printf("%u\n", static_cast<unsigned>(server.Port()));
  std::fflush(stdout);

  std::this_thread::sleep_for(std::chrono::seconds(options.max_seconds));
  server.Stop();
  return 0;
}
