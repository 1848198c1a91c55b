#include "patcher/staged_files.h"

StagedFiles::~StagedFiles() {
  // Let go first: a copy still held would be deleted only once closed.
  m_held.clear();
  for (const std::u16string& name : m_names) platform::RemoveFile(name);
}

void StagedFiles::Add(const std::u16string& name) { m_names.insert(name); }

std::FILE* StagedFiles::Hold(const std::u16string& name, platform::StagingStart start) {
  Add(name);
  m_held.erase(name);
  platform::UniqueFile& held = m_held[name];
  held = platform::OpenStagingFile(name, start);
  return held.get();
}
