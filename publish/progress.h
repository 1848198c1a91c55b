#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace publish {

// Text for the operator, at once; `out` null: silent.
void Say(std::FILE* out, const std::string& text);

// A line now and then for a step over many files, so an operator watching a
// large tree sees it move; a step that ends within a second prints nothing.
class Progress {
 public:
  // `out` null: silent.
  Progress(std::FILE* out, std::string activity, size_t files, uint64_t bytes);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void AddBytes(uint64_t bytes);
  void FileDone();
  // The closing line, when any line was printed.
  void Finish();

 private:
  void Print();
  void PrintWhenDue();

  std::FILE* m_out;
  std::string m_activity;
  size_t m_totalFiles;
  uint64_t m_totalBytes;
  size_t m_doneFiles = 0;
  uint64_t m_doneBytes = 0;
  bool m_printed = false;
  std::chrono::steady_clock::time_point m_nextLine;
};

}  // namespace publish
