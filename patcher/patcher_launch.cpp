#include "patcher/patcher_launch.h"

#include "fs/file_services.h"
#include "log/support_log.h"
#include "patcher/release_fetch.h"
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

}  // namespace

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

  // The program part is quoted: an install folder with blanks would
  // otherwise start a program named after its first word, with
  // administrator rights, and shift the patcher's arguments.
  const std::u16string commandLine =
      u"\"" + installFolder + u"/" + kPatcherFileName + u"\" " + g_launcherArgs;
  uint32_t error = 0;
  if (platform::StartProcess(commandLine, &error)) return true;

  // The code, not the system's text, which is in the player's language.
  LogLine("patcher-process").Add("error", error).Write();
  ShowFailure(Outcome::kPatcherStart, u"\r\n errCode : " + SystemErrorTextWide(error));
  return false;
}

std::string GetSystemErrorText(uint32_t code) {
  std::string text;
  if (!platform::FormatSystemMessage(code, &text)) return kUnknownError;
  return text;
}
