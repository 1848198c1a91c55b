#include "patcher/patcher_launch.h"

#include "fs/file_services.h"
#include "log/support_log.h"
#include "patcher/folder_claim.h"
#include "patcher/release_install.h"
#include "patcher/version_check.h"
#include "platform/files.h"
#include "platform/system.h"
#include "release/release_files.h"
#include "ui/outcome.h"

const char16_t* g_launcherArgs = u"";

namespace {

constexpr char kUnknownError[] = "Unknown Error";
constexpr char16_t kUnknownErrorWide[] = u"Unknown Error";

std::u16string SystemErrorTextWide(uint32_t code) {
  try {
    return AnsiToWide(GetSystemErrorText(code));
  } catch (const TextConversionError&) {
    return kUnknownErrorWide;
  }
}

// The start's box: why the patcher did not start, in the system's words.
bool FailStart(uint32_t error) {
  // The code in the log, not the system's text, which is in the player's language.
  LogLine("patcher-process").Add("error", error).Write();
  ShowFailure(Outcome::kPatcherStart, u"\r\n errCode : " + SystemErrorTextWide(error));
  return false;
}

}  // namespace

bool ClaimInstallFolder(const std::u16string& installFolder, bool defaultFolder) {
  const uint32_t error = ClaimFolder(installFolder, defaultFolder);
  return error == platform::kErrorSuccess || FailStart(error);
}

bool ClaimRunRelease(ReleaseRun& run) {
  const uint32_t error = ClaimReleasePaths(run);
  return error == platform::kErrorSuccess || FailStart(error);
}

bool RunPatcher(ReleaseRun& run, std::u16string installFolder) {
  // A patcher that is missing, or (with a release key) is not the signed
  // one, is fetched again, once. The hold lasts until it has started.
  platform::HeldFile patcher;
  if (!HoldPatcher(run, &patcher)) {
    if (!FetchPatcherAgain(run)) return false;
    if (!HoldUpdatedPatcher(run, &patcher)) {
      ShowFailure(Outcome::kPatcherDownload);
      return false;
    }
  }

  std::u16string program;
  if (!PatcherProgramPath(patcher, installFolder, &program)) {
    return FailStart(platform::kErrorPathNotFound);
  }
  // The program part is quoted: an install folder with blanks would
  // otherwise start a program named after its first word, with
  // administrator rights, and shift the patcher's arguments.
  const std::u16string commandLine = u"\"" + program + u"\" " + g_launcherArgs;
  uint32_t error = 0;
  return platform::StartProcess(commandLine, &error) || FailStart(error);
}

std::string GetSystemErrorText(uint32_t code) {
  std::string text;
  if (!platform::FormatSystemMessage(code, &text)) return kUnknownError;
  return text;
}
