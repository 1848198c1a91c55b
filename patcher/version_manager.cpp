#include "patcher/version_manager.h"

#include <array>

#include "fs/file_services.h"
#include "patcher/release_fetch.h"
#include "patcher/release_record.h"
#include "platform/files.h"
#include "platform/system.h"
#include "release/release_files.h"
#include "ui/message_box.h"
#include "ui/messages.h"
#include "ui/outcome.h"

namespace {

// Binary mode with the CR LF written out, so the record has the same bytes
// on every build. A write that does not reach the file counts as failed, up
// to its close, which writes the last buffered bytes.
bool WriteLocalRecord(int32_t first, int32_t second) {
  return WriteWholeFile(kVersionRecordName, FormatVersionRecord(first, second));
}

// The player's own record: its two numbers are read from its first
// kMaxRecordBytes, however long it has grown (only the server's copy is held
// to that bound). False only when it cannot be opened; a read that fails
// leaves unread numbers as they were, as a scan would.
bool ReadLocalRecord(int32_t* first, int32_t* second) {
  const platform::UniqueFile file = platform::OpenFile(kVersionRecordName, "rb");
  if (!file) return false;
  std::array<char, kMaxRecordBytes> head;
  const size_t read = std::fread(head.data(), 1, head.size(), file.get());
  ParseVersionRecord(std::string_view(head.data(), read), first, second);
  return true;
}

}  // namespace

void FailServerRecordDownload() {
  ShowFailure(Outcome::kRecordDownload);
  // The run ends here, not in the main flow: its log is closed here too.
  EndRunLog(platform::kExitFailed);
  platform::ExitProcessNow(platform::kExitFailed);
}

bool CVPatcherVersionManager::InitVersionFiles() {
  if (platform::PathExists(kVersionRecordName)) return true;
  if (!WriteLocalRecord(0, 0)) ShowManagerNote(kNoteRestoreFailed);
  if (!platform::OpenFile(kFileListName, "wb")) return false;
  // An existing folder is as good as a new one.
  platform::MakeDirectory(kLocalesFolderName);
  return true;
}

int32_t CVPatcherVersionManager::GetVersionState() {
  if (m_determined) return m_state;
  if (!DownloadVersionInfo()) return VersionStateFailed;
  if (!ReadLocalRecord(&m_localVersion, &m_localSecond)) return VersionStateFailed;
  // Any difference counts, a lower server version too: the server decides.
  m_state = m_serverVersion != m_localVersion ? VersionStateChanged : VersionStateSame;
  m_determined = true;
  return m_state;
}

bool CVPatcherVersionManager::DownloadVersionInfo() {
  std::string text;
  switch (FetchServerRecord(m_run, &text)) {
    case FetchResult::kFetched:
      break;
    case FetchResult::kUnreadable:
      ShowManagerNote(kNoteRecordReadFailed);
      return false;
    case FetchResult::kFailed:
    case FetchResult::kSwitched:
      FailServerRecordDownload();
  }
  ParseVersionRecord(text, &m_serverVersion, &m_serverSecond);
  return true;
}

bool CVPatcherVersionManager::ModifyVersion() {
  if (!m_determined) return false;
  // The second number stays the local one; only the version follows the
  // server.
  if (!WriteLocalRecord(m_serverVersion, m_localSecond)) {
    ShowManagerNote(kNoteModifyFailed);
    return false;
  }
  return true;
}

bool CVPatcherVersionManager::RestoreVersion() {
  if (!WriteLocalRecord(0, 0)) {
    ShowManagerNote(kNoteRestoreFailed);
    return false;
  }
  return true;
}

bool CVPatcherVersionManager::LoadFileVersions(FileVersionMap* map, std::FILE* file) {
  const platform::UniqueFile owned(file);
  return ReadFileVersions(owned.get(), map, platform::DecodeAnsi);
}

FetchResult CVPatcherVersionManager::CollectChangedFiles(StagedFiles& staged,
                                                         std::vector<std::u16string>* changed) {
  FileVersionMap serverVersions;
  // A list beyond its limits is no list: refused like one that never
  // arrived. A copy that cannot be read back ends the update silently.
  const FetchResult fetched = FetchFileList(m_run, staged, &serverVersions);
  if (fetched == FetchResult::kFailed) ShowFailure(Outcome::kListDownload);
  if (fetched == FetchResult::kUnreadable) NoteFailure(Outcome::kListUnreadable);
  if (fetched != FetchResult::kFetched) return fetched;

  // Without a readable local list every listed file counts as changed.
  FileVersionMap localVersions;
  if (platform::UniqueFile localList = platform::OpenFile(kFileListName, "rb")) {
    LoadFileVersions(&localVersions, localList.release());
  }

  const std::vector<std::u16string> selected = SelectChangedFiles(serverVersions, localVersions);
  changed->insert(changed->end(), selected.begin(), selected.end());
  return FetchResult::kFetched;
}
