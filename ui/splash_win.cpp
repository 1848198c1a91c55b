#include "ui/splash.h"

#include <cstring>

#include "platform/system_library.h"
#include "platform/win32.h"
#include "ui/splash_rules.h"

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

bool LoadGdiplus(GdiplusApi* api) {
  const HMODULE module = platform::LoadSystemLibrary(L"gdiplus.dll");
  if (!module) return false;
  using platform::ResolveProc;
  return ResolveProc(module, "GdiplusStartup", &api->Startup) &&
         ResolveProc(module, "GdiplusShutdown", &api->Shutdown) &&
         ResolveProc(module, "GdipLoadImageFromStream", &api->LoadImageFromStream) &&
         ResolveProc(module, "GdipDisposeImage", &api->DisposeImage) &&
         ResolveProc(module, "GdipGetImageWidth", &api->GetImageWidth) &&
         ResolveProc(module, "GdipGetImageHeight", &api->GetImageHeight) &&
         ResolveProc(module, "GdipCreateFromHDC", &api->CreateFromHDC) &&
         ResolveProc(module, "GdipSetSmoothingMode", &api->SetSmoothingMode) &&
         ResolveProc(module, "GdipDrawImageRectI", &api->DrawImageRectI) &&
         ResolveProc(module, "GdipDeleteGraphics", &api->DeleteGraphics);
}

GdiplusApi g_gdiplus;
bool g_gdiplusLoaded = false;

// GDI+ objects, released through the API looked up above.
struct GdiplusImageTraits : platform::PointerTraits<GpImage> {
  static void Close(GpImage* image) { g_gdiplus.DisposeImage(image); }
};
using UniqueImage = platform::UniqueOwner<GdiplusImageTraits>;
struct GdiplusGraphicsTraits : platform::PointerTraits<GpGraphics> {
  static void Close(GpGraphics* graphics) { g_gdiplus.DeleteGraphics(graphics); }
};
using UniqueGraphics = platform::UniqueOwner<GdiplusGraphicsTraits>;
// The token of a GDI+ start; shut down with it.
struct GdiplusTokenTraits {
  using Handle = ULONG_PTR;
  static Handle Empty() { return 0; }
  static bool IsValid(Handle token) { return token != 0; }
  static void Close(Handle token) { g_gdiplus.Shutdown(token); }
};
using GdiplusSession = platform::UniqueOwner<GdiplusTokenTraits>;

UINT MeasureImage(GpImage* image, GpStatus(WINAPI* measure)(GpImage*, UINT*)) {
  UINT size = 0;
  if (!image || measure(image, &size) != 0) return 0;
  return size;
}

// The splash picture decoded from the resource; empty when GDI+ is missing
// or the resource cannot be read.
UniqueImage LoadPicture(HINSTANCE instance) {
  UniqueImage image;
  if (!g_gdiplusLoaded) return image;
  const HRSRC resource = ::FindResourceW(instance, MAKEINTRESOURCEW(kPictureId), kPictureType);
  if (!resource) return image;
  const DWORD size = ::SizeofResource(instance, resource);
  const HGLOBAL loaded = ::LoadResource(instance, resource);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (!bytes || size == 0) return image;
  // GDI+ may read the stream lazily while the image lives, so the block is
  // freed only after the image has been decoded in full; keeping it for the
  // process's life costs one small picture.
  static const platform::UniqueGlobalMemory block(::GlobalAlloc(GMEM_FIXED, size));
  if (!block) return image;
  void* copy = ::GlobalLock(block.get());
  if (!copy) return image;
  std::memcpy(copy, bytes, size);
  {
    platform::ComPtr<IStream> stream;
    if (SUCCEEDED(::CreateStreamOnHGlobal(block.get(), FALSE, stream.Receive()))) {
      g_gdiplus.LoadImageFromStream(stream.get(), image.Receive());
    }
    ::GlobalUnlock(block.get());
  }
  ::FreeResource(loaded);
  return image;
}

