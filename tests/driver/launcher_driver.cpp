// A small Win32 program that watches and answers the launcher's windows the
// way a player would, for the end-to-end checks under Wine. It runs in the
// launcher's prefix, prints one JSON object a line (UTF-8) and exits with 0
// when the command did what it said, 1 otherwise.
//
// Commands (times in milliseconds; every wait is bounded by TIMEOUT):
//   splash TIMEOUT           wait for the splash window and the launcher's
//                            first dialog; print the splash's rectangle,
//                            owner class and title
//   quit-splash TIMEOUT      post WM_QUIT to the splash thread, then check
//                            that the thread still serves its window
//   park TIMEOUT             wait for a dialog and move it to the screen's
//                            top-left corner, clear of the splash, so a
//                            screenshot shows the splash whole
//   dialog TIMEOUT ANSWER    wait for one dialog, print it, answer it
//   watch TIMEOUT [--stop-file PATH] ANSWER...
//                            answer every dialog the launcher opens, the
//                            n-th with the n-th ANSWER, one line each; a
//                            dialog beyond the script is answered No, else
//                            Cancel, else OK, and marked unscripted; the
//                            splash is printed before the first dialog (or
//                            at the end). Ends when the splash has been seen
//                            and is gone, or PATH exists (the caller saw the
//                            launcher end)
//   links [PATH...]          read shell links back (default: Velkaris.lnk on
//                            the desktop and in the all-users programs menu)
//   error-text CODE          the system's text for an error code
//   free-space PATH          GetDiskFreeSpaceW and the launcher's figure
//   hold TIMEOUT             stay alive (a stand-in for a watched process)
//   wait-process NAME running|gone TIMEOUT
//                            wait until a process of that name runs, or
//                            until none does
//   terminate NAME TIMEOUT   end every process of that name (as a player
//                            would in the task manager) and wait for it
//   times CLASS PATCHER TIMEOUT
//                            start-up benchmark: prints a "watching" line,
//                            then the creation time of the process owning
//                            the first visible, placed window of CLASS, the
//                            time it was seen, and the creation time of
//                            process PATCHER ("-": none); file times (100 ns
//                            since 1601), null for one not had in time
//
// Answers: ok, yes, no, cancel, auto (Yes where there is one, else OK),
// none (leave it), person (leave it to the person at the screen and wait
// until it is closed; as the last answer of watch, for every dialog that
// follows too), choose:PATH (folder dialog: select PATH, then OK).
#include "platform/win32.h"

#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "tests/support/win_test_helpers.h"

namespace {

constexpr wchar_t kSplashClass[] = L"VelkarisSplashLauncher";
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kTreeClass[] = L"SysTreeView32";
constexpr wchar_t kLinkName[] = L"Velkaris.lnk";
constexpr int kBrowseTitleId = 0x3742;  // the folder dialog's title text
constexpr DWORD kPollMs = 20;
constexpr DWORD kBenchPollMs = 2;
constexpr UINT kAliveTimeoutMs = 2000;
constexpr DWORD kSettleTimeoutMs = 3000;
constexpr DWORD kCloseTimeoutMs = 5000;
constexpr DWORD kQuitSettleMs = 200;
constexpr DWORD kRedrawSettleMs = 300;
constexpr int kTextUnits = 4096;
constexpr int kTreeDepth = 32;
constexpr int kTimeoutExit = 1;

// ---- text and JSON ----

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), bytes,
                        nullptr, nullptr);
  return out;
}

std::wstring FromAnsi(const std::string& text) {
  if (text.empty()) return {};
  const int units = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                          nullptr, 0);
  std::wstring out(static_cast<size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), out.data(), units);
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

const char* JsonBool(bool value) { return value ? "true" : "false"; }

void PrintLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

