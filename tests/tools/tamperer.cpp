// Plays a local program that wants the patcher replaced with bytes of its
// own, in the Windows tests and the end-to-end scenarios. It opens files for
// writing the way any program may, sharing everything, and writes its own
// executable's bytes (a program, but not the patcher) over them.
//
//   tamperer try PATH
//       one attempt to open PATH for writing; exit 0 when it opened
//       (nothing is written), else the system's error code
//   tamperer overwrite TIMEOUT PATCHER GENUINE SIGNAL MARKER
//       first, once the staging copy PATCHER.temp has the size of GENUINE
//       (its download complete), tries once to overwrite it; then, once
//       SIGNAL exists, overwrites PATCHER, tried again while refused until it
//       goes through. MARKER is deleted at a refusal of PATCHER (it keeps a
//       stand-in patcher waiting, so that refusal cannot be missed). Prints
//       "overwrote NAME" per write and "refused NAME" per run of refusals;
//       exit 0 once PATCHER was overwritten, 1 when TIMEOUT milliseconds
//       passed first.
#include "platform/win32.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kStagingSuffix[] = L".temp";
constexpr DWORD kPathUnits = 1024;
constexpr DWORD kPollMs = 10;
constexpr int kUsageExit = 2;
constexpr int kTimedOutExit = 1;

using platform::UniqueHandle;

std::wstring FileName(const std::wstring& path) {
  return path.substr(path.find_last_of(L"\\/") + 1);
}

bool FileSize(const std::wstring& path, ULONGLONG* size) {
  // Attributes only: an open handle of ours could make the launcher's
  // rename onto this name fail.
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  *size = (ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  return true;
}

UniqueHandle OpenForWriting(const std::wstring& path) {
  return UniqueHandle(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::vector<char> OwnBytes() {
  wchar_t path[kPathUnits] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, kPathUnits);
  if (length == 0 || length >= kPathUnits) return {};
  const UniqueHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ULONGLONG size = 0;
  if (!file || !FileSize(path, &size)) return {};
  std::vector<char> bytes(static_cast<size_t>(size));
  DWORD read = 0;
  if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
      read != bytes.size()) {
    return {};
  }
  return bytes;
}

enum class Outcome { kWritten, kRefused, kMissed };

class Tamperer {
 public:
  explicit Tamperer(DWORD timeoutMs)
      : m_deadline(::GetTickCount64() + timeoutMs), m_bytes(OwnBytes()) {}

  bool Ready() const { return !m_bytes.empty(); }
  bool TimeLeft() const { return ::GetTickCount64() < m_deadline; }

  // One attempt to put our bytes in place of the file's. kMissed: the file
  // was gone or could not be written for another reason.
  Outcome Overwrite(const std::wstring& path) {
    const UniqueHandle file = OpenForWriting(path);
    if (!file) {
      if (::GetLastError() != ERROR_SHARING_VIOLATION) return Outcome::kMissed;
      if (m_refused != path) Print("refused", path);
      m_refused = path;
      return Outcome::kRefused;
    }
    m_refused.clear();
    DWORD written = 0;
    if (!::WriteFile(file.get(), m_bytes.data(), static_cast<DWORD>(m_bytes.size()), &written,
                     nullptr) ||
        written != m_bytes.size() || !::SetEndOfFile(file.get())) {
      return Outcome::kMissed;
    }
    Print("overwrote", path);
    return Outcome::kWritten;
  }

 private:
  static void Print(const char* what, const std::wstring& path) {
    std::printf("%s %ls\n", what, FileName(path).c_str());
    std::fflush(stdout);
  }

  ULONGLONG m_deadline;
  std::vector<char> m_bytes;
  // The file of the current run of refusals.
  std::wstring m_refused;
};

int TryWriting(const std::wstring& path) {
  const UniqueHandle file = OpenForWriting(path);
  return file ? 0 : static_cast<int>(::GetLastError());
}

int OverwriteStagingThenPatcher(DWORD timeoutMs, const std::wstring& patcher,
                               const std::wstring& genuine, const std::wstring& signal,
                               const std::wstring& marker) {
  Tamperer tamperer(timeoutMs);
  ULONGLONG complete = 0;
  if (!tamperer.Ready() || !FileSize(genuine, &complete)) return kUsageExit;

  const std::wstring staging = patcher + kStagingSuffix;
  bool staged = false;
  while (!staged && tamperer.TimeLeft()) {
    ULONGLONG size = 0;
    staged = FileSize(staging, &size) && size == complete;
    if (staged) {
      tamperer.Overwrite(staging);
    } else {
      ::Sleep(kPollMs);
    }
  }
  while (staged && tamperer.TimeLeft()) {
    if (::GetFileAttributesW(signal.c_str()) != INVALID_FILE_ATTRIBUTES) {
      const Outcome outcome = tamperer.Overwrite(patcher);
      if (outcome == Outcome::kWritten) return 0;
      if (outcome == Outcome::kRefused) ::DeleteFileW(marker.c_str());
    }
    ::Sleep(kPollMs);
  }
  std::printf("timed out\n");
  return kTimedOutExit;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"try" && argc == 3) return TryWriting(argv[2]);
  if (command == L"overwrite" && argc == 7) {
    return OverwriteStagingThenPatcher(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)),
                                       argv[3], argv[4], argv[5], argv[6]);
  }
  std::fputs("usage: tamperer try PATH\n"
             "       tamperer overwrite TIMEOUT PATCHER GENUINE SIGNAL MARKER\n",
             stderr);
  return kUsageExit;
}
