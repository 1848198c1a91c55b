// Self-tests of the test HTTP server, using plain sockets as the client so
// the server is checked independently of libcurl.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "net_socket.h"
#include "server_script.h"
#include "test_http_server.h"

namespace testhttp {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kClientTimeoutMs = 5000;  // upper bound for any one exchange
constexpr int kQuietMs = 300;           // "nothing arrives" window for silence checks
constexpr milliseconds kStopBound{1500};
// Well below the server's 5 s keep-alive idle time, so a connection it kept
// open by mistake shows up as a timeout rather than as a late close.
constexpr int kCloseWithinMs = 2000;
constexpr int kRoundTrips = 20;
constexpr milliseconds kRoundTripsBound{300};
constexpr std::size_t kReadChunk = 4096;

enum class End { kClosed, kReset, kTimeout, kError };

struct Reply {
  std::string raw;
  End end = End::kError;
  int status = 0;
  std::string head;
  std::string body;
  bool complete_head = false;

  std::string Header(const std::string& name) const {
    const std::string key = "\r\n" + name + ": ";
    const std::size_t pos = head.find(key);
    if (pos == std::string::npos) return "<absent>";
    const std::size_t start = pos + key.size();
    return head.substr(start, head.find("\r\n", start) - start);
  }
};

bool SendText(const net::Socket& socket, const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    const net::IoResult result = net::Send(socket, text.data() + sent, text.size() - sent);
    if (result.status != net::IoStatus::kOk) return false;
    sent += result.bytes;
  }
  return true;
}

bool Connect(std::uint16_t port, const std::string& request, net::Socket* socket) {
  return net::ConnectLoopback(port, socket) && SendText(*socket, request);
}

// Reads until the server closes or resets, `stop_at` appears, or timeout.
End ReadFrom(const net::Socket& socket, std::string* out, int timeout_ms, const std::string& stop_at = {}) {
  const auto deadline = Clock::now() + milliseconds(timeout_ms);
  char buffer[kReadChunk];
  while (stop_at.empty() || out->find(stop_at) == std::string::npos) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return End::kTimeout;
    const net::Readiness ready = net::WaitReadable(socket, static_cast<int>(left));
    if (ready == net::Readiness::kTimeout) return End::kTimeout;
    if (ready == net::Readiness::kError) return End::kError;
    const net::IoResult result = net::Receive(socket, buffer, sizeof(buffer));
    if (result.status == net::IoStatus::kClosed) return End::kClosed;
    if (result.status == net::IoStatus::kReset) return End::kReset;
    if (result.status != net::IoStatus::kOk) return End::kError;
    out->append(buffer, result.bytes);
  }
  return End::kTimeout;  // stopped early at `stop_at`; connection still open
}

Reply Split(std::string raw, End end) {
  Reply reply;
  reply.raw = std::move(raw);
  reply.end = end;
  const std::size_t head_end = reply.raw.find("\r\n\r\n");
  if (head_end == std::string::npos) return reply;
  reply.complete_head = true;
  reply.head = reply.raw.substr(0, head_end + 2);
  reply.body = reply.raw.substr(head_end + 4);
  const std::size_t space = reply.head.find(' ');
  if (space != std::string::npos) reply.status = std::atoi(reply.head.c_str() + space + 1);
  return reply;
}

Reply Exchange(std::uint16_t port, const std::string& request) {
  net::Socket socket;
  if (!Connect(port, request, &socket)) return Reply{};
  std::string raw;
  const End end = ReadFrom(socket, &raw, kClientTimeoutMs);
  return Split(std::move(raw), end);
}

// One request per connection: the exchange reads the reply up to the close.
std::string GetRequest(const std::string& target, const std::string& method = "GET") {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

std::string KeepAliveRequest(const std::string& target) {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

void WriteFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sockets_.Ok());
    ASSERT_TRUE(server_.Start());
    ASSERT_NE(server_.Port(), 0);
    std::random_device random;
    base_ = fs::temp_directory_path() / ("test-http-server-" + std::to_string(random()));
    root_ = base_ / "root";
    fs::create_directories(root_);
  }
  void TearDown() override {
    server_.Stop();
    std::error_code ignored;
    fs::remove_all(base_, ignored);
  }
  Reply Get(const std::string& target) { return Exchange(server_.Port(), GetRequest(target)); }

  net::SocketLibrary sockets_;
  TestHttpServer server_;
  fs::path base_;
  fs::path root_;
};

