#include "test_http_server.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace testhttp {
namespace {

constexpr int kPollSliceMs = 50;  // how often blocked loops look at the stop flag
constexpr std::size_t kMaxRequestHeadBytes = 64 * 1024;
constexpr std::size_t kReceiveChunkBytes = 4096;
constexpr int kRequestReadTimeoutMs = 10000;  // a client that connects and never sends
constexpr int kKeepAliveIdleMs = 5000;        // a kept-alive connection waiting for its next request
constexpr int kSendTimeoutMs = 30000;         // a client that stops reading
constexpr int kLingeringCloseMs = 1000;       // let the client read the tail before close
constexpr std::size_t kMaxConnections = 64;
constexpr char kHeadTerminator[] = "\r\n\r\n";
constexpr std::size_t kHeadTerminatorLength = sizeof(kHeadTerminator) - 1;
constexpr char kUploadPrefix[] = "/UploadData/";
constexpr char kHttpVersionPrefix[] = "HTTP/";
constexpr int kHexRadix = 16;

struct PhraseEntry {
  int status;
  const char* phrase;
};

constexpr PhraseEntry kPhrases[] = {
    {200, "OK"},
    {201, "Created"},
    {204, "No Content"},
    {206, "Partial Content"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {303, "See Other"},
    {304, "Not Modified"},
    {307, "Temporary Redirect"},
    {308, "Permanent Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {408, "Request Timeout"},
    {410, "Gone"},
    {416, "Range Not Satisfiable"},
    {429, "Too Many Requests"},
    {431, "Request Header Fields Too Large"},
    {500, "Internal Server Error"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
};

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool HasHeader(const HeaderList& headers, const std::string& name) {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const std::pair<std::string, std::string>& h) { return EqualsIgnoreCase(h.first, name); });
}

std::string Trim(const std::string& text) {
  const auto not_space = [](char c) { return c != ' ' && c != '\t'; };
  const auto first = std::find_if(text.begin(), text.end(), not_space);
  const auto last = std::find_if(text.rbegin(), text.rend(), not_space).base();
  return first < last ? std::string(first, last) : std::string();
}

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// Request line: method up to the first space, version after the last one,
// the target is everything between, so a raw blank in it survives.
bool ParseRequestHead(const std::string& head, RecordedRequest* request) {
  const std::size_t line_end = head.find("\r\n");
  const std::string line = head.substr(0, line_end);
  const std::size_t first_space = line.find(' ');
  const std::size_t last_space = line.rfind(' ');
  if (first_space == std::string::npos || first_space == 0 || last_space <= first_space + 1) return false;
  request->method = line.substr(0, first_space);
  request->target = line.substr(first_space + 1, last_space - first_space - 1);
  request->version = line.substr(last_space + 1);
  if (request->version.rfind(kHttpVersionPrefix, 0) != 0) return false;

  std::size_t pos = line_end == std::string::npos ? head.size() : line_end + 2;
  while (pos < head.size()) {
    std::size_t end = head.find("\r\n", pos);
    if (end == std::string::npos) end = head.size();
    const std::string header_line = head.substr(pos, end - pos);
    const std::size_t colon = header_line.find(':');
    // Lines without a colon are ignored: the log is what tests look at.
    if (colon != std::string::npos) {
      request->headers.emplace_back(header_line.substr(0, colon), Trim(header_line.substr(colon + 1)));
    }
    pos = end + 2;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool PercentDecode(const std::string& text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return false;
    *out += static_cast<char>(high * kHexRadix + low);
    i += 2;
  }
  return true;
}

// The file name becomes a UTF-8 path; invalid sequences would make the
// conversion to a Windows wide path fail, so they are refused up front.
bool IsValidUtf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    if (lead < 0x80) {
      extra = 0;
    } else if ((lead & 0xE0) == 0xC0 && lead >= 0xC2) {
      extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
    } else if ((lead & 0xF8) == 0xF0 && lead <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    // Overlong forms, UTF-16 surrogates and code points above U+10FFFF.
    const unsigned char second = static_cast<unsigned char>(extra > 0 ? text[i + 1] : 0);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second >= 0x90)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

// Refuses anything that could leave the document root: ".." segments with
// either slash, drive letters and alternate streams (':'), and NUL bytes.
bool IsSafeRelativePath(const std::string& decoded) {
  if (decoded.empty() || decoded.find('\0') != std::string::npos || decoded.find(':') != std::string::npos) {
    return false;
  }
  if (decoded.front() == '/' || decoded.front() == '\\') return false;
  std::size_t start = 0;
  while (start <= decoded.size()) {
    std::size_t end = decoded.find_first_of("/\\", start);
    if (end == std::string::npos) end = decoded.size();
    if (decoded.compare(start, end - start, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

Response ServeFile(const std::filesystem::path& root, const std::string& target) {
  if (root.empty()) return Response::HtmlPage(404);
  std::string relative = target.substr(sizeof(kUploadPrefix) - 1);
  relative = relative.substr(0, relative.find('?'));
  std::string decoded;
  if (!PercentDecode(relative, &decoded)) return Response::HtmlPage(400);
  if (!IsSafeRelativePath(decoded)) return Response::HtmlPage(403);
  if (!IsValidUtf8(decoded)) return Response::HtmlPage(404);

  const std::filesystem::path file = root / std::filesystem::u8path(decoded);
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return Response::HtmlPage(404);
  std::ifstream in(file, std::ios::binary);
  if (!in) return Response::HtmlPage(404);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return Response::HtmlPage(500);
  return Response::Ok(std::move(content));
}

// Whether `list` (a comma-separated header value) names `token`, in any case.
bool HasToken(const std::string& list, const std::string& token) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    if (EqualsIgnoreCase(Trim(list.substr(start, end - start)), token)) return true;
    start = end + 1;
  }
  return false;
}

// HTTP/1.1 keeps the connection unless the client says "close"; HTTP/1.0
// only when it asks for "keep-alive". A request body is never read, so one
// announcing a body ends the connection rather than being taken for the next
// request.
bool ClientKeepsAlive(const RecordedRequest& request) {
  const std::string length = request.Header("Content-Length");
  if (request.HasHeader("Transfer-Encoding") || (!length.empty() && length != "0")) return false;
  const std::string connection = request.Header("Connection");
  if (request.version == "HTTP/1.1") return !HasToken(connection, "close");
  return request.version == "HTTP/1.0" && HasToken(connection, "keep-alive");
}

// A test that writes its own Connection or Content-Length header owns the
// framing (a lying length, say), so such a response ends the connection.
bool FramingIsOurs(const Response& response) {
  return !HasHeader(response.headers, "Connection") && !HasHeader(response.headers, "Content-Length");
}

std::string BuildHead(const Response& response, std::size_t content_length, bool keep_alive = false) {
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                     (response.reason.empty() ? ReasonPhrase(response.status) : response.reason) + "\r\n";
  for (const auto& header : response.headers) head += header.first + ": " + header.second + "\r\n";
  // A test may set its own (lying) Content-Length; otherwise it is exact,
  // unless the body is chunked.
  if (!HasHeader(response.headers, "Content-Length") && !HasHeader(response.headers, "Transfer-Encoding")) {
    head += "Content-Length: " + std::to_string(content_length) + "\r\n";
  }
  if (!HasHeader(response.headers, "Connection")) {
    head += keep_alive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  }
  head += "\r\n";
  return head;
}

// Bytes of the body a cut-short response sends: always fewer than the
// declared length, so the client must notice the short read.
std::size_t CutLength(const Response& response) {
  const std::size_t size = response.body.size();
  if (size == 0) return 0;
  const std::size_t wanted = response.cut_bytes == Response::kHalfBody ? size / 2 : response.cut_bytes;
  return std::min(wanted, size - 1);
}

// N of "bytes=N-"; false for any other form (or none), which gets the whole body.
bool ParseOpenRange(const std::string& value, std::size_t* first) {
  constexpr char kPrefix[] = "bytes=";
  constexpr std::size_t kPrefixLength = sizeof(kPrefix) - 1;
  constexpr std::size_t kMaxDigits = 9;  // bodies here are far smaller, on 32 bits too
  if (value.rfind(kPrefix, 0) != 0 || value.back() != '-') return false;
  const std::string digits = value.substr(kPrefixLength, value.size() - kPrefixLength - 1);
  if (digits.empty() || digits.size() > kMaxDigits ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
    return false;
  }
  *first = static_cast<std::size_t>(std::stoul(digits));
  return true;
}

// A 200 with a body, turned into the answer to the request's range.
Response AnswerRange(Response response, const RecordedRequest& request) {
  std::size_t first = 0;
  if (response.status != 200 || response.body.empty() || response.range_answer == RangeAnswer::kIgnore ||
      !ParseOpenRange(request.Header("Range"), &first)) {
    return response;
  }
  const std::size_t size = response.body.size();
  if (first >= size || response.range_answer == RangeAnswer::kUnsatisfiable) {
    return Response::Status(416).WithHeader("Content-Range", "bytes */" + std::to_string(size));
  }
  std::size_t start = first;
  std::size_t last = size - 1;
  std::size_t total = size;
  std::string extra;
  const std::size_t shifted = first - std::min(first, response.range_shift);
  if (response.range_answer == RangeAnswer::kEarlyStart) start = shifted;
  if (response.range_answer == RangeAnswer::kWrongTotal) {
    extra = "x";
    last = size;
    total = size + 1;
  }
  if (response.range_answer == RangeAnswer::kPastTheEnd) extra.assign(response.range_shift, 'x');
  response.status = 206;
  response.headers.emplace_back("Content-Range", "bytes " + std::to_string(start) + "-" + std::to_string(last) +
                                                     "/" + std::to_string(total));
  response.body = response.range_answer == RangeAnswer::kShiftedBody
                      ? response.body.substr(shifted, size - first)
                      : response.body.substr(start) + extra;
  // A cut counts from the byte asked for, not from the answer's start.
  if (response.fault == Fault::kCutEvery) response.cut_bytes += first - start;
  return response;
}

// The body as one chunk and the last, so its length is never announced.
Response Chunk(Response response) {
  if (!response.unannounced) return response;
  std::ostringstream framed;
  framed << std::hex << response.body.size() << "\r\n" << response.body << "\r\n0\r\n\r\n";
  response.body = framed.str();
  return response.WithHeader("Transfer-Encoding", "chunked");
}

}  // namespace

// ---- Response ----

Response Response::Ok(std::string body, const std::string& content_type) {
  Response response;
  response.body = std::move(body);
  response.headers.emplace_back("Content-Type", content_type);
  return response;
}

Response Response::Status(int status, std::string body, const std::string& content_type) {
  Response response;
  response.status = status;
  response.body = std::move(body);
  if (!response.body.empty()) response.headers.emplace_back("Content-Type", content_type);
  return response;
}

Response Response::HtmlPage(int status) {
  const std::string title = std::to_string(status) + " " + ReasonPhrase(status);
  return Status(status, "<html><head><title>" + title + "</title></head><body><h1>" + title + "</h1></body></html>\n");
}

Response Response::Redirect(const std::string& location, int status) {
  const std::string escaped = HtmlEscape(location);
  Response response = Status(status, "<html><head><title>Moved</title></head><body>Moved to <a href=\"" + escaped +
                                         "\">" + escaped + "</a>.</body></html>\n");
  response.headers.emplace_back("Location", location);
  return response;
}

Response& Response::WithHeader(const std::string& name, const std::string& value) {
  headers.emplace_back(name, value);
  return *this;
}

Response& Response::CutShort(int times, std::size_t bytes) {
  fault = Fault::kCutShort;
  fault_times = times;
  cut_bytes = bytes;
  return *this;
}

Response& Response::HeadersThenSilence(int times, int hold) {
  fault = Fault::kHeadersThenSilence;
  fault_times = times;
  hold_ms = hold;
  return *this;
}

Response& Response::Reset(int times) {
  fault = Fault::kReset;
  fault_times = times;
  return *this;
}

Response& Response::NoResponse(int times, int hold) {
  fault = Fault::kNoResponse;
  fault_times = times;
  hold_ms = hold;
  return *this;
}

Response& Response::Trickle(std::size_t chunk_bytes, int delay_ms) {
  trickle_chunk_bytes = chunk_bytes;
  trickle_delay_ms = delay_ms;
  return *this;
}

Response& Response::CutEvery(std::size_t bytes) {
  fault = Fault::kCutEvery;
  fault_times = kEveryRequest;
  cut_bytes = bytes;
  return *this;
}

Response& Response::Delay(int ms) {
  delay_ms = ms;
  return *this;
}

Response& Response::Unannounced() {
  unannounced = true;
  return *this;
}

Response& Response::Ranges(RangeAnswer answer, std::size_t shift) {
  range_answer = answer;
  range_shift = shift;
  return *this;
}

std::string ReasonPhrase(int status) {
  for (const PhraseEntry& entry : kPhrases) {
    if (entry.status == status) return entry.phrase;
  }
  return "Status";
}

// ---- RecordedRequest ----

std::string RecordedRequest::Header(const std::string& name) const {
  for (const auto& header : headers) {
    if (EqualsIgnoreCase(header.first, name)) return header.second;
  }
  return std::string();
}

bool RecordedRequest::HasHeader(const std::string& name) const { return testhttp::HasHeader(headers, name); }

// ---- TestHttpServer ----

struct TestHttpServer::Plan {
  Response response;
  bool apply_fault = false;
};

TestHttpServer::TestHttpServer() = default;

TestHttpServer::~TestHttpServer() { Stop(); }

bool TestHttpServer::Start(std::uint16_t port) {
  if (running_ || !socket_library_.Ok()) return false;
  std::uint16_t bound_port = 0;
  if (!net::ListenLoopback(port, &listener_, &bound_port)) return false;
  stopping_ = false;
  port_ = bound_port;
  running_ = true;
  accept_thread_ = std::thread(&TestHttpServer::AcceptLoop, this);
  return true;
}

std::uint16_t TestHttpServer::Port() const { return port_; }

std::string TestHttpServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(Port()); }

void TestHttpServer::Stop() {
  if (!running_) return;
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    stopping_ = true;
  }
  stop_cv_.notify_all();
  // Wakes a poll() on POSIX at once; elsewhere the accept loop notices the
  // flag within one poll slice.
  net::ShutdownBoth(listener_);
  accept_thread_.join();
  ReapFinishedConnections(true);
  listener_.Close();
  port_ = 0;
  running_ = false;
}

void TestHttpServer::SetDocumentRoot(const std::filesystem::path& root) {
  std::lock_guard<std::mutex> lock(config_mutex_);
  document_root_ = root;
}

void TestHttpServer::SetRoute(const std::string& path, const Response& response) {
  std::lock_guard<std::mutex> lock(config_mutex_);
  routes_[path] = Route{response, 0};
}

void TestHttpServer::RemoveRoute(const std::string& path) {
  std::lock_guard<std::mutex> lock(config_mutex_);
  routes_.erase(path);
}

void TestHttpServer::ClearRoutes() {
  std::lock_guard<std::mutex> lock(config_mutex_);
  routes_.clear();
}

std::vector<RecordedRequest> TestHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(log_mutex_);
  return requests_;
}

void TestHttpServer::ClearRequests() {
  std::lock_guard<std::mutex> lock(log_mutex_);
  requests_.clear();
  connection_count_ = 0;
}

std::size_t TestHttpServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(log_mutex_);
  return connection_count_;
}

