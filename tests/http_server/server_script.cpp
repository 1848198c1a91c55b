#include "server_script.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace testhttp {
namespace {

constexpr int kMinStatus = 100;
constexpr int kMaxStatus = 599;
constexpr int kMaxCount = 1000000;          // fault repetitions, byte counts
constexpr int kMaxDelayMs = 10 * 60 * 1000; // trickle delay and hold time
constexpr int kMaxChunkBytes = 16 * 1024 * 1024;
constexpr std::size_t kTimeBufferSize = 32;
constexpr long long kMillisPerDay = 24LL * 60 * 60 * 1000;
constexpr long long kMillisPerHour = 60LL * 60 * 1000;
constexpr long long kMillisPerMinute = 60LL * 1000;
constexpr long long kMillisPerSecond = 1000;

bool ParseInt(const std::string& text, int min, int max, int* value) {
  int parsed = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, parsed);
  if (result.ec != std::errc() || result.ptr != end || parsed < min || parsed > max) return false;
  *value = parsed;
  return true;
}

// "A:B" with both parts integers in range.
bool ParsePair(const std::string& text, int max_first, int max_second, int* first, int* second) {
  const std::size_t colon = text.find(':');
  return colon != std::string::npos && ParseInt(text.substr(0, colon), 0, max_first, first) &&
         ParseInt(text.substr(colon + 1), 0, max_second, second);
}

bool ReadWholeFile(const std::filesystem::path& path, std::string* content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::vector<std::string> SplitBlanks(const std::string& line) {
  std::vector<std::string> tokens;
  std::size_t pos = 0;
  while (pos < line.size()) {
    const std::size_t start = line.find_first_not_of(" \t", pos);
    if (start == std::string::npos) break;
    std::size_t end = line.find_first_of(" \t", start);
    if (end == std::string::npos) end = line.size();
    tokens.push_back(line.substr(start, end - start));
    pos = end;
  }
  return tokens;
}

void RemoveHeader(HeaderList* headers, const std::string& name) {
  for (auto it = headers->begin(); it != headers->end();) {
    it = it->first == name ? headers->erase(it) : it + 1;
  }
}

// Collected options of one script line before the Response is built.
struct LineOptions {
  bool has_body_file = false;
  std::string body;
  bool nobody = false;
  std::string type;
  std::string redirect;
  HeaderList extra_headers;
  int fault_count = 0;  // how many fault options were given
  Fault fault = Fault::kNone;
  int fault_times = Response::kEveryRequest;
  std::size_t cut_bytes = Response::kHalfBody;
  int hold_ms = Response::kDefaultHoldMs;
  std::size_t trickle_chunk = 0;
  int trickle_delay_ms = 0;
};

bool ApplyOption(const std::string& token, const std::filesystem::path& base_dir, LineOptions* options,
                 std::string* problem) {
  const std::size_t equals = token.find('=');
  const std::string key = token.substr(0, equals);
  const bool has_value = equals != std::string::npos;
  const std::string value = has_value ? token.substr(equals + 1) : std::string();

  if (key == "silence" || key == "reset" || key == "noresponse") {
    options->fault = key == "silence" ? Fault::kHeadersThenSilence
                                      : (key == "reset" ? Fault::kReset : Fault::kNoResponse);
    ++options->fault_count;
    if (has_value && !ParseInt(value, 1, kMaxCount, &options->fault_times)) {
      *problem = "bad count in '" + token + "'";
      return false;
    }
    return true;
  }
  if (key == "nobody" && !has_value) {
    options->nobody = true;
    return true;
  }
  if (!has_value || value.empty()) {
    *problem = "unknown option or missing value: '" + token + "'";
    return false;
  }
  if (key == "body") {
    const std::filesystem::path file = base_dir / std::filesystem::path(value);
    if (!ReadWholeFile(file, &options->body)) {
      *problem = "cannot read body file '" + file.string() + "'";
      return false;
    }
    options->has_body_file = true;
  } else if (key == "type") {
    options->type = value;
  } else if (key == "redirect") {
    options->redirect = value;
  } else if (key == "header") {
    const std::size_t colon = value.find(':');
    if (colon == std::string::npos || colon == 0) {
      *problem = "header needs NAME:VALUE in '" + token + "'";
      return false;
    }
    options->extra_headers.emplace_back(value.substr(0, colon), value.substr(colon + 1));
  } else if (key == "cut") {
    options->fault = Fault::kCutShort;
    ++options->fault_count;
    int bytes = 0;
    if (value.find(':') != std::string::npos) {
      if (!ParsePair(value, kMaxCount, kMaxCount, &options->fault_times, &bytes)) {
        *problem = "cut needs K or K:BYTES in '" + token + "'";
        return false;
      }
      options->cut_bytes = static_cast<std::size_t>(bytes);
    } else if (!ParseInt(value, 1, kMaxCount, &options->fault_times)) {
      *problem = "bad count in '" + token + "'";
      return false;
    }
  } else if (key == "hold") {
    if (!ParseInt(value, 0, kMaxDelayMs, &options->hold_ms)) {
      *problem = "bad hold time in '" + token + "'";
      return false;
    }
  } else if (key == "trickle") {
    int chunk = 0;
    if (!ParsePair(value, kMaxChunkBytes, kMaxDelayMs, &chunk, &options->trickle_delay_ms) || chunk == 0) {
      *problem = "trickle needs CHUNK:MS with CHUNK > 0 in '" + token + "'";
      return false;
    }
    options->trickle_chunk = static_cast<std::size_t>(chunk);
  } else {
    *problem = "unknown option '" + key + "'";
    return false;
  }
  return true;
}

bool ParseLine(const std::vector<std::string>& tokens, const std::filesystem::path& base_dir, ScriptedRoute* route,
               std::string* problem) {
  if (tokens.size() < 2) {
    *problem = "expected 'PATH STATUS [options]'";
    return false;
  }
  if (tokens[0].empty() || tokens[0][0] != '/') {
    *problem = "path must start with '/'";
    return false;
  }
  int status = 0;
  if (!ParseInt(tokens[1], kMinStatus, kMaxStatus, &status)) {
    *problem = "bad status '" + tokens[1] + "'";
    return false;
  }
  LineOptions options;
  for (std::size_t i = 2; i < tokens.size(); ++i) {
    if (!ApplyOption(tokens[i], base_dir, &options, problem)) return false;
  }
  if (options.has_body_file && options.nobody) {
    *problem = "body= and nobody exclude each other";
    return false;
  }
  if (options.fault_count > 1) {
    *problem = "at most one of cut, silence, reset, noresponse";
    return false;
  }

  Response response;
  if (options.has_body_file) {
    response = Response::Status(status, options.body, "application/octet-stream");
  } else if (options.nobody) {
    response = Response::Status(status);
  } else if (!options.redirect.empty()) {
    response = Response::Redirect(options.redirect, status);
  } else {
    response = Response::HtmlPage(status);
  }
  if (!options.redirect.empty() && (options.has_body_file || options.nobody)) {
    response.headers.emplace_back("Location", options.redirect);
  }
  if (!options.type.empty()) {
    RemoveHeader(&response.headers, "Content-Type");
    response.headers.emplace_back("Content-Type", options.type);
  }
  for (const auto& header : options.extra_headers) response.headers.push_back(header);
  response.fault = options.fault;
  response.fault_times = options.fault_times;
  response.cut_bytes = options.cut_bytes;
  response.hold_ms = options.hold_ms;
  response.trickle_chunk_bytes = options.trickle_chunk;
  response.trickle_delay_ms = options.trickle_delay_ms;

  route->path = tokens[0];
  route->response = std::move(response);
  return true;
}

// Days since 1970-01-01 to a civil date (H. Hinnant's algorithm; the
// constants are the lengths of 400-year eras, centuries and leap cycles).
void CivilFromDays(long long days, long long* year, unsigned* month, unsigned* day) {
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned shifted_month = (5 * day_of_year + 2) / 153;
  *day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  *month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  *year = static_cast<long long>(year_of_era) + era * 400 + (*month <= 2 ? 1 : 0);
}

}  // namespace