TEST_F(HttpServerTest, ServesFilesUnderUploadDataFromTheDocumentRoot) {
  std::string binary;
  for (int i = 0; i < 3000; ++i) binary += static_cast<char>(i % 256);  // NULs and high bytes
  WriteFile(root_ / "data.bin", binary);
  WriteFile(root_ / "sub" / "a b.txt", "blank");
  WriteFile(root_ / fs::u8path("\xC3\xA9.txt"), "accent");
  fs::create_directories(root_ / "dir");

  EXPECT_EQ(Get("/UploadData/data.bin").status, 404) << "no document root yet";
  server_.SetDocumentRoot(root_);

  const Reply file = Get("/UploadData/data.bin");
  EXPECT_EQ(file.status, 200);
  EXPECT_EQ(file.end, End::kClosed);
  EXPECT_EQ(file.Header("Content-Length"), "3000");
  EXPECT_EQ(file.body, binary);
  EXPECT_EQ(Get("/UploadData/sub/a b.txt").body, "blank");
  EXPECT_EQ(Get("/UploadData/sub/a%20b.txt").body, "blank");
  EXPECT_EQ(Get("/UploadData/%C3%A9.txt").body, "accent");
  EXPECT_EQ(Get("/UploadData/data.bin?version=2").body, binary);

  const Reply head = Exchange(server_.Port(), GetRequest("/UploadData/data.bin", "HEAD"));
  EXPECT_EQ(head.Header("Content-Length"), "3000");
  EXPECT_TRUE(head.body.empty());

  EXPECT_EQ(Get("/UploadData/missing.bin").status, 404);
  EXPECT_EQ(Get("/UploadData/dir").status, 404);
  EXPECT_EQ(Get("/data.bin").status, 404);
  EXPECT_EQ(Get("/UploadData/%zz").status, 400);
}

TEST_F(HttpServerTest, RefusesPathsLeavingTheDocumentRoot) {
  WriteFile(base_ / "secret.txt", "secret");
  server_.SetDocumentRoot(root_);
  for (const char* target : {"/UploadData/../secret.txt", "/UploadData/%2e%2e/secret.txt",
                             "/UploadData/x/..%5C..%5Csecret.txt", "/UploadData/..\\secret.txt",
                             "/UploadData/%2Fetc%2Fpasswd", "/UploadData/C:%5Csecret.txt"}) {
    const Reply reply = Get(target);
    EXPECT_EQ(reply.status, 403) << target;
    EXPECT_EQ(reply.body.find("secret\n"), std::string::npos) << target;
    EXPECT_NE(reply.body, "secret") << target;
  }
}

