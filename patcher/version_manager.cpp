#include "patcher/version_manager.h"

#include "net/file_downloader.h"
#include "patcher/release_check.h"
#include "patcher/release_files.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "ui/message_box.h"
#include "ui/messages.h"

namespace {

// The box about the server's list is captioned with the list's name.
constexpr const char16_t* kListCaption = kFileListName;
constexpr char16_t kRestoreFailed[] = u"failed to restore patcher version.";
constexpr char16_t kModifyFailed[] = u"failed to modify patcher version.";
constexpr char16_t kRecordDownloadFailed[] = u"Failed to download patcher version information.";
constexpr char16_t kRecordReadFailed[] = u"Failed to read patcher version information.";

constexpr int kExitFailed = -1;

// The manager's own English notes have no owner window.
void ShowManagerMessage(const char16_t* text) {
  platform::ShowMessageBox(nullptr, text, kLauncherCaption, platform::kMbOk);
}

// Binary mode with the CR LF written out, so the record has the same bytes
// on every build. A write that does not reach the file counts as failed, up
// to its close, which writes the last buffered bytes.
bool WriteLocalRecord(int32_t first, int32_t second) {
  platform::UniqueFile file = platform::OpenFile(kVersionRecordName, "wb");
  if (!file) return false;
  const std::string text = FormatVersionRecord(first, second);
  if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) return false;
  return std::fclose(file.release()) == 0;
}

void ShowListDownloadFailed() {
  ShowCatalogueMessage(g_messages.MsgPatcherVersionDownloadFailed, kListCaption);
}

// With a release key the list must be the signed one and name exactly the
// manifest's files before anything is selected from it.
bool ListIsSigned(const platform::FileDigest& digest) {
  if (!MatchesRunManifest(kFileListName, digest)) return false;
  platform::UniqueFile file = platform::OpenFile(kFileListCopyName, "rb");
  if (!file) return false;
  FileVersionMap list;
  return ReadFileVersions(file.get(), &list) && ListMatchesManifest(list, *RunManifest());
}

}  // namespace

void FailServerRecordDownload() {
  ShowManagerMessage(kRecordDownloadFailed);
  platform::ExitProcessNow(kExitFailed);
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
  // A local record beyond the size limit is as unreadable as a missing one.
  const platform::UniqueFile local = platform::OpenFile(kVersionRecordName, "rb");
  if (!local || !ReadVersionRecord(local.get(), &m_localVersion, &m_localSecond)) {
    return VersionStateFailed;
  }
  // Any difference counts, a lower server version too: the server decides.
  const int32_t state = m_serverVersion != m_localVersion ? VersionStateChanged : VersionStateSame;
  // The signed manifest comes right after the record whenever it will be
  // needed: for an update, or for a patcher that is missing.
  if (ReleaseSigned() && (state == VersionStateChanged || !platform::PathExists(kPatcherFileName)) &&
      !FetchRunManifest()) {
    FailServerRecordDownload();
  }
  m_state = state;
  m_determined = true;
  return m_state;
}

bool CVPatcherVersionManager::DownloadVersionInfo() {
  platform::FileDigest record;
  if (!FileDownloader::Instance().DownloadFile(kVersionRecordName, kVersionRecordCopyName,
                                               ReleaseSigned() ? &record : nullptr)) {
    FailServerRecordDownload();
  }
  if (ReleaseSigned()) NoteServerRecord(record);
  platform::UniqueFile copy = platform::OpenFile(kVersionRecordCopyName, "rb");
  if (!copy) {
    ShowManagerMessage(kRecordReadFailed);
    return false;
  }
  const bool withinLimit = ReadVersionRecord(copy.get(), &m_serverVersion, &m_serverSecond);
  copy.reset();
  platform::RemoveFile(kVersionRecordCopyName);
  if (!withinLimit) FailServerRecordDownload();
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
  return ReadFileVersions(owned.get(), map);
}

bool CVPatcherVersionManager::CollectChangedFiles(std::vector<std::u16string>* changed) {
  platform::FileDigest digest;
  const bool downloaded = FileDownloader::Instance().DownloadFile(
      kFileListName, kFileListCopyName, ReleaseSigned() ? &digest : nullptr);
  if (!downloaded || (ReleaseSigned() && !ListIsSigned(digest))) {
    if (downloaded) platform::RemoveFile(kFileListCopyName);
    ShowListDownloadFailed();
    return false;
  }
  platform::UniqueFile serverList = platform::OpenFile(kFileListCopyName, "rb");
  if (!serverList) return false;
  FileVersionMap serverVersions;
  // A list beyond its limits is no list: refused like one that never arrived.
  if (!LoadFileVersions(&serverVersions, serverList.release())) {
    ShowListDownloadFailed();
    return false;
  }

  // Without a readable local list every listed file counts as changed.
  FileVersionMap localVersions;
  if (platform::UniqueFile localList = platform::OpenFile(kFileListName, "rb")) {
    LoadFileVersions(&localVersions, localList.release());
  }

  for (const auto& [name, serverNumber] : serverVersions) {
    const auto local = localVersions.find(name);
    if (local == localVersions.end() || local->second < serverNumber) changed->push_back(name);
  }
  return true;
}
