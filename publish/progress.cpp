#include "publish/progress.h"

#include <utility>

namespace publish {

namespace {

constexpr auto kInterval = std::chrono::seconds(1);
constexpr uint64_t kMebibyte = uint64_t{1} << 20;

}  // namespace

void Say(std::FILE* out, const std::string& text) {
  if (out == nullptr) return;
  std::fputs(text.c_str(), out);
  std::fflush(out);
}

Progress::Progress(std::FILE* out, std::string activity, size_t files, uint64_t bytes)
    : m_out(out),
      m_activity(std::move(activity)),
      m_totalFiles(files),
      m_totalBytes(bytes),
      m_nextLine(std::chrono::steady_clock::now() + kInterval) {}

void Progress::AddBytes(uint64_t bytes) {
  m_doneBytes += bytes;
  PrintWhenDue();
}

void Progress::FileDone() {
  ++m_doneFiles;
  PrintWhenDue();
}

void Progress::Finish() {
  if (m_printed) Print();
}

void Progress::PrintWhenDue() {
  if (m_out == nullptr) return;
  const auto now = std::chrono::steady_clock::now();
  if (now < m_nextLine) return;
  m_nextLine = now + kInterval;
  Print();
}

void Progress::Print() {
  std::fprintf(m_out, "velkaris-publish: %s: %zu/%zu files, %llu/%llu MiB\n", m_activity.c_str(),
               m_doneFiles, m_totalFiles, static_cast<unsigned long long>(m_doneBytes / kMebibyte),
               static_cast<unsigned long long>(m_totalBytes / kMebibyte));
  std::fflush(m_out);
  m_printed = true;
}

}  // namespace publish