TEST_F(HttpServerTest, ScriptedStatusesWithAndWithoutBody) {
  server_.SetRoute("/empty", Response::Status(404));
  server_.SetRoute("/page", Response::HtmlPage(404));
  server_.SetRoute("/custom", Response::Status(503, "busy", "text/plain").WithHeader("Retry-After", "7"));

  const Reply empty = Get("/empty");
  EXPECT_EQ(empty.status, 404);
  EXPECT_EQ(empty.Header("Content-Length"), "0");
  EXPECT_EQ(empty.Header("Content-Type"), "<absent>");
  EXPECT_TRUE(empty.body.empty());

  const Reply page = Get("/page");
  EXPECT_EQ(page.raw.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
  EXPECT_EQ(page.Header("Content-Type"), "text/html");
  EXPECT_EQ(page.Header("Content-Length"), std::to_string(page.body.size()));
  EXPECT_NE(page.body.find("404 Not Found"), std::string::npos);

  const Reply custom = Get("/custom?attempt=1");  // query falls back to the path route
  EXPECT_EQ(custom.status, 503);
  EXPECT_EQ(custom.Header("Retry-After"), "7");
  EXPECT_EQ(custom.Header("Connection"), "close");
  EXPECT_EQ(custom.body, "busy");
}

TEST_F(HttpServerTest, RedirectHasLocationAndHtmlBody) {
  server_.SetRoute("/old", Response::Redirect("/UploadData/new?a=1&b=2"));
  const Reply reply = Get("/old");
  EXPECT_EQ(reply.raw.rfind("HTTP/1.1 302 Found\r\n", 0), 0u);
  EXPECT_EQ(reply.Header("Location"), "/UploadData/new?a=1&b=2");
  EXPECT_EQ(reply.Header("Content-Type"), "text/html");
  EXPECT_NE(reply.body.find("href=\"/UploadData/new?a=1&amp;b=2\""), std::string::npos);
  EXPECT_EQ(reply.Header("Content-Length"), std::to_string(reply.body.size()));
}

TEST_F(HttpServerTest, CutShortForTheFirstRequestsThenFull) {
  const std::string body(1000, 'x');
  server_.SetRoute("/file", Response::Ok(body).CutShort(2, 100));
  for (int attempt = 0; attempt < 2; ++attempt) {
    const Reply cut = Get("/file");
    EXPECT_EQ(cut.status, 200);
    EXPECT_EQ(cut.Header("Content-Length"), "1000");
    EXPECT_EQ(cut.body.size(), 100u) << "attempt " << attempt;
    EXPECT_EQ(cut.end, End::kClosed);
  }
  EXPECT_EQ(Get("/file").body, body);
  EXPECT_EQ(Get("/file").body, body);

  // Setting the route again restarts the count; the default cut is half.
  server_.SetRoute("/file", Response::Ok(body).CutShort(1));
  EXPECT_EQ(Get("/file").body.size(), 500u);
  EXPECT_EQ(Get("/file").body, body);
  EXPECT_EQ(server_.CountRequests("/file"), 6u);
}

TEST_F(HttpServerTest, ResetAbortsWithoutAnyResponse) {
  server_.SetRoute("/reset", Response::Ok("fine").Reset(1));
  net::Socket socket;
  ASSERT_TRUE(Connect(server_.Port(), GetRequest("/reset"), &socket));
  std::string raw;
  const End end = ReadFrom(socket, &raw, kClientTimeoutMs);
  EXPECT_TRUE(raw.empty());
  // Wine's client side reports a received RST as an orderly end of stream;
  // a send then fails at once, which it would not after a plain FIN.
  if (end != End::kReset) {
    EXPECT_EQ(end, End::kClosed);
    EXPECT_FALSE(SendText(socket, "x")) << "closed with FIN instead of RST";
  }
  EXPECT_EQ(Get("/reset").body, "fine");
  EXPECT_EQ(server_.CountRequests("/reset"), 2u) << "the reset request is still recorded";
}

TEST_F(HttpServerTest, HeadersThenSilenceHoldsUntilHoldTimeEnds) {
  const int hold_ms = 600;
  server_.SetRoute("/stall", Response::Ok(std::string(100, 'y')).HeadersThenSilence(Response::kEveryRequest, hold_ms));
  net::Socket socket;
  ASSERT_TRUE(Connect(server_.Port(), GetRequest("/stall"), &socket));
  const auto start = Clock::now();
  std::string raw;
  ASSERT_EQ(ReadFrom(socket, &raw, kClientTimeoutMs, "\r\n\r\n"), End::kTimeout);
  const Reply head = Split(raw, End::kTimeout);
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("Content-Length"), "100");
  EXPECT_TRUE(head.body.empty());

  std::string more;
  EXPECT_EQ(ReadFrom(socket, &more, kQuietMs), End::kTimeout) << "no body bytes while silent";
  EXPECT_TRUE(more.empty());
  EXPECT_EQ(ReadFrom(socket, &more, kClientTimeoutMs), End::kClosed) << "hold time is bounded";
  EXPECT_TRUE(more.empty());
  EXPECT_GE(Clock::now() - start, milliseconds(hold_ms - kQuietMs / 2));
}

