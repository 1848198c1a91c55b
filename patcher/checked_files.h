#pragma once

#include <map>
#include <string>

#include "platform/crypto.h"
#include "platform/files.h"

// What a signed launcher found of the installed files when it last checked
// them against the release: each file's stamp and SHA-256. A file whose
// stamp is still the same was not written since, and is not read again.
struct CheckedFile {
  platform::FileStamp stamp;
  platform::Sha256Digest sha256{};
  bool operator==(const CheckedFile&) const = default;
};
// By server path, as the release manifest names the files.
using CheckedFiles = std::map<std::string, CheckedFile>;

// The record in the install folder; empty when there is none or it does not
// read (every file is then checked again).
CheckedFiles ReadCheckedFiles();
bool WriteCheckedFiles(const CheckedFiles& files);
