#include "log/support_log.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

#include "fs/file_services.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "release/release_files.h"

namespace {

constexpr size_t kRunIdBytes = 8;
// The lines a run writes before its install folder is known, kept to be
// written there; a run that asks for the folder again and again keeps its
// first.
constexpr size_t kMaxEarlyLines = 64;
// Below the machine's program data: where a run that ends before it knows
// its install folder leaves its log.
constexpr char16_t kEarlyEndFolderName[] = u"Velkaris";
constexpr char16_t kFolderSeparator = u'\\';
// A path converted as a request converts it; one that a request would
// refuse is written as this.
constexpr char kUnconvertible[] = "?";
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kCutMark[] = "...";
constexpr char kLineEnd[] = "\r\n";
// File times count from 1601-01-01; Unix time starts 11,644,473,600 s later.
constexpr uint64_t kMillisecondsBefore1970 = 11644473600000;
// "2024-05-01T08:15:30.123Z" and its terminator, with room for a year past
// 9999.
constexpr size_t kTimeChars = 32;

// The one log of the process, shared by every layer that has a line for it,
// as the one downloader is: the main flow opens and closes it.
struct SupportLog {
  bool open = false;
  // Where the lines go, ending in its separator; empty until the install
  // folder is known, the lines kept in memory meanwhile.
  std::u16string folder;
  std::string runId;
  uint64_t startTime = 0;
  std::vector<std::string> earlyLines;
};
SupportLog g_supportLog;

bool IsOpen() { return g_supportLog.open; }

bool IsBare(unsigned char c) { return c > ' ' && c < 0x7F && c != '"' && c != '\\'; }

std::string Escaped(std::string_view value) {
  bool bare = !value.empty() && value.size() <= kMaxLogValueChars;
  for (const unsigned char c : value) bare = bare && IsBare(c);
  if (bare) return std::string(value);
  std::string quoted = "\"";
  for (const unsigned char c : value) {
    if (quoted.size() > kMaxLogValueChars) {
      quoted += kCutMark;
      break;
    }
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c >= ' ' && c < 0x7F) {
      quoted += static_cast<char>(c);
    } else {
      quoted += "\\x";
      quoted += kHexDigits[c >> 4];
      quoted += kHexDigits[c & 0xF];
    }
  }
  return quoted + '"';
}

// The time in UTC as above; a clock set before 1970 reads as 1970.
std::string UtcTime(uint64_t fileTime) {
  using namespace std::chrono;
  const uint64_t since1601 = fileTime / platform::kFileTimeUnitsPerMillisecond;
  const uint64_t since1970 =
      since1601 > kMillisecondsBefore1970 ? since1601 - kMillisecondsBefore1970 : 0;
  const sys_time<milliseconds> time{milliseconds(since1970)};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  std::array<char, kTimeChars> text{};
  std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()),
                static_cast<int>(clock.subseconds().count()));
  return text.data();
}

bool NewRunId(std::string* id) {
  std::array<unsigned char, kRunIdBytes> bytes{};
  if (!platform::RandomBytes(bytes.data(), bytes.size())) return false;
  id->clear();
  for (const unsigned char byte : bytes) {
    *id += kHexDigits[byte >> 4];
    *id += kHexDigits[byte & 0xF];
  }
  return true;
}

// Appends the line to the log in `folder`. The line that would take the log
// past its limit starts a new one, the old log replacing the older lines;
// when that cannot be done the line is dropped rather than pass the limit.
void Append(const std::u16string& folder, std::string_view line) {
  const std::u16string path = folder + kSupportLogName;
  // A folder a user could write before the launcher made it its own may
  // hold a link: the launcher, with administrator rights, writes to no file
  // but its own.
  platform::UniqueFile file = platform::OpenAppendFile(path);
  uint64_t size = 0;
  if (file && platform::StreamSize(file.get(), &size) && size + line.size() > kSupportLogMaxBytes) {
    file.reset();
    const std::u16string older = folder + kOlderSupportLogName;
    DeletePath(older);  // none yet is just as good
    if (RenamePath(path, older)) file = platform::OpenAppendFile(path);
  }
  if (file) std::fwrite(line.data(), 1, line.size(), file.get());
}