TEST_F(HttpServerTest, SilentConnectionsDoNotBlockOthersAndStopIsBounded) {
  server_.SetRoute("/silence", Response::Ok("z").HeadersThenSilence());
  server_.SetRoute("/nothing", Response::Ok("z").NoResponse());
  server_.SetRoute("/drip", Response::Ok("abc").Trickle(1, 60000));
  server_.SetRoute("/ok", Response::Ok("ok"));
  net::Socket silent;
  net::Socket nothing;
  net::Socket drip;
  net::Socket idle;  // connected, never sends a request
  ASSERT_TRUE(Connect(server_.Port(), GetRequest("/silence"), &silent));
  ASSERT_TRUE(Connect(server_.Port(), GetRequest("/nothing"), &nothing));
  ASSERT_TRUE(Connect(server_.Port(), GetRequest("/drip"), &drip));
  ASSERT_TRUE(net::ConnectLoopback(server_.Port(), &idle));
  ASSERT_TRUE(server_.WaitForRequestCount(3, milliseconds(kClientTimeoutMs)));

  std::string raw;
  EXPECT_EQ(ReadFrom(nothing, &raw, kQuietMs), End::kTimeout);
  EXPECT_TRUE(raw.empty()) << "no response at all";
  EXPECT_EQ(Get("/ok").body, "ok") << "a held connection must not stall other clients";

  const auto start = Clock::now();
  server_.Stop();
  EXPECT_LT(Clock::now() - start, kStopBound);
  EXPECT_EQ(server_.Port(), 0);
  for (net::Socket* socket : {&silent, &nothing, &drip, &idle}) {
    std::string rest;
    const End end = ReadFrom(*socket, &rest, kClientTimeoutMs);
    EXPECT_TRUE(end == End::kClosed || end == End::kReset) << "held connections are released by Stop";
  }
}

TEST_F(HttpServerTest, RecordsRawTargetsAndHeadersInOrder) {
  std::vector<std::string> observed;
  server_.SetRequestObserver([&observed](const RecordedRequest& r) { observed.push_back(r.target); });
  Exchange(server_.Port(),
           "GET /UploadData/a b HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=5-\r\nConnection: close\r\n\r\n");
  Exchange(server_.Port(), "GET /UploadData/\xC3\xA9 HTTP/1.1\r\nUser-Agent:  velkaris/1 \r\nConnection: close\r\n\r\n");
  Exchange(server_.Port(), "HEAD /x?y=%20 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(Exchange(server_.Port(), "NONSENSE\r\n\r\n").status, 400);

  const std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 3u) << "a malformed request line is not recorded";
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/UploadData/a b");
  EXPECT_EQ(requests[0].version, "HTTP/1.1");
  EXPECT_EQ(requests[0].Header("range"), "bytes=5-");
  EXPECT_EQ(requests[0].headers.front(), (std::pair<std::string, std::string>("Host", "127.0.0.1")));
  EXPECT_EQ(requests[1].target, "/UploadData/\xC3\xA9");
  EXPECT_EQ(requests[1].Header("User-Agent"), "velkaris/1");
  EXPECT_FALSE(requests[1].HasHeader("Range"));
  EXPECT_EQ(requests[2].method, "HEAD");
  EXPECT_EQ(requests[2].target, "/x?y=%20");
  EXPECT_EQ(requests[2].version, "HTTP/1.0");
  EXPECT_LE(requests[0].received, requests[1].received);
  EXPECT_LE(requests[1].received, requests[2].received);
  EXPECT_EQ(observed, (std::vector<std::string>{"/UploadData/a b", "/UploadData/\xC3\xA9", "/x?y=%20"}));

  server_.ClearRequests();
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(HttpServerTest, KeepsConnectionsOpenForFurtherRequests) {
  server_.SetRoute("/a", Response::Ok("first"));
  server_.SetRoute("/b", Response::Ok("second"));
  net::Socket socket;
  ASSERT_TRUE(Connect(server_.Port(), KeepAliveRequest("/a"), &socket));
  std::string raw;
  ASSERT_EQ(ReadFrom(socket, &raw, kClientTimeoutMs, "first"), End::kTimeout) << "closed after one request";
  EXPECT_EQ(Split(raw, End::kTimeout).Header("Connection"), "keep-alive");

  // Two requests in one write, the second HTTP/1.0 asking to be kept alive:
  // bytes after the first head must not be lost.
  ASSERT_TRUE(SendText(socket, KeepAliveRequest("/b") + "GET /a HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n"));
  raw.clear();
  ASSERT_EQ(ReadFrom(socket, &raw, kClientTimeoutMs, "first"), End::kTimeout);
  EXPECT_LT(raw.find("second"), raw.find("first"));
  const std::string keep_alive = "Connection: keep-alive";
  EXPECT_NE(raw.find(keep_alive, raw.find("second")), std::string::npos) << "HTTP/1.0 must be told";

  const std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].target, "/b");
  EXPECT_EQ(requests[2].version, "HTTP/1.0");

  // Head and body go out as separate sends; held back for the client's
  // delayed acknowledgement, each exchange would take some 40 ms.
  const auto round_trips_start = Clock::now();
  for (int i = 0; i < kRoundTrips; ++i) {
    ASSERT_TRUE(SendText(socket, KeepAliveRequest("/b")));
    raw.clear();
    ASSERT_EQ(ReadFrom(socket, &raw, kClientTimeoutMs, "second"), End::kTimeout);
  }
  EXPECT_LT(Clock::now() - round_trips_start, kRoundTripsBound);
  EXPECT_EQ(server_.ConnectionCount(), 1u);

  // An idle kept-alive connection must not hold up Stop().
  const auto start = Clock::now();
  server_.Stop();
  EXPECT_LT(Clock::now() - start, kStopBound);
  const End end = ReadFrom(socket, &raw, kClientTimeoutMs);
  EXPECT_TRUE(end == End::kClosed || end == End::kReset);
  server_.ClearRequests();
  EXPECT_EQ(server_.ConnectionCount(), 0u);
}

