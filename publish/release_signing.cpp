#include "publish/release_signing.h"

#include <algorithm>

#include "publish/list_names.h"
#include "release/release_files.h"

namespace publish {

namespace {

namespace fs = std::filesystem;

constexpr unsigned char kLastAscii = 0x7F;

bool AddEntry(std::u16string_view name, const ManifestFile& file, CodePage codePage,
              ReleaseManifest* manifest, Failure* failure) {
  std::string path;
  if (!ServerPathOfListName(name, &path, EncoderOf(codePage))) {
    return Fail(failure, ExitCode::kUnsafeName,
                "cannot sign: " + Printable(name) + " has no form in code page " +
                    std::to_string(codePage));
  }
  if (!file.hash || !file.stamp) {
    return Fail(failure, ExitCode::kTreeUnreadable,
                "cannot sign: the content of " + Printable(name) +
                    " is not known; run again with --rebuild-manifest");
  }
  manifest->entries[path] = platform::FileDigest{file.stamp->size, *file.hash};
  return true;
}

}  // namespace

bool ReleaseManifestText(const Manifest& target, CodePage codePage, std::string_view recordText,
                         std::string_view listText, std::string* text, Failure* failure) {
  ReleaseManifest manifest;
  manifest.mirrors = target.mirrors;
  std::string recordPath;
  std::string listPath;
  ServerPathOfListName(kVersionRecordName, &recordPath);
  ServerPathOfListName(kFileListName, &listPath);
  manifest.entries[recordPath] = DigestOfBytes(recordText);
  manifest.entries[listPath] = DigestOfBytes(listText);
  // A signed build always holds the launcher (the publisher refuses one
  // without), so its entry holds the build's hash, never one read from the
  // served tree.
  if (!AddEntry(kPatcherFileName, target.patcher.value_or(ManifestFile{}), codePage, &manifest,
                failure) ||
      !AddEntry(kLauncherFileName, target.launcher.value_or(ManifestFile{}), codePage, &manifest,
                failure)) {
    return false;
  }
  for (const auto& [name, file] : target.files) {
    if (file.listed && !AddEntry(name, file, codePage, &manifest, failure)) return false;
  }
  // Paths in ASCII read the same in every code page: such a release keeps
  // the form that launchers from before the code page line read.
  const auto beyondAscii = [](const auto& entry) {
    return std::any_of(entry.first.begin(), entry.first.end(),
                       [](char byte) { return static_cast<unsigned char>(byte) > kLastAscii; });
  };
  if (std::any_of(manifest.entries.begin(), manifest.entries.end(), beyondAscii)) {
    manifest.codePage = codePage;
  }
  *text = FormatReleaseManifest(manifest);
  if (text->size() > kMaxReleaseManifestBytes) {
    return Fail(failure, ExitCode::kUnsafeName,
                "cannot sign: the release manifest would take " + std::to_string(text->size()) +
                    " bytes, more than the " + std::to_string(kMaxReleaseManifestBytes) +
                    " a launcher reads; list fewer files");
  }
  // The names were checked one by one; what is signed must read back whole
  // as launchers of the code page read it, or none of them would start.
  ReleaseManifest readBack;
  if (ParseReleaseManifest(*text, ReadingOf(codePage), &readBack) != ReleaseManifestRead::kRead) {
    return Fail(failure, ExitCode::kUnsafeName,
                "cannot sign: launchers on Windows of code page " + std::to_string(codePage) +
                    " would refuse this release manifest");
  }
  return true;
}

bool SignedManifestInPlace(const fs::path& tree, const std::string& text, CodePage codePage,
                           const SigningKey& key) {
  std::string served;
  std::string signature;
  Failure ignored;
  platform::P256PublicKey publicKey;
  ReleaseManifest manifest;
  return ReadSmallFile(tree / kReleaseManifestName, kMaxReleaseManifestBytes, &served, &ignored) ==
             SmallFile::kRead &&
         served == text &&
         ReadSmallFile(tree / kReleaseSignatureName, platform::kP256SignatureBytes, &signature,
                       &ignored) == SmallFile::kRead &&
         key.PublicKey(&publicKey) &&
         ReadSignedManifest(served, signature, publicKey, ReadingOf(codePage), &manifest) ==
             ReleaseManifestRead::kRead;
}

bool WriteSignedManifest(const fs::path& tree, const std::string& text, const SigningKey& key,
                         const RenameFunction& rename, Failure* failure) {
  platform::P256Signature signature{};
  if (!key.Sign(text, &signature)) {
    return Fail(failure, ExitCode::kWriteFailed, "cannot sign the release manifest");
  }
  const std::string_view bytes(reinterpret_cast<const char*>(signature.data()), signature.size());
  return WriteIntoPlace(tree / kReleaseManifestName, text, rename, failure) &&
         WriteIntoPlace(tree / kReleaseSignatureName, bytes, rename, failure);
}

}  // namespace publish
