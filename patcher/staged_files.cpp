#include "patcher/staged_files.h"

#include "platform/files.h"

StagedFiles::~StagedFiles() {
  for (const std::u16string& name : m_names) platform::RemoveFile(name);
}

void StagedFiles::Add(const std::u16string& name) { m_names.insert(name); }