TEST_F(HttpServerTest, ClosesWhenAskedOrWhenFramingIsNotExact) {
  server_.SetRoute("/a", Response::Ok("first"));
  server_.SetRoute("/cut", Response::Ok("0123456789").CutShort(Response::kEveryRequest));
  server_.SetRoute("/lying", Response::Ok("short").WithHeader("Content-Length", "100"));
  const struct {
    const char* what;
    std::string request;
  } cases[] = {
      {"close asked", "GET /a HTTP/1.1\r\nconnection: Close\r\n\r\n"},
      {"HTTP/1.0", "GET /a HTTP/1.0\r\n\r\n"},
      {"request body not read", "POST /a HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"},
      {"fault", KeepAliveRequest("/cut")},
      {"scripted length", KeepAliveRequest("/lying")},
  };
  for (const auto& c : cases) {
    net::Socket socket;
    ASSERT_TRUE(Connect(server_.Port(), c.request, &socket)) << c.what;
    std::string raw;
    const End end = ReadFrom(socket, &raw, kCloseWithinMs);
    EXPECT_EQ(end, End::kClosed) << c.what;
    EXPECT_EQ(Split(raw, end).Header("Connection"), "close") << c.what;
  }
  EXPECT_EQ(server_.Requests().size(), std::size(cases));
  EXPECT_EQ(server_.ConnectionCount(), std::size(cases));
}

TEST_F(HttpServerTest, TrickleSendsTheWholeBodyInDelayedChunks) {
  const int delay_ms = 40;
  server_.SetRoute("/slow", Response::Ok("0123456789").Trickle(2, delay_ms));
  const auto start = Clock::now();
  const Reply reply = Get("/slow");
  EXPECT_EQ(reply.body, "0123456789");
  EXPECT_GE(Clock::now() - start, milliseconds(4 * delay_ms)) << "five chunks, four pauses";
}