unsigned long long FileTimeValue(const FILETIME& time) {
  return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

unsigned long long Now() {
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  return FileTimeValue(now);
}

// ---- windows ----

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

class Deadline {
 public:
  explicit Deadline(DWORD timeoutMs) : start_(::GetTickCount()), timeoutMs_(timeoutMs) {}
  bool Passed() const { return ::GetTickCount() - start_ >= timeoutMs_; }
  DWORD Elapsed() const { return ::GetTickCount() - start_; }

 private:
  DWORD start_;
  DWORD timeoutMs_;
};

template <typename Find>
auto WaitFor(DWORD timeoutMs, Find find, DWORD pollMs = kPollMs) -> decltype(find()) {
  const Deadline deadline(timeoutMs);
  for (;;) {
    if (auto found = find()) return found;
    if (deadline.Passed()) return {};
    ::Sleep(pollMs);
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

// A window exists at zero size before it is given its picture and placed;
// a placed window is visible and has a size.
bool IsPlaced(HWND window) {
  RECT rect = {};
  return window && ::IsWindowVisible(window) && ::GetWindowRect(window, &rect) &&
         rect.right > rect.left;
}

std::vector<HWND> VisibleDialogs() {
  std::vector<HWND> dialogs;
  HWND window = nullptr;
  while ((window = ::FindWindowExW(nullptr, window, kDialogClass, nullptr)) != nullptr) {
    if (::IsWindowVisible(window)) dialogs.push_back(window);
  }
  return dialogs;
}

HWND FindDialog() {
  const std::vector<HWND> dialogs = VisibleDialogs();
  return dialogs.empty() ? nullptr : dialogs.front();
}

struct Control {
  int id;
  std::wstring text;
};

struct Controls {
  std::vector<Control> buttons;
  std::vector<Control> statics;
  HWND tree = nullptr;
};

BOOL CALLBACK CollectControl(HWND child, LPARAM data) {
  auto* controls = reinterpret_cast<Controls*>(data);
  if (!::IsWindowVisible(child)) return TRUE;
  const std::wstring name = ClassOf(child);
  if (name == L"Button") controls->buttons.push_back({::GetDlgCtrlID(child), TextOf(child)});
  if (name == L"Static") controls->statics.push_back({::GetDlgCtrlID(child), TextOf(child)});
  if (name == kTreeClass) controls->tree = child;
  return TRUE;
}

Controls ControlsOf(HWND dialog) {
  Controls controls;
  ::EnumChildWindows(dialog, CollectControl, reinterpret_cast<LPARAM>(&controls));
  return controls;
}

// ---- memory in the launcher's process, for messages that carry pointers ----

// Tree-view and folder-dialog messages pass raw pointers, which must point
// into the process that owns the window.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND window, size_t bytes) : bytes_(bytes) {
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    process_ = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                             processId);
    if (process_) {
      address_ = ::VirtualAllocEx(process_, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
    }
  }
  ~RemoteBuffer() {
    if (address_) ::VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) ::CloseHandle(process_);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  bool ok() const { return address_ != nullptr; }
  char* at(size_t offset) const { return static_cast<char*>(address_) + offset; }
  bool Write(size_t offset, const void* data, size_t bytes) const {
    return offset + bytes <= bytes_ &&
           ::WriteProcessMemory(process_, at(offset), data, bytes, nullptr);
  }
  bool Read(size_t offset, void* data, size_t bytes) const {
    return offset + bytes <= bytes_ &&
           ::ReadProcessMemory(process_, at(offset), data, bytes, nullptr);
  }

 private:
  HANDLE process_ = nullptr;
  void* address_ = nullptr;
  size_t bytes_;
};

std::wstring TreeItemText(HWND tree, HTREEITEM item) {
  constexpr size_t kUnits = 260;
  RemoteBuffer remote(tree, sizeof(TVITEMW) + kUnits * sizeof(wchar_t));
  if (!remote.ok()) return L"";
  TVITEMW request = {};
  request.mask = TVIF_TEXT;
  request.hItem = item;
  request.pszText = reinterpret_cast<wchar_t*>(remote.at(sizeof(TVITEMW)));
  request.cchTextMax = static_cast<int>(kUnits);
  if (!remote.Write(0, &request, sizeof request)) return L"";
  ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.at(0)));
  std::vector<wchar_t> text(kUnits, L'\0');
  remote.Read(sizeof(TVITEMW), text.data(), (kUnits - 1) * sizeof(wchar_t));
  return text.data();
}

// The selected folder of a folder dialog as the names shown in its tree,
// from the top ("Desktop") down, joined by " > ".
std::wstring TreeSelection(HWND tree) {
  std::vector<std::wstring> names;
  auto item = reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  while (item && names.size() < kTreeDepth) {
    names.insert(names.begin(), TreeItemText(tree, item));
    item = reinterpret_cast<HTREEITEM>(
        ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item)));
  }
  std::wstring path;
  for (const std::wstring& name : names) path += (path.empty() ? L"" : L" > ") + name;
  return path;
}

