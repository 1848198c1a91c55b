#pragma once

// Every text the launcher shows to the player in its own words. The texts
// are constants of the program; the catalogue owns none of them and is
// complete before the entry point runs. Readers name a slot directly.
struct MessageCatalogue {
  constexpr MessageCatalogue();
  MessageCatalogue(const MessageCatalogue&) = delete;
  MessageCatalogue& operator=(const MessageCatalogue&) = delete;

  const char16_t* MsgUpdateRunningInGame;
  const char16_t* MsgGameAlreadyRunning;
  const char16_t* MsgCannotRunGame;
  const char16_t* MsgGameUpdateSucceeded;
  const char16_t* MsgReceivingFiles;
  const char16_t* MsgLauncherUpdatedRestart;
  const char16_t* MsgRestartLauncher;
  const char16_t* MsgRestoringFiles;
  const char16_t* MsgThoroughCheck;
  const char16_t* MsgUndefined;
  const char16_t* MsgConfirmFileRepair;
  const char16_t* MsgOtherTaskInProgress;
  const char16_t* MsgConfirmExit;
  const char16_t* MsgUpdateStarting;
  const char16_t* MsgLabelFileSize;
  const char16_t* MsgLabelRemoveUnneededFiles;
  const char16_t* MsgLabelTimeLeft;
  const char16_t* MsgUnitSeconds;
  const char16_t* MsgUnitMinutes;
  const char16_t* MsgUnitHours;
  const char16_t* MsgOverOneHour;
  const char16_t* MsgUnderOneMinute;
  const char16_t* MsgButtonExit;
  const char16_t* MsgButtonFileCheck;
  const char16_t* MsgButtonStartGame;
  const char16_t* MsgCloseBrowserWindows;
  const char16_t* MsgCheckingGameVersion;
  const char16_t* MsgCheckingServerVersion;
  const char16_t* MsgStepCreateDownloadFolder;
  const char16_t* MsgStepCollectClientData;
  const char16_t* MsgStepCalcPatchData;
  const char16_t* MsgStepPreparePatchList;
  const char16_t* MsgStepReceiveFiles;
  const char16_t* MsgStepDecompress;
  const char16_t* MsgStepWriteClientFiles;
  const char16_t* MsgStepCleanTempFiles;
  const char16_t* MsgStepCollectClientData2;
  const char16_t* MsgStepPrepareVersionInfo;
  const char16_t* MsgStepPrepareFileInfo;
  const char16_t* MsgStepGenerateFileInfo;
  const char16_t* MsgFileInfoProblem;
  const char16_t* MsgLauncherUpdateFailed;
  const char16_t* MsgCannotCreateTempFolder;
  const char16_t* MsgCheckingServerVersionData;
  const char16_t* MsgServerReadFailed;
  const char16_t* MsgVersionInfoParseFailed;
  const char16_t* MsgCannotReadLocalVersion;
  const char16_t* MsgUpdateComplete;
  const char16_t* MsgGameTooOldReinstall;
  const char16_t* MsgWrongGameVersion;
  const char16_t* MsgDeleteTempFilesFailed;
  const char16_t* MsgUpdating;
  const char16_t* MsgPatchDownloadFailed;
  const char16_t* MsgPatchApplyFailed;
  const char16_t* MsgVersionInfoNotUpdated;
  const char16_t* MsgPatchFileError;
  const char16_t* MsgUpdateVersionMismatch;
  const char16_t* MsgVerifyingUpdateIntegrity;
  const char16_t* MsgUpdatingFileFmt;
  const char16_t* MsgDownloadingData;
  const char16_t* MsgPatchFailedReboot;
  const char16_t* MsgRestoreStarting;
  const char16_t* MsgRestoreStep1DeleteExe;
  const char16_t* MsgRestoreStep2DownloadExe;
  const char16_t* MsgRestoreStep3CreateExe;
  const char16_t* MsgRestoreStep4DownloadPackInfo;
  const char16_t* MsgRestoreStep5VerifyPacks;
  const char16_t* MsgRestoreStep6ReplacePacks;
  const char16_t* MsgRestoreComplete;
  const char16_t* MsgRestoreDurationNotice;
  const char16_t* MsgRestoreCreateFilesFailed;
  const char16_t* MsgCompressedExeDownloadFailed;
  const char16_t* MsgExeDecompressFailed;
  const char16_t* MsgClientInfoDownloadFailed;
  const char16_t* MsgPackRestoreFailed;
  const char16_t* MsgCheckingPackIntegrity;
  const char16_t* MsgNewPackVerifyFailed;
  const char16_t* MsgClientIntegrityFailed;
  const char16_t* MsgDataDefectConfirmRepair;
  const char16_t* MsgPatchServerConnectFailed;
  const char16_t* MsgUpdateDownloadFailed;
  const char16_t* MsgUpdateVersionChangeFailed;
  const char16_t* MsgInstallVcRuntimeX86;
  const char16_t* MsgInstallVcRuntimeX64;
  const char16_t* MsgInstallPathSaveFailed;
  const char16_t* MsgDiskSpaceInsufficient;
  const char16_t* MsgDiskSpaceMayBeLow;
  const char16_t* MsgLauncherAlreadyRunning;
  const char16_t* MsgAlreadyUpdating;
  const char16_t* MsgVersionUpdateFailed;
  const char16_t* MsgCannotUpdateVersionInfo;
  const char16_t* MsgCannotRunPatchClient;
  const char16_t* MsgPatcherVersionDownloadFailed;
  const char16_t* MsgUpdateVersionDownloadFailed;
  const char16_t* MsgVerifyingIntegrity;
  const char16_t* MsgIntegrityFileCreateFailed;
  const char16_t* MsgChooseInstallFolder;
  const char16_t* MsgClientInstallComplete;
  const char16_t* MsgInstallStep1DownloadExe;
  const char16_t* MsgInstallStep2VerifyPacks;
  const char16_t* MsgInstallStep3InstallPacks;
  const char16_t* MsgClientInstallFailed;
  const char16_t* MsgConfirmInstallPathSuffix;
  const char16_t* MsgEnableMemoryExpansion;
  const char16_t* MsgMemoryExpansionDoneReboot;
  const char16_t* MsgConfirmDesktopShortcut;
  const char16_t* MsgDesktopShortcutFailed;
  const char16_t* MsgShortcutName;
  const char16_t* MsgShortcutDescription;
  const char16_t* MsgDownloadingClientExtras;
  const char16_t* MsgClientExtrasDownloadFailed;
};

extern const MessageCatalogue g_messages;

// A slot named as a member, where the slot itself matters and not only its
// text: MessageCatalogue::MsgDiskSpaceInsufficient.
using MessageSlot = const char16_t* const MessageCatalogue::*;

// The caption most of the launcher's message boxes carry.
inline constexpr char16_t kLauncherCaption[] = u"Launcher";

// The version manager's own notes, in English, outside the catalogue.
inline constexpr char16_t kNoteRecordDownloadFailed[] =
    u"Failed to download patcher version information.";
inline constexpr char16_t kNoteRecordReadFailed[] = u"Failed to read patcher version information.";
inline constexpr char16_t kNoteRestoreFailed[] = u"failed to restore patcher version.";
inline constexpr char16_t kNoteModifyFailed[] = u"failed to modify patcher version.";
