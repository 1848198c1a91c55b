#pragma once

#include <string>
#include <string_view>

// The names of a release's files, the same on the download server (below
// its base URL) and in the install folder. The launcher and the publishing
// tool both name them from here. Pure: no platform, nothing to link.

inline constexpr char16_t kLauncherFileName[] = u"VelkarisLauncher.exe";
// Where a signed launcher puts the launcher copy it replaces, which may be
// the program running; deleted at a later start.
inline constexpr char16_t kSetAsideLauncherName[] = u"VelkarisLauncher.exe.old";
inline constexpr char16_t kPatcherFileName[] = u"VelkarisPatcher32.vke";
// The patcher's version record and the list of accompanying files.
inline constexpr char16_t kVersionRecordName[] = u"patcher_version";
inline constexpr char16_t kFileListName[] = u"patcher_files_version";
// The only folder the launcher creates in a new install folder.
inline constexpr char16_t kLocalesFolderName[] = u"locales";

// The signed release manifest and its signature, served beside the record
// for launchers built with a release key, and kept under the same names in
// the install folder once the update they describe is in place.
inline constexpr char16_t kReleaseManifestName[] = u"release_manifest";
inline constexpr char16_t kReleaseSignatureName[] = u"release_manifest.sig";
// The server's record that the kept manifest vouches for, kept beside it:
// the local record keeps the player's own second number, so its bytes are
// not the signed ones.
inline constexpr char16_t kReleaseRecordName[] = u"release_record";
// What the launcher found of the installed files when it last checked them
// against the kept release: a file unchanged since is not read again.
inline constexpr char16_t kCheckedFilesName[] = u"release_checked";
// Which signed entry each staging copy of an update was begun for, so that
// one a killed run left half fetched is continued only for that entry.
inline constexpr char16_t kStagingNotesName[] = u"release_staging";

// Where the launcher downloads the server's record and list before it reads
// them; the list copy is renamed onto the list once the update is in place.
inline constexpr char16_t kVersionRecordCopyName[] = u"patcher_version_tmp";
inline constexpr char16_t kFileListCopyName[] = u"patcher_files_version_tmp";
inline constexpr char16_t kReleaseManifestCopyName[] = u"release_manifest_tmp";
inline constexpr char16_t kReleaseSignatureCopyName[] = u"release_manifest.sig_tmp";
inline constexpr char16_t kReleaseRecordCopyName[] = u"release_record_tmp";
// The support log of builds made with it, and the older lines it was
// turned into when it reached its size.
inline constexpr char16_t kSupportLogName[] = u"launcher.log";
inline constexpr char16_t kOlderSupportLogName[] = u"launcher.log.1";

// Appended to a file's name for the download a rename puts in place: the
// executables always, with a release key every listed file too.
inline constexpr char16_t kFetchSuffix[] = u".temp";

// Every name the launcher gives a file of its own in the install folder;
// with kFetchSuffix, the executables' downloads too. No listed file may
// take one.
inline constexpr const char16_t* kLauncherOwnNames[] = {
    kLauncherFileName,        kPatcherFileName,          kVersionRecordName,
    kFileListName,            kLocalesFolderName,        kReleaseManifestName,
    kReleaseSignatureName,    kReleaseRecordName,        kCheckedFilesName,
    kStagingNotesName,        kSetAsideLauncherName,     kSupportLogName,
    kOlderSupportLogName,
    kVersionRecordCopyName,   kFileListCopyName,         kReleaseManifestCopyName,
    kReleaseSignatureCopyName, kReleaseRecordCopyName};
inline constexpr const char16_t* kExecutableNames[] = {kLauncherFileName, kPatcherFileName};

// The launcher's or the patcher's own name, exactly as written.
inline bool IsExecutableName(std::u16string_view name) {
  for (const char16_t* executable : kExecutableNames) {
    if (name == executable) return true;
  }
  return false;
}

// Windows takes names that differ only in ASCII case for the same file;
// names compare folded to lower case.
template <typename Char>
std::basic_string<Char> FoldAscii(std::basic_string_view<Char> text) {
  std::basic_string<Char> folded(text);
  for (Char& c : folded) {
    if (c >= Char{'A'} && c <= Char{'Z'}) c = static_cast<Char>(c - Char{'A'} + Char{'a'});
  }
  return folded;
}
inline std::string FoldAscii(const std::string& text) {
  return FoldAscii(std::string_view(text));
}
inline std::u16string FoldAscii(const std::u16string& text) {
  return FoldAscii(std::u16string_view(text));
}
// `name` ends in `suffix`, the two compared folded.
inline bool EndsWithFolded(std::u16string_view name, std::u16string_view suffix) {
  return name.size() >= suffix.size() &&
         FoldAscii(name.substr(name.size() - suffix.size())) == FoldAscii(suffix);
}

// A name the launcher gives a file of its own in the install folder, an
// executable's download included, whatever its case by Windows' rule:
// upperCase(name, &upper) gives a name's upper case as the file system
// compares names (a ListNameFolder); a name it has none for counts as one.
template <typename UpperCase>
bool IsLauncherOwnName(std::u16string_view name, const UpperCase& upperCase) {
  std::u16string upper;
  if (!upperCase(name, &upper)) return true;
  const auto same = [&](std::u16string_view own) {
    std::u16string ownUpper;
    return upperCase(own, &ownUpper) && ownUpper == upper;
  };
  for (const char16_t* own : kLauncherOwnNames) {
    if (same(own)) return true;
  }
  for (const char16_t* executable : kExecutableNames) {
    if (same(std::u16string(executable) + kFetchSuffix)) return true;
  }
  return false;
}
