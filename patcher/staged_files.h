#pragma once

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "platform/files.h"

// The staging names one update downloads to, each copy to be put in place
// once all of it is had and checked. With a key each copy is held open for
// writing, shared with readers only, from its first byte until the update
// ends, so that nothing else can change it between its check and its rename
// (which works while it is held). Whatever still lies at those names when
// the update ends is deleted with this object: a failed update leaves
// nothing for the next run to trust, a good one leaves nothing behind.
class StagedFiles {
 public:
  StagedFiles() = default;
  ~StagedFiles();
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  void Add(const std::u16string& name);
  // The copy at `name`, held from now on: empty, or with the bytes it has
  // when kept. Null when it cannot be held so.
  std::FILE* Hold(const std::u16string& name, platform::StagingStart start);

 private:
  std::set<std::u16string> m_names;
  std::map<std::u16string, platform::UniqueFile> m_held;
};
