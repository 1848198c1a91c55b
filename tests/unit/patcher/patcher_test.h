#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "patcher/patcher_launch.h"
#include "platform/files.h"
#include "platform/sim/sim_machine.h"
#include "tests/support/download_server.h"
#include "tests/support/sim_test.h"
#include "tests/support/work_folder.h"
#include "ui/splash.h"

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
    g_splashWindow = &m_splash;
    g_launcherArgs = u"";
    DownloadServer().SetRequestObserver(nullptr);
    DownloadServer().ClearRoutes();
    DownloadServer().ClearRequests();
    DownloadServer().SetDocumentRoot({});
  }
  void TearDown() override {
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
  // Server paths requested so far, in order.
  static std::vector<std::string> Requests() {
    std::vector<std::string> paths;
    for (const auto& request : DownloadServer().Requests()) {
      const bool below = request.target.rfind(kUploadPrefix, 0) == 0;
      paths.push_back(below ? request.target.substr(kUploadPrefixLength) : request.target);
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
    std::filesystem::create_symlink("missing-folder/target", hostPath);
  }

  // The message boxes shown, as (caption, text).
  static std::vector<std::pair<std::u16string, std::u16string>> Boxes() {
    std::vector<std::pair<std::u16string, std::u16string>> boxes;
    for (const auto& record : machine().transcript) boxes.emplace_back(record.caption, record.text);
    return boxes;
  }
  platform::WindowHandle Splash() { return &m_splash; }

 private:
  static constexpr char kUploadPrefix[] = "/UploadData/";
  static constexpr size_t kUploadPrefixLength = sizeof(kUploadPrefix) - 1;

  static std::u16string Local(const std::u16string& name) {
    return std::u16string(kInstall) + u"\\" + name;
  }

  int m_splash = 0;  // its address stands for the splash window
};

