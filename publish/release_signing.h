#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "publish/failure.h"
#include "publish/file_ops.h"
#include "publish/manifest.h"
#include "publish/signing.h"
#include "release/release_manifest.h"

// The signed release manifest of a tree, written beside its record: what a
// launcher built with the key takes. Its content is this build's (hashes
// and sizes taken from it, or while copying it), never what was read from
// the served tree, so a tree that someone else changed on the server is not
// signed as it stands.
namespace publish {

// The text of the signed manifest for `target` with its record and list;
// fails when the content of a file to sign is not known. Paths are in the
// players' code page.
bool ReleaseManifestText(const Manifest& target, CodePage codePage, std::string_view recordText,
                         std::string_view listText, std::string* text, Failure* failure);

// True when the tree already serves exactly `text`, signed by `key`, and
// launchers of the code page read it.
bool SignedManifestInPlace(const std::filesystem::path& tree, const std::string& text,
                           CodePage codePage, const SigningKey& key);

// release_manifest, then its signature, each by way of a temporary name.
bool WriteSignedManifest(const std::filesystem::path& tree, const std::string& text,
                         const SigningKey& key, const RenameFunction& rename, Failure* failure);

}  // namespace publish
