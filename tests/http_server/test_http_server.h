// A small HTTP/1.1 server on 127.0.0.1 for download-client tests. It serves
// files under /UploadData/ from a document root and per-path scripted
// responses, some of which deliberately misbehave (cut short, stall, reset,
// trickle, answer a range wrongly), and records every request exactly as it
// arrived. A 200 answers "Range: bytes=N-" with 206 and Content-Range, or 416
// when N is past the body; other range forms get the whole body.
//
// One thread per connection. A connection stays open for further requests
// (HTTP/1.1 unless the client sends "Connection: close", HTTP/1.0 only with
// "Connection: keep-alive") after every response except the faults, which
// always end it; an idle kept-alive connection is closed after 5 s. Every
// wait is sliced so Stop() returns within about a second.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net_socket.h"

namespace testhttp {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// How a scripted response misbehaves (for its first `fault_times` requests).
enum class Fault {
  kNone,
  kCutShort,            // headers with the full Content-Length, part of the body, close
  kHeadersThenSilence,  // status line and headers, then nothing while holding the connection
  kReset,               // read the request, then close with RST and no response
  kNoResponse,          // read the request, then nothing while holding the connection
  kCutEvery,            // every answer's body cut cut_bytes past the byte asked for (N of a
                        // range, else 0), then close; a shorter one whole
};

// How a 200 answers "Range: bytes=N-".
enum class RangeAnswer {
  kHonour,         // 206 from N to the end
  kIgnore,         // 200 with the whole body
  kEarlyStart,     // 206 from range_shift bytes before N (from 0 when that is before it)
  kShiftedBody,    // 206 naming N to the end, its body from range_shift bytes before N
                   // (the file's first bytes when that is before 0), as a cache that
                   // splices two answers sends
  kWrongTotal,     // 206 from N of a file one byte longer: its range, total and body agree
  kPastTheEnd,     // 206 from N with range_shift bytes more than the body holds
  kUnsatisfiable,  // 416 whatever N is
};

struct Response {
  static constexpr int kEveryRequest = -1;
  static constexpr std::size_t kHalfBody = static_cast<std::size_t>(-1);
  static constexpr int kDefaultHoldMs = 30000;

  int status = 200;
  std::string reason;  // empty: the standard phrase for `status`
  HeaderList headers;  // Content-Length and Connection are added unless set here
  std::string body;    // empty: no body, Content-Length: 0

  Fault fault = Fault::kNone;
  // The fault applies to the first N requests for the path (counted from the
  // last SetRoute); later requests get the normal response.
  int fault_times = kEveryRequest;
  std::size_t cut_bytes = kHalfBody;  // body bytes sent before a cut (kept below the body size)
  int hold_ms = kDefaultHoldMs;       // how long silence / no response holds the connection

  std::size_t trickle_chunk_bytes = 0;  // 0: send the body at once
  int trickle_delay_ms = 0;             // pause between trickled chunks
  int delay_ms = 0;                     // silence before the answer starts
  bool unannounced = false;             // body sent chunked, without Content-Length

  RangeAnswer range_answer = RangeAnswer::kHonour;
  std::size_t range_shift = 0;

  static Response Ok(std::string body, const std::string& content_type = "application/octet-stream");
  // Any status with an optional body; no Content-Type when the body is empty.
  static Response Status(int status, std::string body = {}, const std::string& content_type = "text/html");
  // A small HTML page naming the status, e.g. "404 Not Found".
  static Response HtmlPage(int status);
  // Location header plus a small HTML body pointing at it.
  static Response Redirect(const std::string& location, int status = 302);

  Response& WithHeader(const std::string& name, const std::string& value);
  Response& CutShort(int times, std::size_t bytes = kHalfBody);
  Response& HeadersThenSilence(int times = kEveryRequest, int hold = kDefaultHoldMs);
  Response& Reset(int times = kEveryRequest);
  Response& NoResponse(int times = kEveryRequest, int hold = kDefaultHoldMs);
  Response& Trickle(std::size_t chunk_bytes, int delay_ms);
  Response& CutEvery(std::size_t bytes);
  Response& Delay(int ms);
  Response& Unannounced();
  Response& Ranges(RangeAnswer answer, std::size_t shift = 0);
};

// Standard reason phrase ("Not Found"), or "Status" for unknown codes.
std::string ReasonPhrase(int status);

struct RecordedRequest {
  std::string method;
  // Exactly the bytes between the first and the last space of the request
  // line: an unescaped blank or non-ASCII byte stays as sent.
  std::string target;
  std::string version;  // e.g. "HTTP/1.1"
  HeaderList headers;   // in arrival order, values trimmed
  std::chrono::steady_clock::time_point received;       // for measuring gaps
  std::chrono::system_clock::time_point received_wall;  // for logs

