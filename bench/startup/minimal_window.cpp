// The baseline of the start-up benchmark: a Win32 program that only opens a
// window of the splash picture's size in the middle of the screen, the way
// the launcher opens its splash, and closes it a moment later.
#include <windows.h>

namespace {

constexpr wchar_t kClassName[] = L"VelkarisBenchMinimalWindow";
constexpr int kWidth = 461;   // the splash picture's size
constexpr int kHeight = 514;
constexpr UINT kLifetimeMs = 1000;  // long enough to be seen, never lingering
constexpr UINT_PTR kCloseTimer = 1;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = kClassName;
  if (!::RegisterClassW(&windowClass)) return 1;
  const int x = ::GetSystemMetrics(SM_CXSCREEN) / 2 - kWidth / 2;
  const int y = ::GetSystemMetrics(SM_CYSCREEN) / 2 - kHeight / 2;
  HWND window = ::CreateWindowExW(0, kClassName, L"minimal", WS_POPUP | WS_VISIBLE, x, y, kWidth,
                                  kHeight, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ::SetTimer(window, kCloseTimer, kLifetimeMs, nullptr);
  MSG message = {};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}