void DrawPicture(GpImage* picture, HDC windowDc, HDC memoryDc, UINT width, UINT height) {
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
  // Declared first so that it goes last, after the bitmap has been selected
  // out and deleted.
  UniqueGraphics graphics;
  void* pixels = nullptr;
  const platform::UniqueBitmap bitmap(
      ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
  if (!bitmap) return;
  std::memset(pixels, 0, static_cast<size_t>(width) * height * 4);

  const platform::UniqueSelection selection({memoryDc, ::SelectObject(memoryDc, bitmap.get())});
  g_gdiplus.CreateFromHDC(memoryDc, graphics.Receive());
  if (graphics) {
    g_gdiplus.SetSmoothingMode(graphics.get(), kSmoothingModeNone);
    g_gdiplus.DrawImageRectI(graphics.get(), picture, 0, 0, static_cast<INT>(width),
                             static_cast<INT>(height));
  }

  using UpdateLayeredWindowFn = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF,
                                             BLENDFUNCTION*, DWORD);
  UpdateLayeredWindowFn updateLayeredWindow = nullptr;
  if (const HMODULE user32 = ::LoadLibraryW(L"User32.DLL")) {
    platform::ResolveProc(user32, "UpdateLayeredWindow", &updateLayeredWindow);
  }
  if (updateLayeredWindow) {
    POINT destination = {0, 0};
    SIZE size = {static_cast<LONG>(width), static_cast<LONG>(height)};
    POINT source = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    updateLayeredWindow(static_cast<HWND>(g_splashWindow), windowDc, &destination, &size,
                        memoryDc, &source, 0, &blend, ULW_ALPHA);
  }
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

  const UniqueImage picture = LoadPicture(instance);
  const UINT width = MeasureImage(picture.get(), g_gdiplus.GetImageWidth);
  const UINT height = MeasureImage(picture.get(), g_gdiplus.GetImageHeight);

  {
    // The memory context goes before the window's own is given back.
    const platform::UniqueWindowDc windowDc({splash, ::GetDC(splash)});
    const platform::UniqueMemoryDc memoryDc(::CreateCompatibleDC(windowDc.get().dc));
    if (width > 0 && height > 0) {
      DrawPicture(picture.get(), windowDc.get().dc, memoryDc.get(), width, height);
    }
  }

  const SplashPosition position =
      CentredPosition(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN),
                      static_cast<int>(width), static_cast<int>(height));
  ::SetWindowPos(splash, HWND_TOP, position.x, position.y, static_cast<int>(width),
                 static_cast<int>(height), SWP_NOOWNERZORDER);
}

WPARAM PumpSplashMessages() {
  MSG message = {};
  for (;;) {
    const BOOL result = ::GetMessageW(&message, static_cast<HWND>(g_splashWindow), 0, 0);
    switch (NextPumpStep(result, message.message == WM_QUIT)) {
      case PumpStep::kRetrieveAgain:
        continue;
      case PumpStep::kEndBroken:
        return 0;
      case PumpStep::kEndOnQuit:
        return message.wParam;
      case PumpStep::kDispatch:
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
        continue;
    }
  }
}

}  // namespace

unsigned SplashThreadProc(void* instance) {
  {
    // GDI+ runs only while the window is built: the layered window keeps
    // its own copy of the pixels.
    GdiplusSession gdiplusToken;
    const GdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
    ULONG_PTR token = 0;
    g_gdiplusLoaded =
        LoadGdiplus(&g_gdiplus) && g_gdiplus.Startup(&token, &input, nullptr) == 0;
    if (g_gdiplusLoaded) gdiplusToken.reset(token);

    CreateSplashWindow(static_cast<HINSTANCE>(instance));
    g_splashReady.store(1, std::memory_order_release);
  }
  PumpSplashMessages();
  return 0;
}
