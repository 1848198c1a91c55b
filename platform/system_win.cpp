#include "platform/system.h"

#include <process.h>

#include <vector>

#include "platform/code_page.h"
#include "platform/win32.h"

namespace platform {

static_assert(kErrorSuccess == ERROR_SUCCESS && kErrorPathNotFound == ERROR_PATH_NOT_FOUND &&
              kErrorAccessDenied == ERROR_ACCESS_DENIED &&
              kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER &&
              kErrorAlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(kHresultInvalidArgument == E_INVALIDARG && kHresultOutOfMemory == E_OUTOFMEMORY);
static_assert(kHresultWin32Base == (0x80000000u | (FACILITY_WIN32 << 16)));
static_assert(kCodePageAnsi == CP_ACP && kCodePageThreadAnsi == CP_THREAD_ACP);

bool ListProcessNames(std::vector<std::u16string>* names) {
  UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  if (!::Process32FirstW(snapshot.get(), &entry)) return false;
  do {
    // szExeFile is filled by the system; never trust it to be terminated.
    entry.szExeFile[MAX_PATH - 1] = L'\0';
    names->push_back(FromW(entry.szExeFile));
  } while (::Process32NextW(snapshot.get(), &entry));
  return true;
}

bool StartProcess(const std::u16string& commandLine, uint32_t* error) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  // CreateProcessW may write into the command line, so it gets its own copy.
  std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
  writable.push_back(L'\0');
  if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    *error = ::GetLastError();
    return false;
  }
  // The launcher keeps no link to the new process.
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  return true;
}

bool FormatSystemMessage(uint32_t code, std::string* text) {
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer),
      0, nullptr);
  if (length == 0) return false;
  const UniqueOwner<LocalMemoryTraits> owned(buffer);
  text->assign(buffer, length);
  return true;
}

namespace {
struct ThreadStart {
  ThreadProc fn;
  void* arg;
};

unsigned __stdcall ThreadTrampoline(void* raw) {
  const ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  return start.fn(start.arg);
}
}  // namespace

bool StartThread(ThreadProc fn, void* arg) {
  auto* start = new ThreadStart{fn, arg};
  const uintptr_t thread = ::_beginthreadex(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
  if (thread == 0) {
    delete start;
    return false;
  }
  // Not kept: the thread lives until the process ends.
  UniqueHandle handle(reinterpret_cast<HANDLE>(thread));
  return true;
}

void ExitProcessNow(int exitCode) { ::ExitProcess(static_cast<UINT>(exitCode)); }

uint64_t SystemTimeAsFileTime() {
  FILETIME time = {};
  ::GetSystemTimeAsFileTime(&time);
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint64_t MonotonicMilliseconds() { return ::GetTickCount64(); }

int MultiByteToWideChar(uint32_t codePage, const char* src, int srcBytes, char16_t* dst,
                        int dstChars) {
  return ::MultiByteToWideChar(codePage, 0, src, srcBytes, reinterpret_cast<wchar_t*>(dst),
                               dstChars);
}

bool EncodeAnsi(std::u16string_view text, std::string* bytes) {
  return EncodeExactly(AnsiCodePage(), text, bytes);
}

bool DecodeAnsi(std::string_view bytes, std::u16string* text) {
  return DecodeExactly(AnsiCodePage(), bytes, text);
}

uint32_t AnsiCodePage() { return ::GetACP(); }

uint32_t GetLastError() { return ::GetLastError(); }

}  // namespace platform
