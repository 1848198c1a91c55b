#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/types.h"

// The simulated machine behind the native build of the platform layer: the
// portable logic runs against it in tests. Files are real, below a host
// folder in which each drive letter is a subfolder ("C:\Games" lives in
// <root>/C/Games); everything else (registry, dialogs, processes, free space,
// clock, shell links) is state a test sets up and inspects. Single-threaded:
// tests drive the logic on one thread.
namespace sim {

// One message box or folder dialog as the player would have seen it.
struct DialogRecord {
  enum class Kind { kMessageBox, kBrowseFolder };
  Kind kind = Kind::kMessageBox;
  platform::WindowHandle owner = nullptr;
  std::u16string caption;  // message boxes
  std::u16string text;     // message text or browse title
  uint32_t type = 0;       // MessageBoxW or browse flags
  std::u16string preselected;  // browse dialog: folder selected by the callback
  int answer = 0;              // message boxes: the button pressed
  std::u16string chosen;       // browse dialog: the folder returned, empty if none
};

// How a dialog is answered. A message box takes `button`; a folder dialog
// returns `folder`, or nothing when `cancel` is set. The clock moves on by
// `milliseconds` while the player thinks.
struct DialogAnswer {
  int button = platform::kIdOk;
  bool cancel = false;
  std::u16string folder;
  uint32_t milliseconds = 0;

  static DialogAnswer Button(int id) { return DialogAnswer{id, false, {}}; }
  static DialogAnswer Folder(std::u16string path) { return DialogAnswer{0, false, std::move(path)}; }
  static DialogAnswer Cancel() { return DialogAnswer{0, true, {}}; }
  DialogAnswer After(uint32_t time) const {
    DialogAnswer answer = *this;
    answer.milliseconds = time;
    return answer;
  }
};

struct RegistryValue {
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

struct ShellLinkRecord {
  std::u16string target;
  std::u16string iconFile;
  int iconIndex = -1;
  std::u16string description;
};

struct ShellFileOpRecord {
  platform::ShellFileOp op;
  std::u16string from;
  std::u16string to;
  uint16_t flags = 0;
  bool doubleNulTerminated = false;
  int result = 0;
};

struct Machine {
  // Fresh machine: drive C: exists, the launcher runs as
  // C:\Games\Velkaris\VelkarisLauncher.exe from C:\Games\Velkaris (which
  // exists), the user's temporary folder exists, the known folders are
  // those of a player "player" on a 64-bit Windows (of them only the
  // machine's program data made), and every other state is empty.
  void Reset(const std::filesystem::path& hostRoot);

  // Host path of a Windows path (relative ones against currentDirectory).
  // Windows finds a file or folder whatever the letter case of its name and
  // the host does not: each component names the existing entry that matches
  // it in any ASCII case; a new one keeps the case given.
  std::filesystem::path HostPath(const std::u16string& windowsPath) const;
  // Windows path made absolute and normalised to backslashes.
  std::u16string AbsolutePath(const std::u16string& windowsPath) const;

  // Convenience for tests: real files and folders below the host root.
  void WriteFile(const std::u16string& windowsPath, const std::string& bytes) const;
  std::string ReadFile(const std::u16string& windowsPath) const;
  bool Exists(const std::u16string& windowsPath) const;
  void MakeFolders(const std::u16string& windowsPath) const;

  // Registry: HKEY_LOCAL_MACHINE only. Keys compare case-insensitively.
  void SetString(const std::u16string& key, const std::u16string& name, const std::u16string& text);
  bool GetString(const std::u16string& key, const std::u16string& name, std::u16string* text) const;
  bool KeyExists(const std::u16string& key) const;

  std::filesystem::path hostRoot;
  std::u16string modulePath;
  // The user's temporary folder (%TEMP%, in the profile), ending in a
  // backslash, where the launcher writes nothing.
  std::u16string tempFolder;
  std::u16string currentDirectory;
  bool failSetCurrentDirectory = false;
  std::set<std::u16string> unenterableFolders;  // SetWorkingDirectory fails there

  // Free space answered for every folder unless failFreeSpace is set.
  platform::DiskFreeSpace freeSpace{8, 512, 0x7fffffff};
  std::map<std::u16string, platform::DiskFreeSpace> freeSpaceByDrive;  // key: "D:"
  bool failFreeSpace = false;
  std::vector<std::u16string> freeSpaceQueries;

  std::vector<std::u16string> processes;
  bool failProcessSnapshot = false;

  std::map<std::u16string, std::map<std::u16string, RegistryValue>> registry;  // lower-case keys
  std::map<std::u16string, std::u16string> registryClasses;
  bool failRegistryCreate = false;
  bool failRegistryWrite = false;
  std::vector<std::u16string> registryWrites;  // "key\\name=value" in order

