#include "ui/splash.h"

#include <objidl.h>
#include <windows.h>

#include <cstring>

#include "platform/system_library.h"

namespace {

constexpr wchar_t kSplashClassName[] = L"VelkarisSplashLauncher";
constexpr wchar_t kSplashTitle[] = L"Velkaris Launcher";
constexpr wchar_t kPictureType[] = L"PNG";
constexpr WORD kPictureId = 101;
constexpr WORD kIconGroupId = 102;
constexpr int kSmoothingModeNone = 3;
constexpr int kBitsPerPixel = 32;

// GDI+ is not among the DLLs Windows always takes from the system folder on
// every version, so it is not imported at load time: its flat API is looked
// up once the DLL search has been restricted to the system folder.
struct GdiplusStartupInput {
  UINT32 GdiplusVersion;
  void* DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};
using GpStatus = int;
struct GpImage;
struct GpGraphics;

struct GdiplusApi {
  GpStatus(WINAPI* Startup)(ULONG_PTR*, const GdiplusStartupInput*, void*);
  void(WINAPI* Shutdown)(ULONG_PTR);
  GpStatus(WINAPI* LoadImageFromStream)(IStream*, GpImage**);
  GpStatus(WINAPI* DisposeImage)(GpImage*);
  GpStatus(WINAPI* GetImageWidth)(GpImage*, UINT*);
  GpStatus(WINAPI* GetImageHeight)(GpImage*, UINT*);
  GpStatus(WINAPI* CreateFromHDC)(HDC, GpGraphics**);
  GpStatus(WINAPI* SetSmoothingMode)(GpGraphics*, int);
  GpStatus(WINAPI* DrawImageRectI)(GpGraphics*, GpImage*, INT, INT, INT, INT);
  GpStatus(WINAPI* DeleteGraphics)(GpGraphics*);
};

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  return *fn != nullptr;
}

bool LoadGdiplus(GdiplusApi* api) {
  const HMODULE module = platform::LoadSystemLibrary(L"gdiplus.dll");
  if (!module) return false;
  return Resolve(module, "GdiplusStartup", &api->Startup) &&
         Resolve(module, "GdiplusShutdown", &api->Shutdown) &&
         Resolve(module, "GdipLoadImageFromStream", &api->LoadImageFromStream) &&
         Resolve(module, "GdipDisposeImage", &api->DisposeImage) &&
         Resolve(module, "GdipGetImageWidth", &api->GetImageWidth) &&
         Resolve(module, "GdipGetImageHeight", &api->GetImageHeight) &&
         Resolve(module, "GdipCreateFromHDC", &api->CreateFromHDC) &&
         Resolve(module, "GdipSetSmoothingMode", &api->SetSmoothingMode) &&
         Resolve(module, "GdipDrawImageRectI", &api->DrawImageRectI) &&
         Resolve(module, "GdipDeleteGraphics", &api->DeleteGraphics);
}

GdiplusApi g_gdiplus;
bool g_gdiplusLoaded = false;
ULONG_PTR g_gdiplusToken = 0;

// The decoded picture; disposed before GDI+ shuts down.
class SplashPicture {
 public:
  SplashPicture() = default;
  SplashPicture(const SplashPicture&) = delete;
  SplashPicture& operator=(const SplashPicture&) = delete;
  ~SplashPicture() {
    if (m_image) g_gdiplus.DisposeImage(m_image);
  }

  void Load(HINSTANCE instance);
  GpImage* Image() const { return m_image; }
  UINT Width() const { return Measure(g_gdiplus.GetImageWidth); }
  UINT Height() const { return Measure(g_gdiplus.GetImageHeight); }

 private:
  UINT Measure(GpStatus(WINAPI* measure)(GpImage*, UINT*)) const {
    UINT size = 0;
    if (!m_image || measure(m_image, &size) != 0) return 0;
    return size;
  }

  GpImage* m_image = nullptr;
};

// Holds a global memory block that outlives the stream built on it.
class GlobalBlock {
 public:
  explicit GlobalBlock(SIZE_T size) : m_block(::GlobalAlloc(GMEM_FIXED, size)) {}
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;
  ~GlobalBlock() {
    if (m_block) ::GlobalFree(m_block);
  }
  HGLOBAL Get() const { return m_block; }

 private:
  HGLOBAL m_block;
};

void SplashPicture::Load(HINSTANCE instance) {
  if (!g_gdiplusLoaded) return;
  const HRSRC resource = ::FindResourceW(instance, MAKEINTRESOURCEW(kPictureId), kPictureType);
  if (!resource) return;
  const DWORD size = ::SizeofResource(instance, resource);
  const HGLOBAL loaded = ::LoadResource(instance, resource);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (!bytes || size == 0) return;
  // GDI+ may read the stream lazily while the image lives, so the block is
  // freed only after the image has been decoded in full; keeping it for the
  // process's life costs one small picture.
  static GlobalBlock block(size);
  if (!block.Get()) return;
  void* copy = ::GlobalLock(block.Get());
  if (!copy) return;
  std::memcpy(copy, bytes, size);
  IStream* stream = nullptr;
  if (SUCCEEDED(::CreateStreamOnHGlobal(block.Get(), FALSE, &stream))) {
    g_gdiplus.LoadImageFromStream(stream, &m_image);
  }
  ::GlobalUnlock(block.Get());
  if (stream) stream->Release();
  ::FreeResource(loaded);
}