std::size_t TestHttpServer::CountRequests(const std::string& target) const {
  std::lock_guard<std::mutex> lock(log_mutex_);
  return static_cast<std::size_t>(std::count_if(requests_.begin(), requests_.end(),
                                                [&](const RecordedRequest& r) { return r.target == target; }));
}

bool TestHttpServer::WaitForRequestCount(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(log_mutex_);
  return log_cv_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void TestHttpServer::SetRequestObserver(RequestObserver observer) {
  std::lock_guard<std::mutex> lock(observer_mutex_);
  observer_ = std::move(observer);
}

void TestHttpServer::AcceptLoop() {
  while (!stopping_) {
    ReapFinishedConnections(false);
    const net::Readiness readiness = net::WaitReadable(listener_, kPollSliceMs);
    if (stopping_) break;
    if (readiness == net::Readiness::kError) {
      WaitForStop(kPollSliceMs);  // avoid spinning on a persistent error
      continue;
    }
    if (readiness != net::Readiness::kReady) continue;
    net::Socket client;
    if (net::Accept(listener_, &client) != net::IoStatus::kOk) continue;
    {
      std::lock_guard<std::mutex> lock(log_mutex_);
      ++connection_count_;
    }
    if (connections_.size() >= kMaxConnections) continue;  // dropped: closes on scope exit
    connections_.push_back(std::make_unique<Connection>());
    Connection* connection = connections_.back().get();
    connection->thread = std::thread([this, connection, socket = std::move(client)]() mutable {
      HandleConnection(std::move(socket));
      connection->finished = true;
    });
  }
}

void TestHttpServer::ReapFinishedConnections(bool all) {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (all || (*it)->finished) {
      (*it)->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

bool TestHttpServer::WaitForStop(int ms) {
  std::unique_lock<std::mutex> lock(stop_mutex_);
  return stop_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

TestHttpServer::HeadRead TestHttpServer::ReadRequestHead(const net::Socket& socket, int timeout_ms,
                                                         std::string* received, std::string* head) {
  char buffer[kReceiveChunkBytes];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::size_t search_from = 0;
  for (;;) {
    const std::size_t terminator = received->find(kHeadTerminator, search_from);
    if (terminator != std::string::npos) {
      head->assign(*received, 0, terminator);
      received->erase(0, terminator + kHeadTerminatorLength);
      return HeadRead::kOk;
    }
    // Search only new bytes next time, plus an overlap for a split terminator.
    search_from = received->size() >= kHeadTerminatorLength ? received->size() - kHeadTerminatorLength + 1 : 0;
    if (received->size() > kMaxRequestHeadBytes) return HeadRead::kTooLarge;
    if (stopping_ || std::chrono::steady_clock::now() >= deadline) return HeadRead::kGone;
    const net::Readiness readiness = net::WaitReadable(socket, kPollSliceMs);
    if (readiness == net::Readiness::kError) return HeadRead::kGone;
    if (readiness == net::Readiness::kTimeout) continue;
    const net::IoResult result = net::Receive(socket, buffer, sizeof(buffer));
    if (result.status == net::IoStatus::kWouldBlock) continue;
    if (result.status != net::IoStatus::kOk) return HeadRead::kGone;
    received->append(buffer, result.bytes);
  }
}

void TestHttpServer::HandleConnection(net::Socket socket) {
  // Bytes past the last request head: a client may send its next request
  // before reading the previous response.
  std::string received;
  int timeout_ms = kRequestReadTimeoutMs;
  for (;;) {
    std::string head;
    const HeadRead read = ReadRequestHead(socket, timeout_ms, &received, &head);
    if (read == HeadRead::kGone) return;
    RecordedRequest request;
    if (read == HeadRead::kTooLarge || !ParseRequestHead(head, &request)) {
      const Response refusal = read == HeadRead::kTooLarge ? Response::Status(431) : Response::HtmlPage(400);
      const std::string reply = BuildHead(refusal, refusal.body.size()) + refusal.body;
      SendAll(socket, reply.data(), reply.size());
      LingeringClose(&socket);
      return;
    }
    request.received = std::chrono::steady_clock::now();
    request.received_wall = std::chrono::system_clock::now();
    Record(request);
    if (!Execute(&socket, request, Resolve(request))) return;
    timeout_ms = kKeepAliveIdleMs;
  }
}

void TestHttpServer::Record(const RecordedRequest& request) {
  {
    std::lock_guard<std::mutex> lock(observer_mutex_);
    if (observer_) observer_(request);
  }
  {
    std::lock_guard<std::mutex> lock(log_mutex_);
    requests_.push_back(request);
  }
  log_cv_.notify_all();
}

TestHttpServer::Plan TestHttpServer::Resolve(const RecordedRequest& request) {
  std::lock_guard<std::mutex> lock(config_mutex_);
  auto route = routes_.find(request.target);
  if (route == routes_.end()) route = routes_.find(request.target.substr(0, request.target.find('?')));
  Plan plan;
  if (route != routes_.end()) {
    plan.response = Chunk(AnswerRange(route->second.response, request));
    const int index = route->second.served++;
    const int times = plan.response.fault_times;
    const bool cut_fits = plan.response.fault == Fault::kCutEvery && plan.response.body.size() <= plan.response.cut_bytes;
    plan.apply_fault = plan.response.fault != Fault::kNone && (times < 0 || index < times) && !cut_fits;
  } else if (request.target.rfind(kUploadPrefix, 0) == 0) {
    plan.response = AnswerRange(ServeFile(document_root_, request.target), request);
  } else {
    plan.response = Response::HtmlPage(404);
  }
  return plan;
}

bool TestHttpServer::Execute(net::Socket* socket, const RecordedRequest& request, const Plan& plan) {
  const Response& response = plan.response;
  const Fault fault = plan.apply_fault ? response.fault : Fault::kNone;
  const bool keep_alive = fault == Fault::kNone && ClientKeepsAlive(request) && FramingIsOurs(response);
  const std::string head = BuildHead(response, response.body.size(), keep_alive);
  if (response.delay_ms > 0 && WaitForStop(response.delay_ms)) return false;
  switch (fault) {
    case Fault::kReset:
      net::CloseWithReset(socket);
      return false;
    case Fault::kNoResponse:
      Hold(*socket, response.hold_ms);
      return false;
    case Fault::kHeadersThenSilence:
      if (SendAll(*socket, head.data(), head.size())) Hold(*socket, response.hold_ms);
      return false;
    case Fault::kCutShort:
    case Fault::kCutEvery:
      if (SendAll(*socket, head.data(), head.size()) && SendBody(*socket, response.body, CutLength(response), response)) {
        LingeringClose(socket);
      }
      return false;
    case Fault::kNone:
      break;
  }
  const std::size_t body_length = request.method == "HEAD" ? 0 : response.body.size();
  if (!SendAll(*socket, head.data(), head.size()) || !SendBody(*socket, response.body, body_length, response)) {
    return false;
  }
  if (keep_alive) return true;
  LingeringClose(socket);
  return false;
}

bool TestHttpServer::SendAll(const net::Socket& socket, const char* data, std::size_t length) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendTimeoutMs);
  std::size_t sent = 0;
  while (sent < length) {
    if (stopping_ || std::chrono::steady_clock::now() >= deadline) return false;
    const net::IoResult result = net::Send(socket, data + sent, length - sent);
    if (result.status == net::IoStatus::kOk) {
      sent += result.bytes;
    } else if (result.status == net::IoStatus::kWouldBlock) {
      if (net::WaitWritable(socket, kPollSliceMs) == net::Readiness::kError) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool TestHttpServer::SendBody(const net::Socket& socket, const std::string& body, std::size_t length,
                              const Response& response) {
  const std::size_t chunk = response.trickle_chunk_bytes == 0 ? length : response.trickle_chunk_bytes;
  std::size_t offset = 0;
  while (offset < length) {
    if (offset > 0 && response.trickle_delay_ms > 0 && WaitForStop(response.trickle_delay_ms)) return false;
    const std::size_t count = std::min(chunk, length - offset);
    if (!SendAll(socket, body.data() + offset, count)) return false;
    offset += count;
  }
  return true;
}

void TestHttpServer::Hold(const net::Socket& socket, int hold_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(hold_ms);
  char buffer[kReceiveChunkBytes];
  while (!stopping_) {
    const auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (remaining <= 0) return;
    const int slice = static_cast<int>(std::min<long long>(remaining, kPollSliceMs));
    const net::Readiness readiness = net::WaitReadable(socket, slice);
    if (readiness == net::Readiness::kError) return;
    if (readiness == net::Readiness::kTimeout) continue;
    // Discard anything the client sends; stop holding once it hangs up.
    const net::IoResult result = net::Receive(socket, buffer, sizeof(buffer));
    if (result.status != net::IoStatus::kOk && result.status != net::IoStatus::kWouldBlock) return;
  }
}

void TestHttpServer::LingeringClose(net::Socket* socket) {
  net::ShutdownSend(*socket);
  // Closing with unread input would send RST and could destroy response
  // bytes the client has not read yet; wait briefly for its FIN instead.
  Hold(*socket, kLingeringCloseMs);
  socket->Close();
}

}  // namespace testhttp
