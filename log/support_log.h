#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

// The support log of a launcher built with LAUNCHER_SUPPORT_LOG: a line for
// each step of a run and each request, and a closing line with the run's
// outcome, so that support can see what a player's launcher did and join it
// to the download servers' logs by the run id. Only the main flow opens it;
// while none is open nothing is written and no request carries the run id,
// which is always so in other builds.
//
// A line is "key=value" fields, the time (UTC) first, then the run id and
// the step, ended by CR LF. A value holding anything but printable ASCII
// other than the blank, '"' and '\' is quoted, with '"' and '\' escaped and
// every other byte written \xHH (as nginx writes its logs); one longer than
// kMaxLogValueChars is cut and ends in "...". Nothing that names the player
// goes in: no local path, user name or machine name.

// Each file's limit: the line that would take the log past it goes to a new
// log, and the old one replaces the older lines.
inline constexpr uint64_t kSupportLogMaxBytes = 256 * 1024;
inline constexpr size_t kMaxLogValueChars = 200;
inline constexpr size_t kMaxLogLineBytes = 1024;

// One line, written by Write() into the run's log.
class LogLine {
 public:
  explicit LogLine(std::string_view step);

  // Text as it stands (our own names, or bytes from elsewhere, escaped).
  LogLine& Add(std::string_view key, std::string_view value);
  // A path or name in the system's ANSI code page, the bytes a request
  // carries it in and a server logs.
  LogLine& Add(std::string_view key, const std::u16string& value);
  LogLine& Add(std::string_view key, std::integral auto number) {
    return AddField(key, std::to_string(number));
  }
  void Write() const;

 private:
  LogLine& AddField(std::string_view key, std::string_view escaped);

  std::string m_text;
};

// What a check of a release's file against its signed manifest found.
enum class Check {
  kMatched,   // the size and SHA-256 the manifest names
  kMismatch,  // other bytes
  kOlder,     // a record older than the release kept from the last start
  kUnsigned,  // no manifest, or none whose signature holds
  kCodePage,  // a signed manifest whose paths are in another code page than the player's
};
// A "check" line: the server path checked and what was found.
void LogCheck(const std::u16string& path, Check check);

// Opens the run's log, with a new random run id; its lines are kept in
// memory (the first few) until the install folder is known. Nothing goes
// to the user's temporary folder, whose path the user controls. False,
// with nothing open, when the system has no random bytes to give.
bool StartSupportLog();
// The install folder is known (and, with a release key, the launcher's):
// the run's lines so far are written to its log, and every later line.
void MoveSupportLog(const std::u16string& installFolder);
// Writes the closing line, with the time the run took, and closes the log.
// A run that never knew its install folder writes its lines to
// %ProgramData%\Velkaris, a folder only administrators can change.
void EndSupportLog(LogLine closing);
// The open log's run id (hex), sent with every request; empty when none is
// open.
const std::string& SupportRunId();