void DrawPicture(const SplashPicture& picture, HDC windowDc, HDC memoryDc, UINT width,
                 UINT height) {
  BITMAPINFO info = {};
  BITMAPINFOHEADER& header = info.bmiHeader;
  const DWORD stride = ((width * kBitsPerPixel + 31) / 8) & ~3u;
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = static_cast<LONG>(width);
  header.biHeight = static_cast<LONG>(height);
  header.biPlanes = 1;
  header.biBitCount = kBitsPerPixel;
  header.biCompression = BI_RGB;
  header.biSizeImage = stride * height;
  void* pixels = nullptr;
  const HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (!bitmap) return;
  std::memset(pixels, 0, static_cast<size_t>(width) * height * 4);

  const HGDIOBJ previous = ::SelectObject(memoryDc, bitmap);
  GpGraphics* graphics = nullptr;
  g_gdiplus.CreateFromHDC(memoryDc, &graphics);
  if (graphics) {
    g_gdiplus.SetSmoothingMode(graphics, kSmoothingModeNone);
    g_gdiplus.DrawImageRectI(graphics, picture.Image(), 0, 0, static_cast<INT>(width),
                             static_cast<INT>(height));
  }

  using UpdateLayeredWindowFn = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF,
                                             BLENDFUNCTION*, DWORD);
  UpdateLayeredWindowFn updateLayeredWindow = nullptr;
  if (const HMODULE user32 = ::LoadLibraryW(L"User32.DLL")) {
    Resolve(user32, "UpdateLayeredWindow", &updateLayeredWindow);
  }
  if (updateLayeredWindow) {
    POINT destination = {0, 0};
    SIZE size = {static_cast<LONG>(width), static_cast<LONG>(height)};
    POINT source = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    updateLayeredWindow(static_cast<HWND>(g_splashWindow), windowDc, &destination, &size,
                        memoryDc, &source, 0, &blend, ULW_ALPHA);
  }

  ::SelectObject(memoryDc, previous);
  ::DeleteObject(bitmap);
  if (graphics) g_gdiplus.DeleteGraphics(graphics);
}

LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      // Nothing paints: the layered window shows the pixels it was given.
      // Validating stops the system from asking again and again.
      ::ValidateRect(window, nullptr);
      return 0;
    case WM_MOVE:
    case WM_SETFOCUS:
    case WM_TIMER:
    case WM_LBUTTONDOWN:
    case WM_MOVING:
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

void CreateSplashWindow(HINSTANCE instance) {
  WNDCLASSW windowClass = {};
  windowClass.style = 0;
  windowClass.lpfnWndProc = SplashWndProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(kIconGroupId));
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kSplashClassName;
  ::RegisterClassW(&windowClass);

  g_splashOwnerWindow = ::CreateWindowExW(0, kSplashClassName, kSplashTitle, WS_POPUP, 0, 0, 0, 0,
                                          nullptr, nullptr, instance, nullptr);
  g_splashWindow = ::CreateWindowExW(WS_EX_LAYERED, kSplashClassName, kSplashTitle,
                                     WS_POPUP | WS_VISIBLE, 0, 0, 0, 0,
                                     static_cast<HWND>(g_splashOwnerWindow), nullptr, instance,
                                     nullptr);
  const HWND splash = static_cast<HWND>(g_splashWindow);

  SplashPicture picture;
  picture.Load(instance);
  const UINT width = picture.Width();
  const UINT height = picture.Height();

  const HDC windowDc = ::GetDC(splash);
  const HDC memoryDc = ::CreateCompatibleDC(windowDc);
  if (width > 0 && height > 0) DrawPicture(picture, windowDc, memoryDc, width, height);
  ::DeleteDC(memoryDc);
  ::ReleaseDC(splash, windowDc);

  // Each quotient truncates on its own; on a screen smaller than the
  // picture the position is negative and used as it is.
  const int x = ::GetSystemMetrics(SM_CXSCREEN) / 2 - static_cast<int>(width) / 2;
  const int y = ::GetSystemMetrics(SM_CYSCREEN) / 2 - static_cast<int>(height) / 2;
  ::SetWindowPos(splash, HWND_TOP, x, y, static_cast<int>(width), static_cast<int>(height),
                 SWP_NOOWNERZORDER);
}

WPARAM PumpSplashMessages() {
  MSG message = {};
  for (;;) {
    const BOOL result = ::GetMessageW(&message, static_cast<HWND>(g_splashWindow), 0, 0);
    // A quit message does not end the splash: it stays until the process
    // ends.
    if (result == 0) continue;
    // The window is gone (or the call is broken): nothing is left to serve.
    if (result == -1) return 0;
    if (message.message == WM_QUIT) return message.wParam;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

unsigned SplashThreadProc(void* instance) {
  g_gdiplusLoaded = LoadGdiplus(&g_gdiplus);
  const GdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
  const bool gdiplusStarted = g_gdiplusLoaded && g_gdiplus.Startup(&g_gdiplusToken, &input, nullptr) == 0;
  g_gdiplusLoaded = gdiplusStarted;

  CreateSplashWindow(static_cast<HINSTANCE>(instance));
  g_splashReady.store(1, std::memory_order_release);

  if (gdiplusStarted) g_gdiplus.Shutdown(g_gdiplusToken);
  PumpSplashMessages();
  return 0;
}
