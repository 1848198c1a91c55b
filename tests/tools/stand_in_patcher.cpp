// Stands in for the patcher in the Windows tests: records how it was started
// in "stand_in_record.bin" beside itself, then exits. The record is UTF-16,
// each field ended by a NUL: the command line, the current directory, then
// the arguments as CommandLineToArgvW splits them. While a file
// "stand_in_wait" lies beside it (at most 30 s), it waits before recording:
// a test that must find the started patcher still running places that file
// and deletes it when done.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr DWORD kPathUnits = 1024;
constexpr wchar_t kRecordName[] = L"stand_in_record.bin";
constexpr wchar_t kPartialName[] = L"stand_in_record.part";
constexpr wchar_t kWaitName[] = L"stand_in_wait";
constexpr DWORD kWaitPollMs = 20;
constexpr DWORD kLongestWaitMs = 30000;

std::wstring ModuleFolder() {
  wchar_t path[kPathUnits] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, kPathUnits);
  if (length == 0 || length >= kPathUnits) return {};
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

std::wstring CurrentDirectory() {
  wchar_t path[kPathUnits] = {};
  const DWORD length = ::GetCurrentDirectoryW(kPathUnits, path);
  return length < kPathUnits ? std::wstring(path, length) : std::wstring();
}

}  // namespace

int wmain() {
  const wchar_t* commandLine = ::GetCommandLineW();
  std::wstring record = commandLine;
  record.push_back(L'\0');
  record += CurrentDirectory();
  record.push_back(L'\0');
  int count = 0;
  if (wchar_t** args = ::CommandLineToArgvW(commandLine, &count)) {
    for (int i = 0; i < count; ++i) {
      record += args[i];
      record.push_back(L'\0');
    }
    ::LocalFree(args);
  }

  const std::wstring folder = ModuleFolder();
  const std::wstring wait = folder + kWaitName;
  for (DWORD waited = 0;
       waited < kLongestWaitMs && ::GetFileAttributesW(wait.c_str()) != INVALID_FILE_ATTRIBUTES;
       waited += kWaitPollMs) {
    ::Sleep(kWaitPollMs);
  }

  // Written under another name and then renamed, so a test never reads half
  // a record.
  const std::wstring partial = folder + kPartialName;
  std::unique_ptr<FILE, int (*)(FILE*)> file(::_wfopen(partial.c_str(), L"wb"), &std::fclose);
  if (!file) return 1;
  const size_t written = std::fwrite(record.data(), sizeof(wchar_t), record.size(), file.get());
  if (written != record.size() || std::fclose(file.release()) != 0) return 1;
  const std::wstring complete = folder + kRecordName;
  return ::MoveFileExW(partial.c_str(), complete.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
