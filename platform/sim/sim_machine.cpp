#include "platform/sim/sim_machine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/code_page.h"
#include "platform/registry.h"

namespace sim {

namespace {

Machine g_machine;
std::atomic<uint64_t> g_monotonicAdvance{0};

std::string Narrow(const std::u16string& text) {
  // Each code unit (tests' paths hold Latin-1 and CJK characters) becomes
  // one UTF-8 sequence, so the host file system sees a stable name.
  std::string out;
  for (char16_t unit : text) {
    if (unit < 0x80) {
      out.push_back(static_cast<char>(unit));
    } else if (unit < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (unit >> 6)));
      out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
      out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    }
  }
  return out;
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

char16_t UpperAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }

// The entry of `folder` that Windows opens for `*name`: that name, else the
// first in byte order of those that differ from it only in ASCII case
// (a host may hold several). False when there is none.
bool FindEntry(const std::filesystem::path& folder, std::string* name) {
  std::error_code error;
  if (std::filesystem::exists(std::filesystem::symlink_status(folder / *name, error))) return true;
  const std::string folded = LowerAscii(*name);
  std::string found;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string entry = it->path().filename().string();
    if (LowerAscii(entry) == folded && (found.empty() || entry < found)) found = entry;
  }
  if (found.empty()) return false;
  *name = found;
  return true;
}

}  // namespace

Machine& Current() { return g_machine; }

void AdvanceMonotonicClock(uint64_t milliseconds) { g_monotonicAdvance += milliseconds; }

void Machine::Reset(const std::filesystem::path& root) {
  *this = Machine();
  hostRoot = root;
  std::filesystem::create_directories(root / "C");
  modulePath = u"C:\\Games\\Velkaris\\VelkarisLauncher.exe";
  currentDirectory = u"C:\\";
  MakeFolders(u"C:\\Games\\Velkaris");
  tempFolder = u"C:\\Users\\player\\AppData\\Local\\Temp\\";
  MakeFolders(tempFolder);
  using platform::KnownFolder;
  knownFolders = {
      {KnownFolder::kProfile, u"C:\\Users\\player"},
      {KnownFolder::kDesktop, u"C:\\Users\\player\\Desktop"},
      {KnownFolder::kCommonDesktop, u"C:\\Users\\Public\\Desktop"},
      {KnownFolder::kDocuments, u"C:\\Users\\player\\Documents"},
      {KnownFolder::kCommonDocuments, u"C:\\Users\\Public\\Documents"},
      {KnownFolder::kDownloads, u"C:\\Users\\player\\Downloads"},
      {KnownFolder::kMusic, u"C:\\Users\\player\\Music"},
      {KnownFolder::kPictures, u"C:\\Users\\player\\Pictures"},
      {KnownFolder::kVideos, u"C:\\Users\\player\\Videos"},
      {KnownFolder::kRoamingAppData, u"C:\\Users\\player\\AppData\\Roaming"},
      {KnownFolder::kLocalAppData, u"C:\\Users\\player\\AppData\\Local"},
      {KnownFolder::kProgramData, u"C:\\ProgramData"},
      {KnownFolder::kProgramFiles, u"C:\\Program Files (x86)"},
      {KnownFolder::kProgramFilesX86, u"C:\\Program Files (x86)"},
      {KnownFolder::kProgramFilesNative, u"C:\\Program Files"},
      {KnownFolder::kWindows, u"C:\\Windows"},
      {KnownFolder::kSystem, u"C:\\Windows\\system32"},
      {KnownFolder::kSystemX86, u"C:\\Windows\\SysWOW64"},
      {KnownFolder::kPublic, u"C:\\Users\\Public"},
  };
  MakeFolders(knownFolders[KnownFolder::kProgramData]);
  now = 133000000000000000ULL;  // a whole second of 2022
}