bool ParseRouteScript(const std::string& text, const std::filesystem::path& base_dir,
                      std::vector<ScriptedRoute>* routes, std::string* error) {
  std::vector<ScriptedRoute> parsed;
  std::istringstream lines(text);
  std::string line;
  int line_number = 0;
  while (std::getline(lines, line)) {
    ++line_number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> tokens = SplitBlanks(line);
    if (tokens.empty() || tokens[0][0] == '#') continue;
    ScriptedRoute route;
    std::string problem;
    if (!ParseLine(tokens, base_dir, &route, &problem)) {
      *error = "line " + std::to_string(line_number) + ": " + problem;
      return false;
    }
    for (const ScriptedRoute& earlier : parsed) {
      if (earlier.path == route.path) {
        *error = "line " + std::to_string(line_number) + ": duplicate path '" + route.path + "'";
        return false;
      }
    }
    parsed.push_back(std::move(route));
  }
  *routes = std::move(parsed);
  return true;
}

bool LoadRouteScript(const std::filesystem::path& file, std::vector<ScriptedRoute>* routes, std::string* error) {
  std::string text;
  if (!ReadWholeFile(file, &text)) {
    *error = "cannot read script '" + file.string() + "'";
    return false;
  }
  return ParseRouteScript(text, file.parent_path(), routes, error);
}

std::string JsonEscape(const std::string& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  constexpr unsigned char kFirstPrintable = 0x20;
  constexpr unsigned char kDelete = 0x7F;
  std::string out;
  for (const char c : bytes) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < kFirstPrintable || byte >= kDelete) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

std::string FormatUtcTime(std::chrono::system_clock::time_point time) {
  const long long millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  long long days = millis / kMillisPerDay;
  long long rest = millis % kMillisPerDay;
  if (rest < 0) {  // times before 1970 round towards the earlier day
    rest += kMillisPerDay;
    --days;
  }
  long long year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, &year, &month, &day);
  char buffer[kTimeBufferSize];
  std::snprintf(buffer, sizeof(buffer), "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", year, month, day,
                rest / kMillisPerHour, rest % kMillisPerHour / kMillisPerMinute,
                rest % kMillisPerMinute / kMillisPerSecond, rest % kMillisPerSecond);
  return buffer;
}

std::string FormatRequestLogLine(const RecordedRequest& request) {
  std::string line = "{\"method\":\"" + JsonEscape(request.method) + "\",\"target\":\"" +
                     JsonEscape(request.target) + "\",\"time\":\"" +
                     FormatUtcTime(request.received_wall) + "\"";
  // The launcher's run id, for a scenario to join the request to its log.
  if (request.HasHeader(kRunHeader)) {
    line += ",\"run\":\"" + JsonEscape(request.Header(kRunHeader)) + "\"";
  }
  return line + "}";
}

}  // namespace testhttp
