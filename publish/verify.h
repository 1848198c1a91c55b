#pragma once

#include "publish/failure.h"
#include "publish/publisher.h"

// --verify: the tree against the manifest, writing nothing.
namespace publish {

// Hashes every published file of the tree and compares it, the record and
// the list with the manifest; prints every difference (kTreeDiffers).
// Reads options.releaseTree, manifest, codePage, out and progress.
bool Verify(const PublishOptions& options, Failure* failure);

}  // namespace publish
