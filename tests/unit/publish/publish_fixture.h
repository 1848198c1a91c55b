#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "publish/file_io.h"
#include "publish/list_names.h"
#include "publish/publisher.h"
#include "publish/verify.h"
#include "release/release_manifest.h"
#include "release/version_files.h"

namespace fs = std::filesystem;
using Names = std::vector<std::u16string>;

inline std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The tree's list as a launcher on a Traditional Chinese Windows reads it.
inline FileVersionMap ListAsPlayersRead(const fs::path& tree) {
  FileVersionMap bytes;
  ParseFileVersions(ReadBytes(tree / kFileListName), &bytes);
  FileVersionMap names;
  std::vector<std::string> undecodable;
  publish::DecodeList(bytes, publish::kDefaultCodePage, &names, &undecodable);
  return names;
}

// Where a launcher requests a list name: its server path below the tree.
inline fs::path RequestedPath(const fs::path& tree, const std::u16string& name) {
  std::string path;
  EXPECT_TRUE(ServerPathOfListName(name, &path, publish::EncoderOf(publish::kDefaultCodePage)));
  return tree / path;
}

// A player's install folder as the launcher keeps it, updated by the
// launcher's own rule for which listed files to fetch.
struct Client {
  int32_t first = 0;
  int32_t second = 0;
  FileVersionMap list;
  std::map<std::u16string, std::string> files;  // by list name, the patcher too
  Names fetched;                                // by the last update

  // One version check against the tree, as the launcher runs it.
  void Update(const fs::path& tree) {
    fetched.clear();
    int32_t serverFirst = 0;
    int32_t serverSecond = 0;
    ParseVersionRecord(ReadBytes(tree / kVersionRecordName), &serverFirst, &serverSecond);
    if (serverFirst == first) return;
    const FileVersionMap server = ListAsPlayersRead(tree);
    for (const std::u16string& name : SelectChangedFiles(server, list)) {
      fetched.push_back(name);
      files[name] = ReadBytes(RequestedPath(tree, name));
    }
    files[kPatcherFileName] = ReadBytes(tree / kPatcherFileName);
    list = server;
    first = serverFirst;  // the local second number stays
  }
};

// Counts the renames of a publish and fails the one numbered `failAt`, as
// if the run had been stopped just before it.
inline publish::RenameFunction InterruptAt(int* count, int failAt) {
  return [count, failAt](const fs::path& from, const fs::path& to) {
    if ((*count)++ == failAt) return std::make_error_code(std::errc::interrupted);
    return publish::RenameFile(from, to);
  };
}

// A build folder and a release tree in a fresh temporary folder.
class PublishTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    m_root = fs::path(::testing::TempDir()) /
             ("publish-" + std::string(test->name()) + "-" +
              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(m_root / "build");
    SetBuild(kPatcherFileName, "patcher 1");
  }
  void TearDown() override { fs::remove_all(m_root); }

  fs::path Build() const { return m_root / "build"; }
  fs::path Tree() const { return m_root / "UploadData"; }
  fs::path Manifest() const { return m_root / "UploadData.publish-manifest"; }

  // Build names are UTF-8; the tree's are in the players' code page.
  fs::path BuildPath(const std::u16string& name) const {
    return publish::PathBelow(Build(), name, platform::kUtf8CodePage);
  }
  fs::path TreePath(const std::u16string& name) const {
    return publish::PathBelow(Tree(), name, publish::kDefaultCodePage);
  }
  void SetBuild(const std::u16string& name, const std::string& bytes) {
    WriteBytes(BuildPath(name), bytes);
  }
  void RemoveBuild(const std::u16string& name) { fs::remove(BuildPath(name)); }
  std::string TreeFile(const std::u16string& name) const { return ReadBytes(TreePath(name)); }

  publish::PublishOptions Options() const {
    publish::PublishOptions options;
    options.buildFolder = Build();
    options.releaseTree = Tree();
    options.sleep = [](uint32_t) { ADD_FAILURE() << "a real wait"; };
    return options;
  }
  publish::ExitCode Run(publish::PublishOptions options) {
    publish::Failure failure;
    // As the tool runs it.
    const bool ok =
        options.verify ? publish::Verify(options, &failure) : publish::Publish(options, &failure);
    EXPECT_EQ(ok, failure.code == publish::ExitCode::kOk) << failure.message;
    m_lastMessage = failure.message;
    return failure.code;
  }
  publish::ExitCode Run() { return Run(Options()); }
  // Runs with what it prints going to *printed.
  publish::ExitCode Run(publish::PublishOptions options, std::string* printed) {
    options.out = std::tmpfile();
    EXPECT_NE(options.out, nullptr);
    const publish::ExitCode code = Run(options);
    std::rewind(options.out);
    printed->clear();
    for (int c = std::fgetc(options.out); c != EOF; c = std::fgetc(options.out))
      printed->push_back(static_cast<char>(c));
    std::fclose(options.out);
    return code;
  }

  // Every file below the test folder but the build: the tree and the
  // manifest, by relative path, with content and time of last change.
  struct Entry {
    std::string bytes;
    fs::file_time_type time;
    bool operator==(const Entry&) const = default;
  };
  std::map<std::string, Entry> Snapshot() const {
    std::map<std::string, Entry> snapshot;
    for (const auto& entry : fs::recursive_directory_iterator(m_root)) {
      const fs::path relative = entry.path().lexically_relative(m_root);
      // The lock file holds nothing; it stays once made.
      if (*relative.begin() == "build" || !entry.is_regular_file() ||
          entry.path().extension() == ".lock") {
        continue;
      }
      snapshot[relative.generic_string()] = {ReadBytes(entry.path()), entry.last_write_time()};
    }
    return snapshot;
  }
  FileVersionMap TreeList() const {
    FileVersionMap list;
    ParseFileVersions(ReadBytes(Tree() / kFileListName), &list);
    return list;
  }
  std::string TreeRecord() const { return ReadBytes(Tree() / kVersionRecordName); }
  const std::string& LastMessage() const { return m_lastMessage; }

  // The tree and the manifest put aside, and put back.
  void SaveState(const fs::path& stash) const {
    CopyKeepingTimes(Tree(), stash / "tree");
    CopyKeepingTimes(Manifest(), stash / "manifest");
  }
  void RestoreState(const fs::path& stash) const {
    fs::remove_all(Tree());
    CopyKeepingTimes(stash / "tree", Tree());
    CopyKeepingTimes(stash / "manifest", Manifest());
  }

 private:
  // The tool trusts a tree copy that keeps its size and time, so a restored
  // tree must keep them too.
  static void CopyKeepingTimes(const fs::path& from, const fs::path& to) {
    if (fs::is_directory(from)) {
      fs::create_directories(to);
      for (const auto& entry : fs::directory_iterator(from)) {
        CopyKeepingTimes(entry.path(), to / entry.path().filename());
      }
      return;
    }
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::last_write_time(to, fs::last_write_time(from));
  }

  fs::path m_root;
  std::string m_lastMessage;
};
