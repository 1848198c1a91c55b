// A small Win32 program that watches and answers the launcher's windows the
// way a player would, for the end-to-end checks under Wine. It runs in the
// launcher's prefix, prints one JSON object a line (UTF-8) and exits with 0
// when the command did what it said, 1 otherwise.
//
// Commands:
//   splash TIMEOUT_MS        wait for the visible splash window; print its
//                            rectangle, owner class and thread
//   quit-splash TIMEOUT_MS   post WM_QUIT to the splash thread, then check
//                            that the thread still serves its window
//   dialog TIMEOUT_MS ANSWER wait for a dialog; print caption, text, owner
//                            class and buttons; press ANSWER (ok, yes, no,
//                            cancel, none, auto: Yes where there is one,
//                            else OK)
//   park TIMEOUT_MS          wait for a dialog and move it to the screen's
//                            top-left corner, clear of the splash, so a
//                            screenshot shows the splash whole
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kSplashClass[] = L"VelkarisSplashLauncher";
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kMessageTextId = 0xFFFF;
constexpr DWORD kPollMs = 50;
constexpr UINT kAliveTimeoutMs = 2000;
constexpr int kTextUnits = 4096;
constexpr int kAutoAnswer = 1000;  // Yes where there is one, else OK
constexpr DWORD kCloseTimeoutMs = 5000;

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), bytes,
                        nullptr, nullptr);
  return out;
}

std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (unsigned char c : Utf8(text)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::wstring ClassOf(HWND window) {
  if (!window) return L"";
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
}

std::wstring TextOf(HWND window) {
  std::vector<wchar_t> text(kTextUnits, L'\0');
  ::GetWindowTextW(window, text.data(), kTextUnits);
  return text.data();
}

template <typename Find>
HWND WaitFor(DWORD timeoutMs, Find find) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    if (HWND window = find()) return window;
    if (::GetTickCount() - start >= timeoutMs) return nullptr;
    ::Sleep(kPollMs);
  }
}

HWND FindSplash() {
  HWND window = ::FindWindowW(kSplashClass, nullptr);
  // The owner popup has the same class and is never visible.
  while (window && !(::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_LAYERED)) {
    window = ::FindWindowExW(nullptr, window, kSplashClass, nullptr);
  }
  return window;
}

HWND FindDialog() {
  HWND window = nullptr;
  while ((window = ::FindWindowExW(nullptr, window, kDialogClass, nullptr)) != nullptr) {
    if (::IsWindowVisible(window)) return window;
  }
  return nullptr;
}

// The splash exists at zero size before its picture is given to it and it
// is centred; wait for that (a splash without a picture keeps zero size).
HWND FindPlacedSplash() {
  HWND splash = FindSplash();
  RECT rect = {};
  if (splash && ::GetWindowRect(splash, &rect) && rect.right > rect.left) return splash;
  return nullptr;
}

int Splash(DWORD timeoutMs) {
  HWND splash = WaitFor(timeoutMs, FindPlacedSplash);
  if (!splash) splash = FindSplash();
  if (!splash) {
    std::printf("{\"error\":\"no splash window\"}\n");
    return 1;
  }
  RECT rect = {};
  ::GetWindowRect(splash, &rect);
  std::printf("{\"splash\":{\"x\":%ld,\"y\":%ld,\"width\":%ld,\"height\":%ld,\"visible\":%s,"
              "\"owner_class\":%s,\"title\":%s}}\n",
              rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
              ::IsWindowVisible(splash) ? "true" : "false",
              Json(ClassOf(::GetWindow(splash, GW_OWNER))).c_str(), Json(TextOf(splash)).c_str());
  return 0;
}

int QuitSplash(DWORD timeoutMs) {
  HWND splash = WaitFor(timeoutMs, FindSplash);
  if (!splash) {
    std::printf("{\"error\":\"no splash window\"}\n");
    return 1;
  }
  const DWORD thread = ::GetWindowThreadProcessId(splash, nullptr);
  const BOOL posted = ::PostThreadMessageW(thread, WM_QUIT, 0, 0);
  ::Sleep(200);
  DWORD_PTR result = 0;
  const bool alive = ::SendMessageTimeoutW(splash, WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                                           kAliveTimeoutMs, &result) != 0;
  std::printf("{\"quit_posted\":%s,\"splash_still_served\":%s}\n", posted ? "true" : "false",
              alive ? "true" : "false");
  return posted && alive ? 0 : 1;
}