// The folder for the log of a run that ended before its install folder was
// known: below the machine's program data, which every user may add
// folders to, so made only administrators' own (or made so when a user
// made it first), never a link. Empty when there is none to be had.
std::u16string EarlyEndFolder() {
  std::u16string programData;
  if (!platform::GetKnownFolderPath(platform::KnownFolder::kProgramData, &programData)) return {};
  const std::u16string folder = programData + kFolderSeparator + kEarlyEndFolderName;
  const uint32_t made = platform::MakeProtectedDirectory(folder);
  bool link = true;
  if ((made != platform::kErrorSuccess &&
       (made != platform::kErrorAlreadyExists ||
        platform::ProtectExistingPath(folder) != platform::kErrorSuccess)) ||
      !platform::QueryReparsePoint(folder, &link) || link) {
    return {};
  }
  return folder + kFolderSeparator;
}

}  // namespace

LogLine::LogLine(std::string_view step) {
  if (!IsOpen()) return;
  m_text = "time=" + UtcTime(platform::SystemTimeAsFileTime()) + " run=" + g_supportLog.runId;
  AddField("step", Escaped(step));
}

LogLine& LogLine::Add(std::string_view key, std::string_view value) {
  if (m_text.empty()) return *this;
  return AddField(key, Escaped(value));
}

LogLine& LogLine::Add(std::string_view key, const std::u16string& value) {
  if (m_text.empty()) return *this;
  std::string ansi;
  if (!platform::EncodeAnsi(value, &ansi) || ansi.size() >= platform::kMaxAnsiPathBytes) {
    return Add(key, kUnconvertible);
  }
  return Add(key, ansi);
}

// A field that would take the line past its bound is left out.
LogLine& LogLine::AddField(std::string_view key, std::string_view escaped) {
  const size_t added = 1 + key.size() + 1 + escaped.size();
  if (m_text.empty() || m_text.size() + added + sizeof kLineEnd > kMaxLogLineBytes) return *this;
  m_text.append(" ").append(key).append("=").append(escaped);
  return *this;
}

void LogLine::Write() const {
  if (!IsOpen() || m_text.empty()) return;
  const std::string line = m_text + kLineEnd;
  if (!g_supportLog.folder.empty()) {
    Append(g_supportLog.folder, line);
  } else if (g_supportLog.earlyLines.size() < kMaxEarlyLines) {
    g_supportLog.earlyLines.push_back(line);
  }
}

void LogCheck(const std::u16string& path, Check check) {
  constexpr const char* kCheckNames[] = {"matched", "mismatch", "older", "unsigned", "code-page"};
  LogLine("check").Add("path", path).Add("check", kCheckNames[static_cast<int>(check)]).Write();
}

bool StartSupportLog() {
  g_supportLog = SupportLog();
  if (!NewRunId(&g_supportLog.runId)) return false;
  g_supportLog.open = true;
  g_supportLog.startTime = platform::SystemTimeAsFileTime();
  return true;
}

void MoveSupportLog(const std::u16string& installFolder) {
  if (!IsOpen() || installFolder.empty() || !g_supportLog.folder.empty()) return;
  g_supportLog.folder = installFolder;
  if (installFolder.back() != kFolderSeparator && installFolder.back() != u'/') {
    g_supportLog.folder += kFolderSeparator;
  }
  for (const std::string& line : g_supportLog.earlyLines) Append(g_supportLog.folder, line);
  g_supportLog.earlyLines.clear();
}

void EndSupportLog(LogLine closing) {
  if (!IsOpen()) return;
  const uint64_t now = platform::SystemTimeAsFileTime();
  const uint64_t elapsed = now > g_supportLog.startTime ? now - g_supportLog.startTime : 0;
  closing.Add("ms", elapsed / platform::kFileTimeUnitsPerMillisecond);
  if (g_supportLog.folder.empty()) MoveSupportLog(EarlyEndFolder());
  closing.Write();
  g_supportLog = SupportLog();
}

const std::string& SupportRunId() { return g_supportLog.runId; }