std::u16string Machine::AbsolutePath(const std::u16string& path) const {
  std::u16string full;
  if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == u':') {
    full = path;
  } else if (!path.empty() && IsSeparator(path[0])) {
    full = currentDirectory.substr(0, 2) + path;
  } else {
    full = currentDirectory;
    if (!full.empty() && !IsSeparator(full.back())) full += u'\\';
    full += path;
  }
  // Resolve "." and ".." lexically, never above the drive root, as Windows
  // does; runs of separators collapse.
  std::vector<std::u16string> parts;
  std::u16string part;
  const std::u16string drive{UpperAscii(full[0]), u':'};
  for (size_t i = 2; i <= full.size(); ++i) {
    if (i == full.size() || IsSeparator(full[i])) {
      if (part == u"..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != u".") {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part += full[i];
    }
  }
  std::u16string result = drive + u"\\";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) result += u'\\';
    result += parts[i];
  }
  return result;
}

std::filesystem::path Machine::HostPath(const std::u16string& windowsPath) const {
  const std::u16string absolute = AbsolutePath(windowsPath);
  std::filesystem::path host = hostRoot / Narrow(absolute.substr(0, 1));
  // Below the first component that names nothing, nothing exists either.
  bool existing = true;
  for (size_t start = 3; start < absolute.size();) {
    const size_t end = std::min(absolute.find(u'\\', start), absolute.size());
    std::string name = Narrow(absolute.substr(start, end - start));
    existing = existing && FindEntry(host, &name);
    host /= name;
    start = end + 1;
  }
  return host;
}

void Machine::WriteFile(const std::u16string& path, const std::string& bytes) const {
  const auto host = HostPath(path);
  std::filesystem::create_directories(host.parent_path());
  std::ofstream(host, std::ios::binary) << bytes;
}

std::string Machine::ReadFile(const std::u16string& path) const {
  std::ifstream in(HostPath(path), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool Machine::Exists(const std::u16string& path) const {
  std::error_code error;
  return std::filesystem::exists(HostPath(path), error);
}

void Machine::MakeFolders(const std::u16string& path) const {
  std::filesystem::create_directories(HostPath(path));
}

void Machine::AdvanceClock(uint32_t milliseconds) {
  now += milliseconds * platform::kFileTimeUnitsPerMillisecond;
}

void Machine::SetString(const std::u16string& key, const std::u16string& name,
                        const std::u16string& text) {
  RegistryValue value;
  value.type = platform::kRegSz;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.c_str());
  value.data.assign(bytes, bytes + (text.size() + 1) * sizeof(char16_t));
  registry[LowerAscii(key)][name] = value;
}

bool Machine::GetString(const std::u16string& key, const std::u16string& name,
                        std::u16string* text) const {
  const auto keyIt = registry.find(LowerAscii(key));
  if (keyIt == registry.end()) return false;
  const auto valueIt = keyIt->second.find(name);
  if (valueIt == keyIt->second.end()) return false;
  const auto& data = valueIt->second.data;
  text->assign(reinterpret_cast<const char16_t*>(data.data()), data.size() / sizeof(char16_t));
  while (!text->empty() && text->back() == u'\0') text->pop_back();
  return true;
}

bool Machine::KeyExists(const std::u16string& key) const {
  return registry.count(LowerAscii(key)) != 0;
}

}  // namespace sim

