#pragma once

#include <set>
#include <string>

// The staging names one update downloads to, each copy to be put in place
// once all of it is had and checked. Whatever still lies at those names
// when the update ends is deleted with this object: a failed update leaves
// nothing for the next run to trust, a good one leaves nothing behind.
class StagedFiles {
 public:
  StagedFiles() = default;
  ~StagedFiles();
  StagedFiles(const StagedFiles&) = delete;
  StagedFiles& operator=(const StagedFiles&) = delete;

  void Add(const std::u16string& name);

 private:
  std::set<std::u16string> m_names;
};
