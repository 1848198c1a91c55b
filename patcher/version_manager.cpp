#include "patcher/version_manager.h"

#include <array>

#include "fs/file_services.h"
#include "patcher/release_fetch.h"
#include "patcher/release_record.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "release/release_files.h"
#include "ui/message_box.h"
#include "ui/messages.h"

namespace {

// The box about the server's list is captioned with the list's name.
constexpr const char16_t* kListCaption = kFileListName;
constexpr char16_t kRestoreFailed[] = u"failed to restore patcher version.";
constexpr char16_t kModifyFailed[] = u"failed to modify patcher version.";
constexpr char16_t kRecordDownloadFailed[] = u"Failed to download patcher version information.";
constexpr char16_t kRecordReadFailed[] = u"Failed to read patcher version information.";

// The manager's own English notes have no owner window.
void ShowManagerMessage(const char16_t* text) {
  platform::ShowMessageBox(nullptr, text, kLauncherCaption, platform::kMbOk);
}

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

void ShowListDownloadFailed() {
  ShowCatalogueMessage(g_messages.MsgPatcherVersionDownloadFailed, kListCaption);
}

}  // namespace

void FailServerRecordDownload() {
  ShowManagerMessage(kRecordDownloadFailed);
  platform::ExitProcessNow(platform::kExitFailed);
}

bool CVPatcherVersionManager::InitVersionFiles() {
  if (platform::PathExists(kVersionRecordName)) return true;
  if (!WriteLocalRecord(0, 0)) ShowManagerMessage(kRestoreFailed);
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
      ShowManagerMessage(kRecordReadFailed);
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
    ShowManagerMessage(kModifyFailed);
    return false;
  }
  return true;
}

bool CVPatcherVersionManager::RestoreVersion() {
  if (!WriteLocalRecord(0, 0)) {
    ShowManagerMessage(kRestoreFailed);
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
  if (fetched == FetchResult::kFailed) ShowListDownloadFailed();
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
