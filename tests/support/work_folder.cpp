#include "tests/support/work_folder.h"

#include <cstdio>
#include <iterator>

#include "platform/files.h"

namespace {
constexpr size_t kReadChunkBytes = 64 * 1024;
constexpr const char* kProxyVariables[] = {"http_proxy", "HTTP_PROXY", "https_proxy",
                                           "HTTPS_PROXY", "all_proxy", "ALL_PROXY"};
constexpr const char* kNoProxyVariables[] = {"no_proxy", "NO_PROXY"};
}  // namespace

void WorkFolderTest::WriteFile(const std::u16string& path, const std::string& bytes) {
  const platform::UniqueFile file = platform::OpenFile(path, "wb");
  ASSERT_TRUE(file) << "cannot create a test file";
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file.get()), bytes.size());
}

std::string WorkFolderTest::ReadFile(const std::u16string& path) {
  const platform::UniqueFile file = platform::OpenFile(path, "rb");
  std::string content;
  if (!file) return content;
  char chunk[kReadChunkBytes];
  size_t read = 0;
  while ((read = std::fread(chunk, 1, sizeof(chunk), file.get())) > 0) content.append(chunk, read);
  return content;
}

bool WorkFolderTest::Exists(const std::u16string& path) { return platform::PathExists(path); }

void ClearProxyEnvironment() { SetProxyEnvironment(nullptr); }

void SetProxyEnvironment(const char* proxy) {
  for (const char* name : kNoProxyVariables) SetEnvironmentValue(name, nullptr);
  for (const char* name : kProxyVariables) SetEnvironmentValue(name, proxy);
}