bool SelectFolder(HWND dialog, const std::wstring& path) {
  const size_t bytes = (path.size() + 1) * sizeof(wchar_t);
  RemoteBuffer remote(dialog, bytes);
  if (!remote.ok() || !remote.Write(0, path.c_str(), bytes)) return false;
  ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote.at(0)));
  return true;
}

// ---- dialogs ----

struct Answer {
  std::wstring name;  // as given, for the transcript
  int button = 0;    // 0: press nothing
  bool person = false;
  std::wstring choose;  // folder to select before OK
};

constexpr int kAutoAnswer = -2;

bool ParseAnswer(const std::wstring& text, Answer* answer) {
  answer->name = text;
  const std::wstring choosePrefix = L"choose:";
  if (text.compare(0, choosePrefix.size(), choosePrefix) == 0) {
    answer->choose = text.substr(choosePrefix.size());
    answer->button = IDOK;
    return !answer->choose.empty();
  }
  const struct {
    const wchar_t* name;
    int button;
  } simple[] = {{L"ok", IDOK}, {L"yes", IDYES}, {L"no", IDNO}, {L"cancel", IDCANCEL},
                {L"none", 0},  {L"auto", kAutoAnswer}, {L"person", 0}};
  for (const auto& entry : simple) {
    if (text == entry.name) {
      answer->button = entry.button;
      answer->person = text == L"person";
      return true;
    }
  }
  return false;
}

// The first of the buttons the dialog has.
int FirstPresent(HWND dialog, std::initializer_list<int> buttons) {
  for (int button : buttons) {
    if (::GetDlgItem(dialog, button)) return button;
  }
  return 0;
}

// The folder dialog selects its first item, the desktop, and only then
// hands over to the caller's callback, which may already show the dialog
// before it selects the folder it was given.
bool HasSelectionBelowTop(HWND tree) {
  const LRESULT caret = ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
  return caret && caret != ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
}

// Waits until the dialog has its buttons (and, for the folder dialog, a
// preselected folder), so what is reported and answered is what the player
// sees.
Controls SettledControls(HWND dialog) {
  Controls controls;
  const Deadline deadline(kSettleTimeoutMs);
  for (;;) {
    controls = ControlsOf(dialog);
    const bool treeReady = !controls.tree || HasSelectionBelowTop(controls.tree);
    if ((!controls.buttons.empty() && treeReady) || deadline.Passed()) return controls;
    ::Sleep(kPollMs);
  }
}

std::string DescribeDialog(HWND dialog, HWND splash, const Controls& controls) {
  std::wstring text;
  if (HWND message = ::GetDlgItem(dialog, kMessageTextId)) {
    text = TextOf(message);
  } else if (HWND title = ::GetDlgItem(dialog, kBrowseTitleId)) {
    text = TextOf(title);
  }
  HWND owner = ::GetWindow(dialog, GW_OWNER);
  std::string buttons = "[";
  for (size_t i = 0; i < controls.buttons.size(); ++i) {
    if (i) buttons += ",";
    buttons += "{\"id\":" + std::to_string(controls.buttons[i].id) +
               ",\"text\":" + Json(controls.buttons[i].text) + "}";
  }
  buttons += "]";
  std::string out = "\"caption\":" + Json(TextOf(dialog)) + ",\"text\":" + Json(text) +
                    ",\"owner_class\":" + Json(ClassOf(owner)) + ",\"owner_layered\":" +
                    JsonBool(owner && (::GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_LAYERED)) +
                    ",\"owner_is_splash\":" + JsonBool(owner && owner == splash) +
                    ",\"buttons\":" + buttons;
  if (controls.tree) out += ",\"selection\":" + Json(TreeSelection(controls.tree));
  return out;
}

bool WaitClosed(HWND dialog, DWORD timeoutMs) {
  const Deadline deadline(timeoutMs);
  while (::IsWindow(dialog) && ::IsWindowVisible(dialog)) {
    if (deadline.Passed()) return false;
    ::Sleep(kPollMs);
  }
  return true;
}