// The platform layer, answered by the simulated machine.
namespace platform {

using sim::g_machine;

namespace {

uint32_t ErrorFromErrno(int error) {
  switch (error) {
    case EEXIST:
      return kErrorAlreadyExists;
    case ENOENT:
    case ENOTDIR:
      return kErrorPathNotFound;
    default:
      return kErrorAccessDenied;
  }
}

bool IsBareDrive(const std::u16string& path) {
  return path.size() == 2 && sim::IsDriveLetter(path[0]) && path[1] == u':';
}

bool DriveExists(const std::u16string& absolute) {
  std::error_code error;
  return std::filesystem::is_directory(
      g_machine.hostRoot / sim::Narrow(absolute.substr(0, 1)), error);
}

// A held file, or a folder with one below it: Windows deletes and renames
// neither, nor opens a held file for writing.
bool IsHeldOpen(const std::u16string& path) {
  const std::u16string absolute = sim::LowerAscii(g_machine.AbsolutePath(path));
  for (const auto& [heldPath, holds] : g_machine.heldFiles) {
    const std::u16string held = sim::LowerAscii(heldPath);
    if (held == absolute ||
        (held.size() > absolute.size() && held.compare(0, absolute.size(), absolute) == 0 &&
         sim::IsSeparator(held[absolute.size()]))) {
      return true;
    }
  }
  return false;
}

// A program that runs: Windows renames it, but deletes it only once it has
// ended.
bool IsRunning(const std::u16string& path) {
  return g_machine.runningPrograms.count(g_machine.AbsolutePath(path)) != 0;
}

void LogFile(const char16_t* what, const std::u16string& path) {
  g_machine.fileLog.push_back(what + (u" " + g_machine.AbsolutePath(path)));
}

// A write, removal or rename of `path`: counted, and the process killed
// after as many as the test asked for.
void NoteFileChange(const char16_t* what, const std::u16string& path) {
  LogFile(what, path);
  if (++g_machine.fileChanges == g_machine.killAfterFileChanges) {
    std::_Exit(sim::Machine::kKilledExitCode);
  }
}

// A host file descriptor.
struct DescriptorTraits {
  using Handle = int;
  static Handle Empty() { return -1; }
  static bool IsValid(Handle descriptor) { return descriptor >= 0; }
  static void Close(Handle descriptor) { ::close(descriptor); }
};
using UniqueDescriptor = UniqueOwner<DescriptorTraits>;

// A staging file's stream holds an exclusive lock on its host file, which
// stands for its share mode: the lock stays with the open file through
// renames and ends with the stream.
bool IsStaging(const std::u16string& path) {
  const UniqueDescriptor probe(::open(g_machine.HostPath(path).c_str(), O_RDONLY | O_CLOEXEC));
  return probe && ::flock(probe.get(), LOCK_SH | LOCK_NB) != 0;
}

// The Windows path of an existing file with the host's symbolic links
// resolved, in the long form ("\\?\C:\..."); empty when it lies outside the
// machine's drives.
std::u16string FinalPath(const std::u16string& path) {
  std::error_code rootError;
  std::error_code fileError;
  const auto root = std::filesystem::canonical(g_machine.hostRoot, rootError);
  const auto file = std::filesystem::canonical(g_machine.HostPath(path), fileError);
  if (rootError || fileError) return {};
  const auto relative = file.lexically_relative(root);
  if (relative.empty() || *relative.begin() == "..") return {};
  auto part = relative.begin();
  std::u16string result = u"\\\\?\\" + part->u16string() + u":";
  for (++part; part != relative.end(); ++part) result += u"\\" + part->u16string();
  return result;
}

// Whether a file at `path` may be taken while files are confined: at or
// below the folder, links resolved.
bool IsConfined(const std::u16string& path) {
  return g_machine.confinedTo.empty() || IsAtOrBelow(FinalPath(path), g_machine.confinedTo);
}

// As the Win32 layer judges a handle opened without following a link at
// its name: no link there (a host symbolic link stands for a reparse
// point), a file with one name or, when allowed, a folder, and confined. A
// name not there yet passes, to be made.
bool IsOwnName(const std::u16string& path, bool folderAllowed) {
  struct stat status {};
  if (::lstat(g_machine.HostPath(path).c_str(), &status) != 0) return true;
  if (S_ISLNK(status.st_mode) || (S_ISDIR(status.st_mode) ? !folderAllowed : status.st_nlink != 1)) {
    return false;
  }
  return IsConfined(path);
}

// A path that is no text in the code page names nothing.
std::u16string AnsiPathToWide(const char* path) {
  std::u16string wide;
  if (!DecodeAnsi(path, &wide)) wide.clear();
  return wide;
}

}  // namespace

UniqueFile OpenFile(const std::u16string& path, const char* mode) {
  if (path.empty()) return {};
  const bool writes = std::strpbrk(mode, "wa+") != nullptr;
  if (writes && (IsHeldOpen(path) || IsStaging(path))) return {};
  const bool confined = !g_machine.confinedTo.empty();
  if (confined && !IsOwnName(path, false)) return {};
  const auto host = g_machine.HostPath(path);
  // Windows opens no folder as a file; glibc opens one for reading.
  std::error_code error;
  if (std::filesystem::is_directory(host, error)) return {};
  const auto fault = g_machine.readFaults.find(g_machine.AbsolutePath(path));
  if (!writes && fault != g_machine.readFaults.end()) {
    if (fault->second == sim::Machine::ReadFault::kOpen) return {};
    // A stream open for appending only: every read of it fails.
    return UniqueFile(std::fopen(host.c_str(), "ab"));
  }
  UniqueFile file(std::fopen(host.c_str(), mode));
  // Made through a link on the way to it, elsewhere.
  if (file && confined && !IsConfined(path)) return {};
  if (writes) NoteFileChange(u"write", path);
  return file;
}

UniqueFile OpenFileAnsi(const char* path, const char* mode) {
  return OpenFile(AnsiPathToWide(path), mode);
}

bool PathExists(const std::u16string& path) {
  if (path.empty()) return false;
  std::error_code error;
  return std::filesystem::exists(g_machine.HostPath(path), error);
}

bool QueryFileStamp(const std::u16string& path, FileStamp* stamp) {
  if (path.empty()) return false;
  struct stat status {};
  if (::stat(g_machine.HostPath(path).c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return false;
  }
  constexpr uint64_t kNanosecondsPerFileTimeUnit = 100;
  stamp->size = static_cast<uint64_t>(status.st_size);
  stamp->lastWrite =
      static_cast<uint64_t>(status.st_mtim.tv_sec) * platform::kFileTimeUnitsPerSecond +
      static_cast<uint64_t>(status.st_mtim.tv_nsec) / kNanosecondsPerFileTimeUnit;
  return true;
}

bool RemoveFile(const std::u16string& path) {
  if (path.empty() || IsHeldOpen(path) || IsRunning(path)) return false;
  const auto host = g_machine.HostPath(path);
  std::error_code error;
  if (!std::filesystem::is_regular_file(host, error)) return false;
  const bool removed = std::filesystem::remove(host, error);
  NoteFileChange(u"remove", path);
  return removed;
}

bool RemoveFileAnsi(const char* path) { return RemoveFile(AnsiPathToWide(path)); }

uint32_t MakeProtectedDirectory(const std::u16string& path) {
  const uint32_t result = MakeDirectory(path);
  if (result == kErrorSuccess) {
    g_machine.protectedPaths.insert(g_machine.AbsolutePath(path));
    LogFile(u"protect", path);
  }
  return result;
}

uint32_t ProtectExistingPath(const std::u16string& path) {
  struct stat status {};
  if (path.empty() || ::lstat(g_machine.HostPath(path).c_str(), &status) != 0) {
    return kErrorPathNotFound;
  }
  if (!IsOwnName(path, true)) return kErrorReparsePointEncountered;
  const std::u16string absolute = g_machine.AbsolutePath(path);
  if (g_machine.unprotectablePaths.count(absolute)) return kErrorAccessDenied;
  g_machine.protectedPaths.insert(absolute);
  LogFile(u"protect", path);
  return kErrorSuccess;
}

bool IsAdministratorsOnly(const std::u16string& path) {
  return !path.empty() && PathExists(path) && IsOwnName(path, true) &&
         g_machine.protectedPaths.count(g_machine.AbsolutePath(path)) != 0;
}

uint32_t ConfineFilesTo(const std::u16string& folder) {
  std::u16string finalPath;
  if (!QueryFinalPath(folder, &finalPath)) return kErrorPathNotFound;
  g_machine.confinedTo = finalPath;
  return kErrorSuccess;
}

void EndFileConfinementForTesting() { g_machine.confinedTo.clear(); }

bool QueryFinalPath(const std::u16string& path, std::u16string* finalPath) {
  if (path.empty()) return false;
  std::u16string resolved = FinalPath(path);
  if (resolved.empty()) return false;
  *finalPath = std::move(resolved);
  return true;
}

bool QueryReparsePoint(const std::u16string& path, bool* isReparsePoint) {
  if (path.empty()) return false;
  std::error_code error;
  const auto status = std::filesystem::symlink_status(g_machine.HostPath(path), error);
  if (!std::filesystem::exists(status)) return false;
  *isReparsePoint = std::filesystem::is_symlink(status);
  return true;
}

namespace {
struct SimHeldFile {
  std::u16string path;
  std::u16string finalPath;
  UniqueFile stream;
};
}  // namespace

void HeldFileTraits::Close(void* file) {
  const std::unique_ptr<SimHeldFile> held(static_cast<SimHeldFile*>(file));
  const auto entry = g_machine.heldFiles.find(held->path);
  if (entry != g_machine.heldFiles.end() && --entry->second == 0) g_machine.heldFiles.erase(entry);
}

HeldFile HoldFile(const std::u16string& path) {
  // A staging file is open for writing, which a hold does not share.
  if (IsStaging(path) || !IsOwnName(path, false)) return {};
  UniqueFile stream = OpenFile(path, "rb");
  if (!stream) return {};
  auto held = std::make_unique<SimHeldFile>(
      SimHeldFile{g_machine.AbsolutePath(path), FinalPath(path), std::move(stream)});
  ++g_machine.heldFiles[held->path];
  return HeldFile(held.release());
}

bool ReadHeldFile(const HeldFile& file, void* buffer, size_t size, size_t* read) {
  std::FILE* stream = static_cast<SimHeldFile*>(file.get())->stream.get();
  *read = std::fread(buffer, 1, size, stream);
  return !std::ferror(stream);
}

bool HeldFilePath(const HeldFile& file, std::u16string* path) {
  return CommandLinePathOfFinalPath(static_cast<SimHeldFile*>(file.get())->finalPath, path);
}

UniqueFile OpenStagingFile(const std::u16string& path, StagingStart start) {
  if (path.empty() || IsHeldOpen(path) || !IsOwnName(path, false)) return {};
  const auto host = g_machine.HostPath(path);
  UniqueDescriptor file(::open(host.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!file || !IsConfined(path) || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0 ||
      (start == StagingStart::kEmpty && ::ftruncate(file.get(), 0) != 0)) {
    return {};
  }
  UniqueFile stream(::fdopen(file.get(), "w+b"));
  if (stream) static_cast<void>(file.release());  // the stream closes it now
  NoteFileChange(u"write", path);
  return stream;
}

UniqueFile OpenAppendFile(const std::u16string& path) {
  if (path.empty() || IsHeldOpen(path) || IsStaging(path)) return {};
  UniqueDescriptor descriptor(::open(g_machine.HostPath(path).c_str(),
                                     O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
  struct stat status = {};
  if (!descriptor || ::fstat(descriptor.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_nlink != 1 || !IsConfined(path)) {
    return {};
  }
  UniqueFile file(::fdopen(descriptor.get(), "ab"));
  if (file) static_cast<void>(descriptor.release());
  NoteFileChange(u"write", path);
  return file;
}

bool TruncateStream(std::FILE* file) {
  return std::fflush(file) == 0 && std::fseek(file, 0, SEEK_SET) == 0 &&
         ::ftruncate(::fileno(file), 0) == 0;
}

bool StreamSize(std::FILE* file, uint64_t* size) {
  struct stat status = {};
  if (std::fflush(file) != 0 || ::fstat(::fileno(file), &status) != 0) return false;
  *size = static_cast<uint64_t>(status.st_size);
  return true;
}

uint32_t MakeDirectory(const std::u16string& path) {
  if (path.empty()) return kErrorPathNotFound;
  if (IsBareDrive(path)) return kErrorAccessDenied;
  const std::u16string absolute = g_machine.AbsolutePath(path);
  if (!DriveExists(absolute)) return kErrorPathNotFound;
  if (absolute.size() == 3) return kErrorAccessDenied;  // a drive root
  const auto host = g_machine.HostPath(path);
  if (::mkdir(host.c_str(), 0777) == 0) return kErrorSuccess;
  return ErrorFromErrno(errno);
}

std::u16string GetModuleFilePath() {
  if (g_machine.modulePath.size() >= kMaxPath) return {};
  return g_machine.modulePath;
}

std::u16string RemoveFileSpec(const std::u16string& path) {
  // Documented behaviour of PathRemoveFileSpecW for drive paths: everything
  // from the last separator goes, except the backslash of a drive root.
  const size_t last = path.find_last_of(u"\\/");
  if (last == std::u16string::npos) {
    if (path.size() >= 2 && path[1] == u':') return path.substr(0, 2);
    return {};
  }
  if (last == 2 && path[1] == u':') return path.substr(0, 3);
  if (last == 0) return path.substr(0, 1);
  return path.substr(0, last);
}

bool SetWorkingDirectory(const std::u16string& path) {
  if (path.empty() || g_machine.failSetCurrentDirectory) return false;
  const std::u16string absolute = g_machine.AbsolutePath(path);
  if (g_machine.unenterableFolders.count(absolute)) return false;
  std::error_code error;
  if (!std::filesystem::is_directory(g_machine.HostPath(path), error)) return false;
  g_machine.currentDirectory = absolute;
  return true;
}

std::u16string GetWorkingDirectory() { return g_machine.currentDirectory; }

bool QueryDiskFreeSpace(const std::u16string& folder, DiskFreeSpace* space) {
  g_machine.freeSpaceQueries.push_back(folder);
  if (g_machine.failFreeSpace || folder.empty()) return false;
  // Windows measures through the folder itself: a missing one, or a file,
  // has no figures.
  std::error_code error;
  if (!std::filesystem::is_directory(g_machine.HostPath(folder), error)) return false;
  const std::u16string absolute = g_machine.AbsolutePath(folder);
  const auto byDrive = g_machine.freeSpaceByDrive.find(absolute.substr(0, 2));
  *space = byDrive != g_machine.freeSpaceByDrive.end() ? byDrive->second : g_machine.freeSpace;
  return true;
}

int ShellFileOperation(ShellFileOp op, const char16_t* from, const char16_t* to,
                       uint16_t flags) {
  constexpr int kShellOperationFailed = 0x7C;  // DE_INVALIDFILES
  sim::ShellFileOpRecord record;
  record.op = op;
  record.from = from;
  record.flags = flags;
  const size_t fromLength = record.from.size();
  record.doubleNulTerminated = from[fromLength + 1] == u'\0';
  if (to) {
    record.to = to;
    record.doubleNulTerminated =
        record.doubleNulTerminated && to[record.to.size() + 1] == u'\0';
  }
  std::error_code error;
  int result = 0;
  if (g_machine.failShellFileOps > 0) {
    --g_machine.failShellFileOps;
    result = kShellOperationFailed;
  } else if (IsHeldOpen(record.from) || (to && IsHeldOpen(record.to))) {
    result = kShellOperationFailed;
  } else if (op == ShellFileOp::kDelete && IsRunning(record.from)) {
    result = kShellOperationFailed;
  } else if (op == ShellFileOp::kDelete) {
    const auto host = g_machine.HostPath(record.from);
    if (!std::filesystem::exists(host, error) || std::filesystem::remove_all(host, error) == 0 ||
        error) {
      result = kShellOperationFailed;
    }
  } else {
    const auto source = g_machine.HostPath(record.from);
    const auto target = g_machine.HostPath(record.to);
    // A rename never replaces an existing target.
    if (!std::filesystem::exists(source, error) || std::filesystem::exists(target, error)) {
      result = kShellOperationFailed;
    } else {
      std::filesystem::rename(source, target, error);
      if (error) {
        result = kShellOperationFailed;
      } else if (g_machine.runningPrograms.erase(g_machine.AbsolutePath(record.from)) != 0) {
        g_machine.runningPrograms.insert(g_machine.AbsolutePath(record.to));
      }
    }
  }
  record.result = result;
  g_machine.shellFileOps.push_back(record);
  NoteFileChange(op == ShellFileOp::kDelete ? u"remove" : u"rename", record.from);
  return result;
}

bool ListProcessNames(std::vector<std::u16string>* names) {
  if (g_machine.failProcessSnapshot) return false;
  *names = g_machine.processes;
  return true;
}

bool StartProcess(const std::u16string& commandLine, uint32_t* error) {
  if (g_machine.startProcessError != 0) {
    *error = g_machine.startProcessError;
    return false;
  }
  g_machine.startedProcesses.push_back(commandLine);
  return true;
}

bool FormatSystemMessage(uint32_t code, std::string* text) {
  const auto it = g_machine.systemMessages.find(code);
  if (it == g_machine.systemMessages.end()) return false;
  *text = it->second;
  return true;
}

bool StartThread(ThreadProc fn, void* arg) {
  if (g_machine.failStartThread) return false;
  ++g_machine.startedThreads;
  fn(arg);
  return true;
}

void ExitProcessNow(int exitCode) { std::_Exit(exitCode); }

uint64_t SystemTimeAsFileTime() {
  if (!g_machine.scriptedTimes.empty()) {
    const uint64_t time = g_machine.scriptedTimes.front();
    g_machine.scriptedTimes.pop_front();
    return time;
  }
  return g_machine.now;
}

void Sleep(uint32_t milliseconds) {
  g_machine.sleeps.push_back(milliseconds);
  g_machine.AdvanceClock(milliseconds);
  sim::AdvanceMonotonicClock(milliseconds);
  if (g_machine.onSleep) g_machine.onSleep(g_machine);
}

uint64_t MonotonicMilliseconds() {
  const auto host = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint64_t>(host.count()) + sim::g_monotonicAdvance;
}

int MultiByteToWideChar(uint32_t codePage, const char* src, int srcBytes, char16_t* dst,
                        int dstChars) {
  (void)codePage;  // both ANSI code pages of the simulated machine are its ansiCodePage
  constexpr uint32_t kErrorNoUnicodeTranslation = 1113;
  if (srcBytes < 0) srcBytes = static_cast<int>(std::char_traits<char>::length(src)) + 1;
  std::u16string text;
  if (!DecodeAnsi(std::string_view(src, static_cast<size_t>(srcBytes)), &text)) {
    g_machine.lastError = kErrorNoUnicodeTranslation;
    return 0;
  }
  const int needed = static_cast<int>(text.size());
  if (dst == nullptr) return needed;
  if (dstChars < needed) {
    g_machine.lastError = kErrorInsufficientBuffer;
    return 0;
  }
  std::copy(text.begin(), text.end(), dst);
  return needed;
}

bool EncodeAnsi(std::u16string_view text, std::string* bytes) {
  if (g_machine.ansiCodePage != sim::Machine::kLatin1CodePage) {
    return EncodeExactly(g_machine.ansiCodePage, text, bytes);
  }
  constexpr char16_t kLastLatin1 = 0xFF;
  bytes->clear();
  for (char16_t c : text) {
    if (c > kLastLatin1) return false;
    bytes->push_back(static_cast<char>(c));
  }
  return true;
}

bool DecodeAnsi(std::string_view bytes, std::u16string* text) {
  if (g_machine.ansiCodePage != sim::Machine::kLatin1CodePage) {
    return DecodeExactly(g_machine.ansiCodePage, bytes, text);
  }
  text->clear();
  for (char byte : bytes) text->push_back(static_cast<unsigned char>(byte));
  return true;
}

uint32_t AnsiCodePage() { return g_machine.ansiCodePage; }

uint32_t GetLastError() { return g_machine.lastError; }

}  // namespace platform