TEST_F(HttpServerTest, AnswersOpenRangesAsScripted) {
  const std::string body = "0123456789";
  const struct {
    const char* what;
    RangeAnswer answer;
    const char* range;
    int status;
    std::string content_range;
    std::string body;
  } cases[] = {
      {"honoured", RangeAnswer::kHonour, "bytes=4-", 206, "bytes 4-9/10", "456789"},
      {"from past the body", RangeAnswer::kHonour, "bytes=10-", 416, "bytes */10", ""},
      {"another form", RangeAnswer::kHonour, "bytes=0-3", 200, "<absent>", body},
      {"ignored", RangeAnswer::kIgnore, "bytes=4-", 200, "<absent>", body},
      {"early start", RangeAnswer::kEarlyStart, "bytes=4-", 206, "bytes 2-9/10", "23456789"},
      {"shifted body", RangeAnswer::kShiftedBody, "bytes=4-", 206, "bytes 4-9/10", "234567"},
      {"wrong total", RangeAnswer::kWrongTotal, "bytes=4-", 206, "bytes 4-10/11", "456789x"},
      {"past the end", RangeAnswer::kPastTheEnd, "bytes=4-", 206, "bytes 4-9/10", "456789xx"},
      {"unsatisfiable", RangeAnswer::kUnsatisfiable, "bytes=4-", 416, "bytes */10", ""},
  };
  for (const auto& c : cases) {
    server_.SetRoute("/file", Response::Ok(body).Ranges(c.answer, 2));
    const Reply reply = Exchange(server_.Port(), std::string("GET /file HTTP/1.1\r\nRange: ") + c.range +
                                                     "\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(reply.status, c.status) << c.what;
    EXPECT_EQ(reply.Header("Content-Range"), c.content_range) << c.what;
    EXPECT_EQ(reply.Header("Content-Length"), std::to_string(c.body.size())) << c.what;
    EXPECT_EQ(reply.body, c.body) << c.what;
  }
}

TEST_F(HttpServerTest, CutsEveryLongAnswerDelaysAndHidesTheLength) {
  server_.SetRoute("/cut", Response::Ok(std::string(1000, 'c')).CutEvery(300));
  const Reply cut = Get("/cut");
  EXPECT_EQ(cut.Header("Content-Length"), "1000");
  EXPECT_EQ(cut.body.size(), 300u);
  const Reply tail = Exchange(server_.Port(), "GET /cut HTTP/1.1\r\nRange: bytes=800-\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(tail.status, 206);
  EXPECT_EQ(tail.body, std::string(200, 'c')) << "an answer within the cut is sent whole";
  server_.SetRoute("/cut", Response::Ok(std::string(1000, 'c')).Ranges(RangeAnswer::kEarlyStart, 1000).CutEvery(300));
  const Reply early = Exchange(server_.Port(), "GET /cut HTTP/1.1\r\nRange: bytes=500-\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(early.Header("Content-Range"), "bytes 0-999/1000");
  EXPECT_EQ(early.body.size(), 800u) << "cut 300 bytes past the byte asked for";

  server_.SetRoute("/late", Response::Ok("x").Delay(kQuietMs));
  const auto start = Clock::now();
  EXPECT_EQ(Get("/late").body, "x");
  EXPECT_GE(Clock::now() - start, milliseconds(kQuietMs));

  server_.SetRoute("/chunked", Response::Ok("abc").Unannounced());
  const Reply chunked = Get("/chunked");
  EXPECT_EQ(chunked.Header("Transfer-Encoding"), "chunked");
  EXPECT_EQ(chunked.Header("Content-Length"), "<absent>");
  EXPECT_EQ(chunked.body, "3\r\nabc\r\n0\r\n\r\n");
}

TEST_F(HttpServerTest, StartStopLifecycle) {
  EXPECT_FALSE(server_.Start()) << "already running";
  TestHttpServer other;
  EXPECT_FALSE(other.Start(server_.Port())) << "port in use";
  EXPECT_EQ(other.Port(), 0);
  server_.Stop();
  server_.Stop();
  ASSERT_TRUE(server_.Start());
  server_.SetRoute("/again", Response::Ok("yes"));
  EXPECT_EQ(Get("/again").body, "yes");
  EXPECT_EQ(server_.BaseUrl(), "http://127.0.0.1:" + std::to_string(server_.Port()));
}

TEST(RouteScriptTest, ParsesRoutesAndOptions) {
  const fs::path dir = fs::temp_directory_path() / ("test-http-script-" + std::to_string(std::random_device()()));
  WriteFile(dir / "body.bin", "BODY");
  const std::string script =
      "# comment\r\n"
      "\n"
      "/UploadData/f.bin 200 body=body.bin cut=2:1 trickle=16:5 header=X-Test:1\n"
      "/missing\t404 nobody\n"
      "/page 404\n"
      "/old 302 redirect=/new\n"
      "/stall 200 silence hold=250 type=text/plain\n"
      "/rst 200 reset=3\n";
  std::vector<ScriptedRoute> routes;
  std::string error;
  ASSERT_TRUE(ParseRouteScript(script, dir, &routes, &error)) << error;
  fs::remove_all(dir);
  ASSERT_EQ(routes.size(), 6u);

  const Response& file = routes[0].response;
  EXPECT_EQ(routes[0].path, "/UploadData/f.bin");
  EXPECT_EQ(file.body, "BODY");
  EXPECT_EQ(file.fault, Fault::kCutShort);
  EXPECT_EQ(file.fault_times, 2);
  EXPECT_EQ(file.cut_bytes, 1u);
  EXPECT_EQ(file.trickle_chunk_bytes, 16u);
  EXPECT_EQ(file.trickle_delay_ms, 5);
  EXPECT_EQ(file.headers.back(), (std::pair<std::string, std::string>("X-Test", "1")));

  EXPECT_EQ(routes[1].response.status, 404);
  EXPECT_TRUE(routes[1].response.body.empty());
  EXPECT_NE(routes[2].response.body.find("404 Not Found"), std::string::npos);
  EXPECT_EQ(routes[3].response.status, 302);
  EXPECT_NE(routes[3].response.body.find("/new"), std::string::npos);
  EXPECT_EQ(routes[4].response.fault, Fault::kHeadersThenSilence);
  EXPECT_EQ(routes[4].response.fault_times, Response::kEveryRequest);
  EXPECT_EQ(routes[4].response.hold_ms, 250);
  EXPECT_EQ(routes[5].response.fault, Fault::kReset);
  EXPECT_EQ(routes[5].response.fault_times, 3);
}

TEST(RouteScriptTest, RejectsBadLinesNamingTheLine) {
  const fs::path nowhere = fs::temp_directory_path() / "test-http-script-none";
  for (const char* bad : {"/a 200\nnoslash 200", "/a 200\n/b 99", "/a 200\n/b 200 frobnicate",
                          "/a 200\n/b 200 cut=1 reset", "/a 200\n/b 200 body=missing.bin",
                          "/a 200\n/b 200 trickle=0:5", "/a 200\n/b 200 cut=x", "/a 200\n/a 404",
                          "/a 200\n/b"}) {
    std::vector<ScriptedRoute> routes;
    std::string error;
    EXPECT_FALSE(ParseRouteScript(bad, nowhere, &routes, &error)) << bad;
    EXPECT_EQ(error.rfind("line 2:", 0), 0u) << bad << " -> " << error;
  }
}

TEST(RequestLogTest, FormatsOneJsonLinePerRequest) {
  EXPECT_EQ(JsonEscape("/a b\xC3\xA9\"\\\n\x7f"), "/a b\\u00c3\\u00a9\\\"\\\\\\u000a\\u007f");
  RecordedRequest request;
  request.method = "GET";
  request.target = "/UploadData/a b\xFF";
  request.received_wall = std::chrono::system_clock::time_point(milliseconds(1000000000123LL));
  EXPECT_EQ(FormatRequestLogLine(request),
            "{\"method\":\"GET\",\"target\":\"/UploadData/a b\\u00ff\",\"time\":\"2001-09-09T01:46:40.123Z\"}");
  request.headers.emplace_back(kRunHeader, "0123456789abcdef");
  EXPECT_EQ(FormatRequestLogLine(request).substr(FormatRequestLogLine(request).find(",\"run\"")),
            ",\"run\":\"0123456789abcdef\"}");
  // A leap day, to check the calendar arithmetic.
  const auto leap_day = std::chrono::system_clock::time_point(std::chrono::seconds(1709208000LL));
  EXPECT_EQ(FormatUtcTime(leap_day), "2024-02-29T12:00:00.000Z");
}

}  // namespace
}  // namespace testhttp
