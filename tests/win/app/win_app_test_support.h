#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "tests/support/win_test_helpers.h"

#include <commctrl.h>

// Helpers of the Windows tests of the launcher flow: real folders, real
// registry, real processes.

inline std::wstring CurrentDirectoryW() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, buffer);
  return buffer;
}

// A fresh folder below the real temporary folder, removed with everything
// in it on destruction. The current directory is restored as well, since
// the code under test moves it.
class TempFolder {
 public:
  TempFolder() : m_previousDirectory(CurrentDirectoryW()) {
    wchar_t temp[MAX_PATH] = {};
    wchar_t unique[MAX_PATH] = {};
    if (::GetTempPathW(MAX_PATH, temp) == 0 || ::GetTempFileNameW(temp, L"vk", 0, unique) == 0) {
      ADD_FAILURE() << "no temporary folder";
      return;
    }
    ::DeleteFileW(unique);
    if (!::CreateDirectoryW(unique, nullptr)) ADD_FAILURE() << "cannot create a temporary folder";
    m_path = unique;
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    ::SetCurrentDirectoryW(m_previousDirectory.c_str());
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(m_path), error);
  }

  const std::wstring& Path() const { return m_path; }
  // Creates the folders along path\relative and an empty file at its end.
  std::wstring AddFile(const std::wstring& relative) const {
    const std::filesystem::path file = std::filesystem::path(m_path) / relative;
    std::filesystem::create_directories(file.parent_path());
    platform::UniqueHandle handle(::CreateFileW(file.wstring().c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) ADD_FAILURE() << "cannot create a file";
    return file.wstring();
  }

 private:
  std::wstring m_previousDirectory;
  std::wstring m_path;
};

// Answers the dialogs this process shows while the object lives, the way a
// willing player would: Yes where there is a Yes button, else OK. Keeps
// each dialog's caption and text (a message box's text, or a folder
// dialog's static texts one per line).
class DialogAnswerer {
 public:
  struct Seen {
    std::wstring caption;
    std::wstring text;
    bool operator==(const Seen&) const = default;
    friend void PrintTo(const Seen& seen, std::ostream* out) {
      *out << ::testing::PrintToString(seen.caption) << ": " << ::testing::PrintToString(seen.text);
    }
  };

  // A folder dialog is answered only once its tree shows `browseSelection`
  // selected: Wine fills the tree after the dialog has become visible, and
  // an OK pressed before then returns another folder. Wine 8 now and then
  // opens the first folder dialog of a fresh prefix without the selection it
  // was handed; such a dialog is cancelled and SelectionMissed() says so.
  explicit DialogAnswerer(std::wstring browseSelection = {})
      : m_browseSelection(std::move(browseSelection)), m_thread([this] { Run(); }) {}
  DialogAnswerer(const DialogAnswerer&) = delete;
  DialogAnswerer& operator=(const DialogAnswerer&) = delete;
  ~DialogAnswerer() { Stop(); }

  // What was shown; the answerer is stopped first.
  const std::vector<Seen>& Dialogs() {
    Stop();
    return m_seen;
  }
  bool SelectionMissed() {
    Stop();
    return m_selectionMissed;
  }

 private:
  static constexpr auto kPollInterval = std::chrono::milliseconds(20);
  static constexpr auto kLifetime = std::chrono::seconds(60);
  static constexpr auto kSelectionWait = std::chrono::seconds(10);
  static constexpr int kTextUnits = 1024;

  static std::wstring TextOf(HWND window) {
    wchar_t text[kTextUnits] = {};
    ::GetWindowTextW(window, text, kTextUnits);
    return text;
  }
  static BOOL CALLBACK CollectStatic(HWND child, LPARAM texts) {
    wchar_t className[16] = {};
    ::GetClassNameW(child, className, 16);
    const std::wstring text = TextOf(child);
    if (std::wstring(className) == L"Static" && !text.empty()) {
      reinterpret_cast<std::wstring*>(texts)->append(text + L"\n");
    }
    return TRUE;
  }
  static std::wstring DialogText(HWND dialog) {
    if (HWND message = ::GetDlgItem(dialog, kMessageTextId)) return TextOf(message);
    std::wstring texts;
    ::EnumChildWindows(dialog, CollectStatic, reinterpret_cast<LPARAM>(&texts));
    return texts;
  }
  static HWND VisibleDialogOfThisProcess() {
    for (HWND window = ::FindWindowExW(nullptr, nullptr, L"#32770", nullptr); window;
         window = ::FindWindowExW(nullptr, window, L"#32770", nullptr)) {
      DWORD process = 0;
      ::GetWindowThreadProcessId(window, &process);
      if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window)) return window;
    }
    return nullptr;
  }

  static BOOL CALLBACK FindTree(HWND child, LPARAM tree) {
    wchar_t className[32] = {};
    ::GetClassNameW(child, className, 32);
    if (std::wstring(className) != WC_TREEVIEWW) return TRUE;
    *reinterpret_cast<HWND*>(tree) = child;
    return FALSE;
  }
  static std::wstring SelectedFolder(HWND dialog) {
    HWND tree = nullptr;
    ::EnumChildWindows(dialog, FindTree, reinterpret_cast<LPARAM>(&tree));
    const HTREEITEM item = tree ? TreeView_GetSelection(tree) : nullptr;
    if (!item) return {};
    wchar_t text[kTextUnits] = {};
    TVITEMW entry = {};
    entry.mask = TVIF_TEXT;
    entry.hItem = item;
    entry.pszText = text;
    entry.cchTextMax = kTextUnits;
    TreeView_GetItem(tree, &entry);
    return text;
  }
  // False when a folder dialog never showed the expected selection.
  bool WaitForSelection(HWND dialog) {
    if (m_browseSelection.empty() || ::GetDlgItem(dialog, kMessageTextId)) return true;
    const auto deadline = std::chrono::steady_clock::now() + kSelectionWait;
    while (SelectedFolder(dialog) != m_browseSelection) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(kPollInterval);
    }
    return true;
  }

  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  void Run() {
    const auto deadline = std::chrono::steady_clock::now() + kLifetime;
    while (!m_stop && std::chrono::steady_clock::now() < deadline) {
      if (HWND dialog = VisibleDialogOfThisProcess()) {
        m_seen.push_back({TextOf(dialog), DialogText(dialog)});
        int button = ::GetDlgItem(dialog, IDYES) ? IDYES : IDOK;
        if (!WaitForSelection(dialog)) {
          m_selectionMissed = true;
          button = IDCANCEL;
        }
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, button)));
        while (::IsWindow(dialog) && std::chrono::steady_clock::now() < deadline) {
          std::this_thread::sleep_for(kPollInterval);
        }
      }
      std::this_thread::sleep_for(kPollInterval);
    }
  }

  std::wstring m_browseSelection;
  bool m_selectionMissed = false;
  std::vector<Seen> m_seen;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};
