#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "patcher/release_run.h"
#include "patcher/staged_files.h"
#include "release/version_files.h"

// The version files in the install folder (the current directory):
// "patcher_version" holds "first\r\nsecond"; "patcher_files_version" lists
// accompanying files as name/number pairs.

inline constexpr int32_t VersionStateFailed = -4;
inline constexpr int32_t VersionStateSame = 0;
inline constexpr int32_t VersionStateChanged = 1;

// The server's record could not be had (or arrived beyond its size limit,
// or, with a release key, without a signed manifest for it): the box, then
// the process ends at once with -1.
[[noreturn]] void FailServerRecordDownload();

// One per version check, fetching through the run it is made for.
class CVPatcherVersionManager {
 public:
  explicit CVPatcherVersionManager(ReleaseRun& run) : m_run(run) {}
  virtual ~CVPatcherVersionManager() = default;

  static bool InitVersionFiles();
  int32_t GetVersionState();
  bool DownloadVersionInfo();
  bool ModifyVersion();
  bool RestoreVersion();
  // False when the list is beyond the reader's limits; *map is then empty.
  static bool LoadFileVersions(FileVersionMap* map, std::FILE* file);
  // Appends the names to fetch; the server's list copy, for the update to
  // move into place, is one of its staged files.
  FetchResult CollectChangedFiles(StagedFiles& staged, std::vector<std::u16string>* changed);

 private:
  ReleaseRun& m_run;
  int32_t m_serverVersion = 0;
  int32_t m_serverSecond = 0;
  int32_t m_localVersion = 0;
  int32_t m_localSecond = 0;
  bool m_determined = false;
  int32_t m_state = VersionStateFailed;
};