// Presses the answer's button and waits until the dialog has gone. Returns
// the button pressed, 0 when none was, -1 when the answer could not be given.
int Respond(HWND dialog, const Answer& answer, DWORD personTimeoutMs) {
  if (answer.person) return WaitClosed(dialog, personTimeoutMs) ? 0 : -1;
  if (answer.button == 0) return 0;
  if (!answer.choose.empty() && !SelectFolder(dialog, answer.choose)) return -1;
  const int button = answer.button == kAutoAnswer ? FirstPresent(dialog, {IDYES, IDOK}) : answer.button;
  HWND control = ::GetDlgItem(dialog, button);
  if (!control) return -1;
  ::PostMessageW(control, BM_CLICK, 0, 0);
  return WaitClosed(dialog, kCloseTimeoutMs) ? button : -1;
}

int Dialog(DWORD timeoutMs, const std::wstring& answerText) {
  Answer answer;
  if (!ParseAnswer(answerText, &answer)) {
    PrintLine("{\"error\":\"unknown answer\"}");
    return 1;
  }
  HWND dialog = WaitFor(timeoutMs, FindDialog);
  if (!dialog) {
    PrintLine("{\"error\":\"no dialog\"}");
    return 1;
  }
  const Controls controls = SettledControls(dialog);
  PrintLine("{\"dialog\":{" + DescribeDialog(dialog, FindSplash(), controls) + ",\"answer\":" +
            Json(answerText) + "}}");
  return Respond(dialog, answer, timeoutMs) < 0 ? 1 : 0;
}

// ---- splash ----

