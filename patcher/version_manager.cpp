#include "patcher/version_manager.h"

#include "net/file_downloader.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "ui/messages.h"
#include "ui/splash.h"

namespace {

constexpr char16_t kLocalRecord[] = u"patcher_version";
constexpr char16_t kServerRecordCopy[] = u"patcher_version_tmp";
constexpr char16_t kLocalesFolder[] = u"locales";
constexpr char16_t kServerRecordPath[] = u"patcher_version";
constexpr char16_t kServerListPath[] = u"patcher_files_version";

constexpr char16_t kListCaption[] = u"patcher_files_version";
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
  platform::UniqueFile file = platform::OpenFile(kLocalRecord, "wb");
  if (!file) return false;
  const std::string text = FormatVersionRecord(first, second);
  if (std::fwrite(text.data(), 1, text.size(), file.get()) != text.size()) return false;
  return std::fclose(file.release()) == 0;
}

// The server's record did not arrive, or arrived beyond its size limit,
// which is no record either: the run ends at once.
[[noreturn]] void FailRecordDownload() {
  ShowManagerMessage(kRecordDownloadFailed);
  platform::ExitProcessNow(kExitFailed);
}

void ShowListDownloadFailed() {
  platform::ShowMessageBox(g_splashWindow, g_messages.MsgPatcherVersionDownloadFailed,
                           kListCaption, platform::kMbOk);
}

}  // namespace

bool CVPatcherVersionManager::InitVersionFiles() {
  if (platform::PathExists(kLocalRecord)) return true;
  if (!WriteLocalRecord(0, 0)) ShowManagerMessage(kRestoreFailed);
  if (!platform::OpenFile(kFileListName, "wb")) return false;
  // An existing folder is as good as a new one.
  platform::MakeDirectory(kLocalesFolder);
  return true;
}

int32_t CVPatcherVersionManager::GetVersionState() {
  if (m_determined) return m_state;
  if (!DownloadVersionInfo()) return VersionStateFailed;
  // A local record beyond the size limit is as unreadable as a missing one.
  const platform::UniqueFile local = platform::OpenFile(kLocalRecord, "rb");
  if (!local || !ReadVersionRecord(local.get(), &m_localVersion, &m_localSecond)) {
    return VersionStateFailed;
  }
  // Any difference counts, a lower server version too: the server decides.
  m_state = m_serverVersion != m_localVersion ? VersionStateChanged : VersionStateSame;
  m_determined = true;
  return m_state;
}

bool CVPatcherVersionManager::DownloadVersionInfo() {
  if (!FileDownloader::Instance().DownloadFile(kServerRecordPath, kServerRecordCopy)) {
    FailRecordDownload();
  }
  platform::UniqueFile copy = platform::OpenFile(kServerRecordCopy, "rb");
  if (!copy) {
    ShowManagerMessage(kRecordReadFailed);
    return false;
  }
  const bool withinLimit = ReadVersionRecord(copy.get(), &m_serverVersion, &m_serverSecond);
  copy.reset();
  platform::RemoveFile(kServerRecordCopy);
  if (!withinLimit) FailRecordDownload();
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
  if (!FileDownloader::Instance().DownloadFile(kServerListPath, kFileListCopyName)) {
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