int Park(DWORD timeoutMs) {
  HWND dialog = WaitFor(timeoutMs, FindDialog);
  if (!dialog) {
    std::printf("{\"error\":\"no dialog\"}\n");
    return 1;
  }
  ::SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::Sleep(300);  // let the screen under its old place be redrawn
  RECT rect = {};
  ::GetWindowRect(dialog, &rect);
  std::printf("{\"parked\":{\"x\":%ld,\"y\":%ld,\"width\":%ld,\"height\":%ld}}\n", rect.left,
              rect.top, rect.right - rect.left, rect.bottom - rect.top);
  return 0;
}

struct Button {
  int id;
  std::wstring text;
};

BOOL CALLBACK CollectButton(HWND child, LPARAM data) {
  if (ClassOf(child) == L"Button" && ::IsWindowVisible(child)) {
    reinterpret_cast<std::vector<Button>*>(data)->push_back({::GetDlgCtrlID(child), TextOf(child)});
  }
  return TRUE;
}

int AnswerId(const char* answer) {
  const struct {
    const char* name;
    int id;
  } answers[] = {{"ok", IDOK},         {"yes", IDYES}, {"no", IDNO},
                 {"cancel", IDCANCEL}, {"none", 0},    {"auto", kAutoAnswer}};
  for (const auto& a : answers) {
    if (std::strcmp(a.name, answer) == 0) return a.id;
  }
  return -1;
}

int Dialog(DWORD timeoutMs, const char* answer) {
  const int answerId = AnswerId(answer);
  if (answerId < 0) {
    std::printf("{\"error\":\"unknown answer\"}\n");
    return 1;
  }
  HWND dialog = WaitFor(timeoutMs, FindDialog);
  if (!dialog) {
    std::printf("{\"error\":\"no dialog\"}\n");
    return 1;
  }
  ::Sleep(200);  // let the dialog finish laying out its controls
  std::vector<Button> buttons;
  ::EnumChildWindows(dialog, CollectButton, reinterpret_cast<LPARAM>(&buttons));
  std::wstring text;
  if (HWND message = ::GetDlgItem(dialog, kMessageTextId)) text = TextOf(message);
  HWND owner = ::GetWindow(dialog, GW_OWNER);
  std::string buttonList = "[";
  for (size_t i = 0; i < buttons.size(); ++i) {
    if (i) buttonList += ",";
    buttonList += "{\"id\":" + std::to_string(buttons[i].id) + ",\"text\":" + Json(buttons[i].text) + "}";
  }
  buttonList += "]";
  std::printf("{\"dialog\":{\"caption\":%s,\"text\":%s,\"owner_class\":%s,\"owner_layered\":%s,"
              "\"buttons\":%s,\"answer\":\"%s\"}}\n",
              Json(TextOf(dialog)).c_str(), Json(text).c_str(), Json(ClassOf(owner)).c_str(),
              owner && (::GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_LAYERED) ? "true" : "false",
              buttonList.c_str(), answer);
  std::fflush(stdout);
  if (answerId == 0) return 0;
  int pressed = answerId;
  if (answerId == kAutoAnswer) pressed = ::GetDlgItem(dialog, IDYES) ? IDYES : IDOK;
  HWND button = ::GetDlgItem(dialog, pressed);
  if (!button) return 1;
  ::PostMessageW(button, BM_CLICK, 0, 0);
  // Report the dialog once: wait until it has gone.
  const DWORD start = ::GetTickCount();
  while (::IsWindow(dialog) && ::IsWindowVisible(dialog) &&
         ::GetTickCount() - start < kCloseTimeoutMs) {
    ::Sleep(kPollMs);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: launcher-driver splash|quit-splash|park|dialog TIMEOUT_MS [ANSWER]\n");
    return 2;
  }
  const DWORD timeoutMs = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
  const std::string command = argv[1];
  int result = 2;
  if (command == "splash") result = Splash(timeoutMs);
  else if (command == "quit-splash") result = QuitSplash(timeoutMs);
  else if (command == "park") result = Park(timeoutMs);
  else if (command == "dialog" && argc >= 4) result = Dialog(timeoutMs, argv[3]);
  std::fflush(stdout);
  return result;
}
