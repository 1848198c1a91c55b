#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "net/file_downloader.h"
#include "patcher/patcher_launch.h"
#include "patcher/release_run.h"
#include "platform/files.h"
#include "platform/sim/sim_machine.h"
#include "tests/support/download_server.h"
#include "tests/support/sim_test.h"
#include "tests/support/work_folder.h"
#include "ui/splash.h"

using Paths = std::vector<std::string>;

// A message box as the player saw it.
struct Box {
  std::u16string caption;
  std::u16string text;
  platform::WindowHandle owner = nullptr;
  bool operator==(const Box&) const = default;
  friend void PrintTo(const Box& box, std::ostream* out) {
    *out << "{" << Utf8(box.caption) << ", " << Utf8(box.text) << ", " << box.owner << "}";
  }
};

// What the tests hand out as the splash window.
inline platform::WindowHandle Splash() {
  static int splash;  // only its address is used
  return &splash;
}

// Catalogue messages are owned by the splash window.
inline Box SplashBox(const char16_t* caption, const std::u16string& text) {
  return {caption, text, Splash()};
}

// The patcher area against the simulated machine, with the install folder
// as the current directory, and the test server as the download server:
// nothing is published unless a test serves it.
class PatcherTest : public SimTest {
 protected:
  static constexpr char16_t kInstall[] = u"C:\\Games\\Velkaris";

  void SetUp() override {
    SimTest::SetUp();
    ClearProxyEnvironment();
    ASSERT_TRUE(platform::SetWorkingDirectory(kInstall));
    run = ReleaseRun{};
    g_splashWindow = Splash();
    g_launcherArgs = u"";
    DownloadServer().SetRequestObserver(nullptr);
    DownloadServer().ClearRoutes();
    DownloadServer().ClearRequests();
    DownloadServer().SetDocumentRoot({});
  }
  void TearDown() override {
    FileDownloader::Instance().SetStallSeconds(FileDownloader::kDefaultStallSeconds);
    DownloadServer().SetRequestObserver(nullptr);
    g_splashWindow = nullptr;
    SimTest::TearDown();
  }
  // A fresh machine and server within one test, for table-driven cases.
  void Restart() {
    TearDown();
    SetUp();
  }

  static void Serve(const std::string& serverPath, const std::string& body) {
    DownloadServer().SetRoute(kUploadPrefix + serverPath, testhttp::Response::Ok(body));
  }
  static void Serve(const std::string& serverPath, const testhttp::Response& response) {
    DownloadServer().SetRoute(kUploadPrefix + serverPath, response);
  }
  static void Unpublish(const std::string& serverPath) {
    DownloadServer().RemoveRoute(kUploadPrefix + serverPath);
  }
  // Server paths requested so far, in order.
  static Paths Requests() {
    Paths paths;
    for (const auto& request : DownloadServer().Requests()) {
      paths.push_back(request.target.substr(request.target.rfind(kUploadPrefix, 0) == 0
                                                ? sizeof(kUploadPrefix) - 1
                                                : 0));
    }
    return paths;
  }

  // Files of the install folder, by name relative to it.
  static void Write(const std::u16string& name, const std::string& bytes) {
    machine().WriteFile(Local(name), bytes);
  }
  static std::string Read(const std::u16string& name) { return machine().ReadFile(Local(name)); }
  static bool Exists(const std::u16string& name) { return machine().Exists(Local(name)); }
  static std::filesystem::path HostPath(const std::u16string& name) {
    return machine().HostPath(Local(name));
  }
  // A name that can be neither opened nor created: a link into a missing
  // folder (the tests run with rights that file modes do not stop).
  static void MakeUnopenable(const std::filesystem::path& hostPath) {
    std::filesystem::remove(hostPath);
    std::filesystem::create_symlink("missing-folder/target", hostPath);
  }

  // What the run under test has fetched and checked.
  ReleaseRun run;

  static std::vector<Box> Boxes() {
    std::vector<Box> boxes;
    for (const auto& record : machine().transcript) {
      boxes.push_back({record.caption, record.text, record.owner});
    }
    return boxes;
  }
  // The Windows path of a file of the install folder.
  static std::u16string Local(const std::u16string& name) {
    return std::u16string(kInstall) + u"\\" + name;
  }

 private:
  static constexpr char kUploadPrefix[] = "/UploadData/";
};