std::string DescribeSplash(HWND splash) {
  RECT rect = {};
  ::GetWindowRect(splash, &rect);
  char line[160];
  std::snprintf(line, sizeof line, "{\"splash\":{\"x\":%ld,\"y\":%ld,\"width\":%ld,\"height\":%ld,",
                rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  return line + std::string("\"visible\":") + JsonBool(::IsWindowVisible(splash)) +
         ",\"owner_class\":" + Json(ClassOf(::GetWindow(splash, GW_OWNER))) +
         ",\"title\":" + Json(TextOf(splash)) + "}}";
}

// The splash is given its picture at the screen's corner and then moved to
// the middle; the launcher opens its first dialog (or ends) only after that,
// so the splash as it stands then is the one the player sees.
class SplashTracker {
 public:
  // Looks at the splash again; false once it has been seen and is gone.
  bool Update() {
    HWND current = FindSplash();
    if (!current) return !window_;
    window_ = current;
    if (IsPlaced(current)) last_ = DescribeSplash(current);
    return true;
  }
  HWND window() const { return window_; }
  bool seen() const { return window_ != nullptr; }
  // Prints the splash once, as last seen.
  void Report() {
    if (reported_ || last_.empty()) return;
    PrintLine(last_);
    reported_ = true;
  }

 private:
  HWND window_ = nullptr;
  std::string last_;
  bool reported_ = false;
};

int Splash(DWORD timeoutMs) {
  SplashTracker splash;
  const Deadline deadline(timeoutMs);
  while (splash.Update() && !(splash.seen() && FindDialog())) {
    if (deadline.Passed()) break;
    ::Sleep(kPollMs);
  }
  if (!splash.seen()) {
    PrintLine("{\"error\":\"no splash window\"}");
    return 1;
  }
  splash.Report();
  return 0;
}

// ---- a whole run ----

int Watch(DWORD timeoutMs, const std::wstring& stopFile, const std::vector<Answer>& script) {
  const Deadline deadline(timeoutMs);
  std::set<HWND> answered;
  size_t next = 0;
  SplashTracker splash;
  for (;;) {
    if (!splash.Update()) break;  // the splash lives as long as the launcher
    if (FileExists(stopFile)) break;
    HWND dialog = nullptr;
    for (HWND candidate : VisibleDialogs()) {
      if (!answered.count(candidate)) {
        dialog = candidate;
        break;
      }
    }
    if (!dialog) {
      if (deadline.Passed()) {
        PrintLine("{\"error\":\"timeout\",\"dialogs\":" + std::to_string(answered.size()) + "}");
        return kTimeoutExit;
      }
      ::Sleep(kPollMs);
      continue;
    }
    answered.insert(dialog);
    splash.Report();
    const Controls controls = SettledControls(dialog);
    // A person asked to answer goes on answering every dialog that follows.
    const bool personGoesOn = next >= script.size() && !script.empty() && script.back().person;
    const bool scripted = next < script.size() || personGoesOn;
    Answer answer;
    if (personGoesOn) {
      answer = script.back();
    } else if (scripted) {
      answer = script[next++];
    } else {
      answer.button = FirstPresent(dialog, {IDNO, IDCANCEL, IDOK});
      answer.name = answer.button == IDNO ? L"no" : answer.button == IDCANCEL ? L"cancel" : L"ok";
    }
    PrintLine("{\"dialog\":{\"index\":" + std::to_string(answered.size()) + ",\"ms\":" +
              std::to_string(deadline.Elapsed()) + "," + DescribeDialog(dialog, splash.window(), controls) +
              ",\"answer\":" + Json(answer.name) + ",\"scripted\":" + JsonBool(scripted) + "}}");
    const DWORD left = deadline.Passed() ? 0 : timeoutMs - deadline.Elapsed();
    if (Respond(dialog, answer, left) < 0) {
      PrintLine("{\"error\":\"could not answer\",\"answer\":" + Json(answer.name) + "}");
      return 1;
    }
    PrintLine("{\"closed\":{\"index\":" + std::to_string(answered.size()) + ",\"ms\":" +
              std::to_string(deadline.Elapsed()) + "}}");
  }
  splash.Report();
  PrintLine("{\"watch\":{\"dialogs\":" + std::to_string(answered.size()) +
            ",\"splash_seen\":" + JsonBool(splash.seen()) + "}}");
  return 0;
}

// ---- the splash thread and the screen ----

int QuitSplash(DWORD timeoutMs) {
  HWND splash = WaitFor(timeoutMs, FindSplash);
  if (!splash) {
    PrintLine("{\"error\":\"no splash window\"}");
    return 1;
  }
  const DWORD thread = ::GetWindowThreadProcessId(splash, nullptr);
  const BOOL posted = ::PostThreadMessageW(thread, WM_QUIT, 0, 0);
  // A thread that took the quit message leaves its loop at once; give it
  // the chance before asking whether it still answers.
  ::Sleep(kQuitSettleMs);
  DWORD_PTR result = 0;
  const bool alive = ::SendMessageTimeoutW(splash, WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                                           kAliveTimeoutMs, &result) != 0;
  PrintLine(std::string("{\"quit_posted\":") + JsonBool(posted) +
            ",\"splash_still_served\":" + JsonBool(alive) + "}");
  return posted && alive ? 0 : 1;
}

int Park(DWORD timeoutMs) {
  HWND dialog = WaitFor(timeoutMs, FindDialog);
  if (!dialog) {
    PrintLine("{\"error\":\"no dialog\"}");
    return 1;
  }
  SettledControls(dialog);
  ::SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  // The X server redraws the uncovered splash on its own; nothing in Win32
  // tells when that is done.
  ::Sleep(kRedrawSettleMs);
  RECT rect = {};
  ::GetWindowRect(dialog, &rect);
  char line[160];
  std::snprintf(line, sizeof line, "{\"parked\":{\"x\":%ld,\"y\":%ld,\"width\":%ld,\"height\":%ld}}",
                rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
  PrintLine(line);
  return 0;
}

// ---- shell links ----

std::wstring SpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  return ::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE) ? path : L"";
}

std::string ReadLink(const std::wstring& path) {
  std::string out = "{\"link\":{\"path\":" + Json(path);
  if (!FileExists(path)) return out + ",\"exists\":false}}";
  platform::ComPtr<IShellLinkW> link;
  platform::ComPtr<IPersistFile> file;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.Receive()))) ||
      FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Receive()))) ||
      FAILED(file->Load(path.c_str(), STGM_READ))) {
    return out + ",\"exists\":true,\"readable\":false}}";
  }
  wchar_t target[MAX_PATH] = {};
  wchar_t description[INFOTIPSIZE] = {};
  wchar_t icon[MAX_PATH] = {};
  wchar_t arguments[INFOTIPSIZE] = {};
  wchar_t folder[MAX_PATH] = {};
  int iconIndex = -1;
  link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
  link->GetDescription(description, INFOTIPSIZE);
  link->GetIconLocation(icon, MAX_PATH, &iconIndex);
  link->GetArguments(arguments, INFOTIPSIZE);
  link->GetWorkingDirectory(folder, MAX_PATH);
  return out + ",\"exists\":true,\"readable\":true,\"target\":" + Json(target) +
         ",\"description\":" + Json(description) + ",\"icon\":" + Json(icon) +
         ",\"icon_index\":" + std::to_string(iconIndex) + ",\"arguments\":" + Json(arguments) +
         ",\"working_directory\":" + Json(folder) + "}}";
}

