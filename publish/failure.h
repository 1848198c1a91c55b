#pragma once

#include <string>
#include <utility>

namespace publish {

// The tool's exit codes; each names what went wrong, so scripts can react.
enum class ExitCode : int {
  kOk = 0,
  kUsage = 2,             // bad command line
  kBuildUnreadable = 3,   // build folder missing, unreadable, incomplete or changing
  kUnsafeName = 4,        // a build file the launcher could not fetch under its name
  kTreeUnreadable = 5,    // release tree or manifest unreadable or inconsistent
  kWriteFailed = 6,       // writing the release tree failed
  kNoSpace = 7,           // not enough free space for the release tree
  kLockHeld = 8,          // another run holds the tree's lock
  kTreeDiffers = 9,       // --verify found the tree unlike its manifest
  kManifestDamaged = 10,  // the manifest fails its own integrity check
};

struct Failure {
  ExitCode code = ExitCode::kOk;
  std::string message;
};

// Records a failure and returns false, for `return Fail(...)` at the spot.
inline bool Fail(Failure* failure, ExitCode code, std::string message) {
  failure->code = code;
  failure->message = std::move(message);
  return false;
}

}  // namespace publish