  std::deque<DialogAnswer> answers;
  std::vector<DialogRecord> transcript;
  bool unscriptedDialog = false;  // a dialog came with no answer scripted

  uint64_t now = 0;                  // file time returned by the clock
  void AdvanceClock(uint32_t milliseconds);
  std::deque<uint64_t> scriptedTimes;  // taken first, one per clock read
  std::vector<uint32_t> sleeps;
  // Run on every Sleep (after it is recorded); lets a test change the world
  // while the logic waits.
  void (*onSleep)(Machine& machine) = nullptr;

  std::vector<std::u16string> startedProcesses;  // command lines
  // Programs running, by absolute path: renamed (the entry follows), never
  // deleted.
  std::set<std::u16string> runningPrograms;
  uint32_t startProcessError = 0;                // non-zero: StartProcess fails
  std::map<uint32_t, std::string> systemMessages;

  // Threads: StartThread runs the procedure to completion at once unless it
  // is told to fail.
  bool failStartThread = false;
  int startedThreads = 0;
  // The simulated splash publishes its window but leaves the ready flag to
  // the test (set it from onSleep to model a slow splash).
  bool deferSplashReady = false;

  std::map<int, std::u16string> specialFolders;  // CSIDL -> folder
  std::map<platform::KnownFolder, std::u16string> knownFolders;
  std::map<std::u16string, ShellLinkRecord> shellLinks;  // saved, by link path
  int32_t shellLinkCreateResult = 0;
  std::set<std::u16string> unwritableLinkFolders;  // Save fails below these
  int componentLibraryInits = 0;

  // Folders made by MakeProtectedDirectory and paths ProtectExistingPath
  // protected, as absolute paths: the ones IsAdministratorsOnly finds so.
  // It fails (access denied) for the paths in unprotectablePaths.
  std::set<std::u16string> protectedPaths;
  std::set<std::u16string> unprotectablePaths;
  // The final path ConfineFilesTo set, empty while files open as named.
  std::u16string confinedTo;
  // Files held open by HoldFile (absolute path, number of holds): while
  // held, none can be opened for writing, deleted or renamed, nor can a
  // folder above one. A held file's path resolves host symbolic links as
  // Windows resolves junctions, and a link counts as a reparse point.
  std::map<std::u16string, int> heldFiles;

  // Files that cannot be read, by absolute path: opening one for reading
  // fails (kOpen), or succeeds and every read then fails (kRead), as on a
  // damaged disk.
  enum class ReadFault { kOpen, kRead };
  std::map<std::u16string, ReadFault> readFaults;

  // Changes to files so far: opens for writing, deletions and renames. With
  // killAfterFileChanges set, the process ends (kKilledExitCode) right after
  // that many, as a launcher killed at that moment would: tests enumerate
  // every moment of a sequence of writes this way.
  static constexpr int kKilledExitCode = 77;
  int fileChanges = 0;
  int killAfterFileChanges = -1;
  // Those changes, and the protections given, in order: "write", "remove",
  // "rename" or "protect", a blank, the absolute path.
  std::vector<std::u16string> fileLog;

  std::vector<ShellFileOpRecord> shellFileOps;
  int failShellFileOps = 0;  // this many next operations fail with 0x7C

  // The machine's ANSI code page, in which it converts every ANSI text:
  // Latin-1 (bytes 0-255 the characters of the same value) unless a test
  // sets one of Windows' (950 for a Traditional Chinese machine), converted
  // by the system's tables as Windows converts it (platform/code_page.h).
  // A conversion with flags 0 fails where Windows would take a default
  // character.
  static constexpr uint32_t kLatin1CodePage = 28591;
  uint32_t ansiCodePage = kLatin1CodePage;
  uint32_t lastError = 0;
};

// The one simulated machine of the test process.
Machine& Current();

// The monotonic clock (platform::MonotonicMilliseconds) is the host's, moved
// on by every Sleep and by this, from any thread: a test server can make a
// request take that long. Never taken back, not even by Machine::Reset.
void AdvanceMonotonicClock(uint64_t milliseconds);

// Names of files and registry keys compare with ASCII letters folded, as
// Windows compares the names the logic uses.
template <typename Char>
std::basic_string<Char> LowerAscii(std::basic_string<Char> text) {
  for (Char& c : text) {
    if (c >= Char{'A'} && c <= Char{'Z'}) c = static_cast<Char>(c - Char{'A'} + Char{'a'});
  }
  return text;
}

}  // namespace sim