  // First header with this name (case-insensitive); empty if absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
};

class TestHttpServer {
 public:
  using RequestObserver = std::function<void(const RecordedRequest&)>;

  TestHttpServer();
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  // Binds 127.0.0.1:port (0 = any free port) and starts serving. False if
  // already running or the port cannot be bound.
  bool Start(std::uint16_t port = 0);
  // Bound port while running, else 0.
  std::uint16_t Port() const;
  // "http://127.0.0.1:PORT"
  std::string BaseUrl() const;
  // Closes the listener and every connection, joins all threads. Idempotent.
  void Stop();

  // Folder served under /UploadData/; empty path disables file serving.
  void SetDocumentRoot(const std::filesystem::path& root);
  // Scripted response for a request-target (matched exactly, then without
  // its query). Takes precedence over the document root. Resets the
  // request counter that limits faults to the first N requests.
  void SetRoute(const std::string& path, const Response& response);
  void RemoveRoute(const std::string& path);
  void ClearRoutes();

  std::vector<RecordedRequest> Requests() const;
  // Clears the request log and the connection count.
  void ClearRequests();
  // Connections accepted since construction or the last ClearRequests(), so
  // a test can tell requests on one connection from one connection each.
  // Kept across Stop()/Start(), like the request log.
  std::size_t ConnectionCount() const;
  // Number of recorded requests whose target equals `target`.
  std::size_t CountRequests(const std::string& target) const;
  // Waits until at least `count` requests are recorded; false on timeout.
  bool WaitForRequestCount(std::size_t count, std::chrono::milliseconds timeout) const;

  // Called (serialised, on a server thread) for every request as it is
  // recorded, before the response; used by the standalone server's log.
  void SetRequestObserver(RequestObserver observer);

 private:
  struct Route {
    Response response;
    int served = 0;
  };
  struct Connection {
    std::thread thread;
    std::atomic<bool> finished{false};
  };
  struct Plan;
  enum class HeadRead { kOk, kTooLarge, kGone };

  void AcceptLoop();
  void ReapFinishedConnections(bool all);
  void HandleConnection(net::Socket socket);
  // Reads up to the end of the next request head, within `timeout_ms`.
  // `received` carries bytes over from one request to the next.
  HeadRead ReadRequestHead(const net::Socket& socket, int timeout_ms, std::string* received, std::string* head);
  void Record(const RecordedRequest& request);
  Plan Resolve(const RecordedRequest& request);
  // Answers one request; true if the connection stays open for another.
  bool Execute(net::Socket* socket, const RecordedRequest& request, const Plan& plan);
  bool SendAll(const net::Socket& socket, const char* data, std::size_t length);
  bool SendBody(const net::Socket& socket, const std::string& body, std::size_t length, const Response& response);
  void Hold(const net::Socket& socket, int hold_ms);
  void LingeringClose(net::Socket* socket);
  // Sleeps up to `ms`; true if the server is stopping.
  bool WaitForStop(int ms);

  net::SocketLibrary socket_library_;
  net::Socket listener_;
  std::atomic<std::uint16_t> port_{0};
  bool running_ = false;
  std::thread accept_thread_;
  std::vector<std::unique_ptr<Connection>> connections_;  // accept thread only while running

  std::atomic<bool> stopping_{false};
  std::mutex stop_mutex_;
  std::condition_variable stop_cv_;

  mutable std::mutex config_mutex_;
  std::filesystem::path document_root_;
  std::map<std::string, Route> routes_;

  std::mutex observer_mutex_;
  RequestObserver observer_;

  mutable std::mutex log_mutex_;
  mutable std::condition_variable log_cv_;
  std::vector<RecordedRequest> requests_;
  std::size_t connection_count_ = 0;  // under log_mutex_, cleared with the log
};

}  // namespace testhttp
