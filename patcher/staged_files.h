#pragma once

#include <set>
#include <string>

// The copies one update downloaded under staging names, to be put in place
// once all of it is had and checked. Should the update fail, they are
// deleted with this object: nothing of a failed update is left for the
// next run to trust.
class StagedFiles {
 public:
  StagedFiles() = default;
  ~StagedFiles();
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  void Add(const std::u16string& name);
  // The update succeeded: its copies are in place, nothing is deleted.
  void Release();

 private:
  std::set<std::u16string> m_names;
};