int Links(const std::vector<std::wstring>& given) {
  std::vector<std::wstring> paths = given;
  if (paths.empty()) {
    for (int csidl : {CSIDL_DESKTOP, CSIDL_COMMON_PROGRAMS}) {
      paths.push_back(SpecialFolder(csidl) + L"\\" + kLinkName);
    }
  }
  ::CoInitialize(nullptr);
  for (const std::wstring& path : paths) PrintLine(ReadLink(path));
  ::CoUninitialize();
  return 0;
}

// ---- system facts ----

int ErrorText(DWORD code) {
  char* buffer = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer), 0,
      nullptr);
  const std::string text = length ? std::string(buffer, length) : std::string();
  if (buffer) ::LocalFree(buffer);
  PrintLine("{\"error_text\":{\"code\":" + std::to_string(code) + ",\"found\":" +
            JsonBool(length != 0) + ",\"text\":" + Json(FromAnsi(text)) + "}}");
  return length ? 0 : 1;
}

int FreeSpace(const std::wstring& path) {
  constexpr unsigned long long kClustersPerUnit = 1048576;
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  const bool ok = ::GetDiskFreeSpaceW(path.c_str(), &sectorsPerCluster, &bytesPerSector,
                                      &freeClusters, &totalClusters);
  const unsigned long long figure =
      freeClusters / kClustersPerUnit * sectorsPerCluster * bytesPerSector;
  PrintLine("{\"free_space\":{\"path\":" + Json(path) + ",\"ok\":" + JsonBool(ok) +
            ",\"sectors_per_cluster\":" + std::to_string(sectorsPerCluster) +
            ",\"bytes_per_sector\":" + std::to_string(bytesPerSector) + ",\"free_clusters\":" +
            std::to_string(freeClusters) + ",\"figure\":" + std::to_string(figure) + "}}");
  return ok ? 0 : 1;
}

// ---- processes ----

std::vector<DWORD> ProcessesNamed(const std::wstring& name) {
  std::vector<DWORD> ids;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry)) {
    if (name == entry.szExeFile) ids.push_back(entry.th32ProcessID);
  }
  ::CloseHandle(snapshot);
  return ids;
}

int Hold(DWORD timeoutMs) {
  ::Sleep(timeoutMs);
  return 0;
}

int WaitProcess(const std::wstring& name, const std::wstring& state, DWORD timeoutMs) {
  const bool wantRunning = state == L"running";
  const bool reached =
      WaitFor(timeoutMs, [&] { return ProcessesNamed(name).empty() != wantRunning; });
  PrintLine("{\"process\":{\"name\":" + Json(name) + ",\"running\":" +
            JsonBool(reached == wantRunning) + "}}");
  return reached ? 0 : 1;
}

int Terminate(const std::wstring& name, DWORD timeoutMs) {
  int ended = 0;
  for (DWORD id : ProcessesNamed(name)) {
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (!process) continue;
    if (::TerminateProcess(process, 1) &&
        ::WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0) {
      ++ended;
    }
    ::CloseHandle(process);
  }
  PrintLine("{\"terminated\":{\"name\":" + Json(name) + ",\"count\":" + std::to_string(ended) +
            "}}");
  return ended > 0 ? 0 : 1;
}

// The process's creation time, or 0 unless it lies between `since` and now:
// for a process that has only just started, Wine has answered with an unset
// time (0x5555555555555555), so the caller asks again.
unsigned long long CreationTimeSince(DWORD processId, unsigned long long since) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return 0;
  FILETIME created = {}, exited = {}, kernel = {}, user = {};
  const bool ok = ::GetProcessTimes(process, &created, &exited, &kernel, &user);
  ::CloseHandle(process);
  const unsigned long long time = FileTimeValue(created);
  return ok && time >= since && time <= Now() ? time : 0;
}

