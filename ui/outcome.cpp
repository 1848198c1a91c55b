#include "ui/outcome.h"

#include <iterator>

#include "log/support_log.h"
#include "platform/system.h"
#include "release/release_files.h"
#include "ui/message_box.h"
#include "ui/messages.h"

namespace {

constexpr char16_t kWarningCaption[] = u"warning";
constexpr char16_t kLauncherCopyCaption[] = u"Launcher-ex";
constexpr char16_t kListEntryCaption[] = u"Launcher-ad";
// The box about the server's list is captioned with the list's name.
constexpr const char16_t* kListCaption = kFileListName;
constexpr char16_t kRestoreStep[] = u" - restore";
constexpr char16_t kRefreshStep[] = u" - refresh";
constexpr char16_t kModifyStep[] = u" - modify";
constexpr char kNoBox[] = "none";
// A failed run that noted no failure: a way of ending the table lacks.
constexpr char kUnknownOutcome[] = "unknown";

// An outcome, its code, and the box that tells the player: a catalogue slot
// (owned by the splash), one of the manager's notes (no owner), or none.
struct Ending {
  Outcome outcome;
  const char* code;
  MessageSlot slot = nullptr;
  const char* slotName = nullptr;
  const char16_t* note = nullptr;
  const char16_t* caption = kLauncherCaption;
  const char16_t* suffix = u"";
};

constexpr Ending Quiet(Outcome outcome, const char* code) { return {outcome, code}; }
constexpr Ending Note(Outcome outcome, const char* code, const char16_t* note) {
  return {outcome, code, nullptr, nullptr, note};
}
constexpr Ending Box(Outcome outcome, const char* code, MessageSlot slot, const char* slotName,
                     const char16_t* caption = kLauncherCaption, const char16_t* suffix = u"") {
  return {outcome, code, slot, slotName, nullptr, caption, suffix};
}
// A slot and its identifier as the log writes it, from one name.
#define CATALOGUE_SLOT(name) &MessageCatalogue::name, #name

// In the order of Outcome.
constexpr Ending kEndings[] = {
    Quiet(Outcome::kPatcherStarted, "patcher-started"),
    Box(Outcome::kModuleFolder, "module-folder", CATALOGUE_SLOT(MsgInstallPathSaveFailed)),
    Box(Outcome::kLauncherDriveSpace, "launcher-drive-space",
        CATALOGUE_SLOT(MsgDiskSpaceInsufficient)),
    Box(Outcome::kLauncherRunning, "launcher-running", CATALOGUE_SLOT(MsgLauncherAlreadyRunning),
        kWarningCaption),
    Box(Outcome::kPatcherRunning, "patcher-running", CATALOGUE_SLOT(MsgAlreadyUpdating),
        kWarningCaption),
    Box(Outcome::kGameRunning, "game-running", CATALOGUE_SLOT(MsgGameAlreadyRunning),
        kWarningCaption),
    Quiet(Outcome::kFolderCancelled, "folder-cancelled"),
    Box(Outcome::kInstallDriveSpace, "install-drive-space",
        CATALOGUE_SLOT(MsgDiskSpaceInsufficient)),
    // The question is asked by the space check; No ends the run.
    Box(Outcome::kInstallDriveDeclined, "install-drive-declined",
        CATALOGUE_SLOT(MsgDiskSpaceMayBeLow)),
    Box(Outcome::kInstallFolder, "install-folder", CATALOGUE_SLOT(MsgInstallPathSaveFailed)),
    Box(Outcome::kLauncherCopy, "launcher-copy", CATALOGUE_SLOT(MsgUpdateDownloadFailed),
        kLauncherCopyCaption),
    Box(Outcome::kRename, "rename", CATALOGUE_SLOT(MsgUpdateVersionChangeFailed)),
    Quiet(Outcome::kVersionFiles, "version-files"),
    Note(Outcome::kRecordDownload, "record-download", kNoteRecordDownloadFailed),
    Box(Outcome::kVersionRestore, "version-restore", CATALOGUE_SLOT(MsgVersionUpdateFailed),
        kLauncherCaption, kRestoreStep),
    Box(Outcome::kVersionRefresh, "version-refresh", CATALOGUE_SLOT(MsgVersionUpdateFailed),
        kLauncherCaption, kRefreshStep),
    Box(Outcome::kVersionModify, "version-modify", CATALOGUE_SLOT(MsgVersionUpdateFailed),
        kLauncherCaption, kModifyStep),
    Box(Outcome::kListDownload, "list-download", CATALOGUE_SLOT(MsgPatcherVersionDownloadFailed),
        kListCaption),
    Quiet(Outcome::kListUnreadable, "list-unreadable"),
    Box(Outcome::kPatcherDownload, "patcher-download", CATALOGUE_SLOT(MsgUpdateDownloadFailed)),
    Box(Outcome::kListedFile, "listed-file", CATALOGUE_SLOT(MsgUpdateDownloadFailed),
        kListEntryCaption),
    Box(Outcome::kPatcherStart, "patcher-start", CATALOGUE_SLOT(MsgUpdateVersionDownloadFailed)),
    Quiet(Outcome::kReleaseRefused, "release-refused"),
    // Refused before any wait; the record's note follows.
    Quiet(Outcome::kReleaseCodePage, "release-code-page"),
    // A signed launcher makes no drive root or folder of the system's or the
    // user's own its install folder.
    Box(Outcome::kInstallFolderRefused, "install-folder-refused",
        CATALOGUE_SLOT(MsgInstallPathSaveFailed)),
};
#undef CATALOGUE_SLOT

constexpr bool InOutcomeOrder() {
  for (int i = 0; i < kOutcomeCount; ++i) {
    if (kEndings[i].outcome != static_cast<Outcome>(i)) return false;
  }
  return true;
}
static_assert(std::size(kEndings) == kOutcomeCount && InOutcomeOrder());

const Ending& EndingOf(Outcome outcome) { return kEndings[static_cast<int>(outcome)]; }

bool HasBox(const Ending& ending) { return ending.slot != nullptr || ending.note != nullptr; }

// The run's end as noted so far: its first failure, and the ending whose box
// the player saw for it (a refused release has none of its own). One run at
// a time, on the main thread.
struct RunEnd {
  const Ending* failure = nullptr;
  const Ending* box = nullptr;
};
RunEnd g_runEnd;

void Remember(const Ending& ending) {
  if (g_runEnd.failure == nullptr) g_runEnd.failure = &ending;
  if (g_runEnd.box == nullptr && HasBox(ending)) g_runEnd.box = &ending;
}

// The box's slot identifier or note, and its caption.
LogLine& AddBox(LogLine& line, const Ending* ending) {
  if (ending == nullptr) return line.Add("box", kNoBox);
  if (ending->slot != nullptr) line.Add("box", ending->slotName);
  else line.Add("box", ending->note);
  return line.Add("caption", ending->caption);
}

}  // namespace

