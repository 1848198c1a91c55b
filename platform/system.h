#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

// Processes, threads, time, error texts and code-page conversion.
namespace platform {

// Executable file names (without folder) of the running processes, in the
// snapshot's order. False when no snapshot could be taken or its first entry
// could not be read.
bool ListProcessNames(std::vector<std::u16string>* names);

// CreateProcessW with no application name, the given (writable) command
// line, no inherited handles, flags 0, this process's environment and
// current directory. On failure *error holds GetLastError().
bool StartProcess(const std::u16string& commandLine, uint32_t* error);

// FormatMessageA(from system, ignore inserts, language neutral) for code;
// false when the system has no text.
bool FormatSystemMessage(uint32_t code, std::string* text);

// Starts fn(arg) on a new thread at once; the thread is not waited for.
using ThreadProc = unsigned (*)(void* arg);
bool StartThread(ThreadProc fn, void* arg);

// The process's exit code after a failure or a cancellation.
inline constexpr int kExitFailed = -1;
// Ends the process at once with the given exit code; nothing else runs.
[[noreturn]] void ExitProcessNow(int exitCode);

// GetSystemTimeAsFileTime: 100-ns intervals since 1601-01-01 UTC.
uint64_t SystemTimeAsFileTime();
inline constexpr uint64_t kFileTimeUnitsPerMillisecond = 10000;
inline constexpr uint64_t kFileTimeUnitsPerSecond = 1000 * kFileTimeUnitsPerMillisecond;
void Sleep(uint32_t milliseconds);
// Milliseconds on a clock that only moves on, whatever the date is set to:
// the one clock of deadlines and waits (GetTickCount64).
uint64_t MonotonicMilliseconds();

// MultiByteToWideChar with flags 0; dst may be null to measure. Returns the
// number of wide characters written (or needed), 0 on failure.
int MultiByteToWideChar(uint32_t codePage, const char* src, int srcBytes, char16_t* dst,
                        int dstChars);
// Text in the system's ANSI code page (GetACP), in which the file list
// names its files and the "A" calls take paths: exact forms only
// (EncodeExactly in platform/code_page.h), never a best fit or a default
// character, which would name another file. False when the text has no
// such form, or the bytes are no text's.
bool EncodeAnsi(std::u16string_view text, std::string* bytes);
bool DecodeAnsi(std::string_view bytes, std::u16string* text);
// That code page's number (GetACP): 950 on a Traditional Chinese Windows.
uint32_t AnsiCodePage();
// The longest path in that code page, its terminator included, that the
// launcher hands an "A" call: longer ones are refused.
inline constexpr size_t kMaxAnsiPathBytes = 1024;
uint32_t GetLastError();

}  // namespace platform