HWND FindPlacedWindow(const std::wstring& windowClass) {
  HWND window = nullptr;
  while ((window = ::FindWindowExW(nullptr, window, windowClass.c_str(), nullptr)) != nullptr) {
    if (IsPlaced(window)) return window;
  }
  return nullptr;
}

// A time of the benchmark's JSON: null when it was not had.
std::string JsonTime(unsigned long long time) { return time ? std::to_string(time) : "null"; }

int Times(const std::wstring& windowClass, const std::wstring& patcher, DWORD timeoutMs) {
  const Deadline deadline(timeoutMs);
  const unsigned long long since = Now();
  unsigned long long created = 0, ready = 0, patcherCreated = 0;
  DWORD windowProcess = 0;
  const bool wantPatcher = patcher != L"-";
  PrintLine("{\"watching\":true}");
  while (!deadline.Passed() && (!created || (wantPatcher && !patcherCreated))) {
    if (!ready) {
      if (HWND window = FindPlacedWindow(windowClass)) {
        ready = Now();
        ::GetWindowThreadProcessId(window, &windowProcess);
      }
    }
    if (ready && !created) created = CreationTimeSince(windowProcess, since);
    if (wantPatcher && !patcherCreated) {
      const std::vector<DWORD> ids = ProcessesNamed(patcher);
      if (!ids.empty()) patcherCreated = CreationTimeSince(ids.front(), since);
    }
    ::Sleep(kBenchPollMs);
  }
  PrintLine("{\"times\":{\"created\":" + JsonTime(created) + ",\"window_ready\":" +
            JsonTime(ready) + ",\"patcher_created\":" + JsonTime(patcherCreated) + "}}");
  return created && (!wantPatcher || patcherCreated) ? 0 : 1;
}

DWORD Number(const std::wstring& text) { return static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, 10)); }

int Usage() {
  std::fputs(
      "usage: launcher-driver splash|quit-splash|park|hold TIMEOUT\n"
      "       launcher-driver dialog TIMEOUT ANSWER\n"
      "       launcher-driver watch TIMEOUT [--stop-file PATH] ANSWER...\n"
      "       launcher-driver links [PATH...] | error-text CODE | free-space PATH\n"
      "       launcher-driver wait-process NAME running|gone TIMEOUT\n"
      "       launcher-driver terminate NAME TIMEOUT\n"
      "       launcher-driver times CLASS PATCHER TIMEOUT\n",
      stderr);
  return 2;
}

int Run(const std::vector<std::wstring>& args) {
  if (args.empty()) return Usage();
  const std::wstring& command = args[0];
  const size_t count = args.size();
  if (command == L"links") return Links({args.begin() + 1, args.end()});
  if (count < 2) return Usage();
  if (command == L"splash") return Splash(Number(args[1]));
  if (command == L"quit-splash") return QuitSplash(Number(args[1]));
  if (command == L"park") return Park(Number(args[1]));
  if (command == L"hold") return Hold(Number(args[1]));
  if (command == L"error-text") return ErrorText(Number(args[1]));
  if (command == L"free-space") return FreeSpace(args[1]);
  if (command == L"dialog" && count == 3) return Dialog(Number(args[1]), args[2]);
  if (command == L"wait-process" && count == 4 && (args[2] == L"running" || args[2] == L"gone")) {
    return WaitProcess(args[1], args[2], Number(args[3]));
  }
  if (command == L"terminate" && count == 3) return Terminate(args[1], Number(args[2]));
  if (command == L"times" && count == 4) return Times(args[1], args[2], Number(args[3]));
  if (command == L"watch") {
    size_t first = 2;
    std::wstring stopFile;
    if (count > 3 && args[2] == L"--stop-file") {
      stopFile = args[3];
      first = 4;
    }
    std::vector<Answer> script;
    for (size_t i = first; i < count; ++i) {
      Answer answer;
      if (!ParseAnswer(args[i], &answer)) {
        PrintLine("{\"error\":\"unknown answer\",\"answer\":" + Json(args[i]) + "}");
        return 2;
      }
      script.push_back(answer);
    }
    return Watch(Number(args[1]), stopFile, script);
  }
  return Usage();
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!argv) return 2;
  const std::vector<std::wstring> args(argv + 1, argv + count);
  ::LocalFree(argv);
  return Run(args);
}