const char* OutcomeCode(Outcome outcome) { return EndingOf(outcome).code; }

void ShowFailure(Outcome outcome, const std::u16string& detail) {
  const Ending& ending = EndingOf(outcome);
  Remember(ending);
  // Written before the box, which may stay up until support is called.
  LogLine line("box");
  AddBox(line, &ending).Add("failure", ending.code).Write();
  if (ending.slot != nullptr) {
    ShowCatalogueMessage(g_messages.*ending.slot + std::u16string(ending.suffix) + detail,
                         ending.caption);
  } else if (ending.note != nullptr) {
    platform::ShowMessageBox(nullptr, ending.note, ending.caption, platform::kMbOk);
  }
}

void NoteFailure(Outcome outcome) { Remember(EndingOf(outcome)); }

void EndRunLog(int exitCode) {
  const bool failed = exitCode == platform::kExitFailed;
  const Ending* outcome = failed ? g_runEnd.failure : &EndingOf(Outcome::kPatcherStarted);
  LogLine closing("end");
  closing.Add("outcome", outcome != nullptr ? outcome->code : kUnknownOutcome);
  AddBox(closing, failed ? g_runEnd.box : nullptr).Add("exit", exitCode);
  EndSupportLog(closing);
  g_runEnd = RunEnd();
}
