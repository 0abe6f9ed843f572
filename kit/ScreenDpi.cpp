#include "kit/ScreenDpi.h"

#include "kit/UniqueHandle.h"

namespace {

template <class TFunction> TFunction User32Function(const char* Name) {
    HMODULE User32 = GetModuleHandleA("user32.dll");
    return User32 ? reinterpret_cast<TFunction>(reinterpret_cast<void*>(GetProcAddress(User32, Name)))
                  : nullptr;
}

using TGetDpiForSystem = UINT(WINAPI*)();
using TGetDpiForWindow = UINT(WINAPI*)(HWND);
using TGetSystemMetricsForDpi = int(WINAPI*)(int, UINT);
using TAdjustWindowRectExForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

} // namespace

int SystemDpi() {
    static const auto GetDpiForSystem = User32Function<TGetDpiForSystem>("GetDpiForSystem");
    if (GetDpiForSystem)
        return static_cast<int>(GetDpiForSystem());
    TWindowDC Screen(nullptr);
    int Dpi = GetDeviceCaps(Screen.Get(), LOGPIXELSY);
    return Dpi > 0 ? Dpi : DesignPixelsPerInch;
}

int WindowDpi(HWND Window) {
    static const auto GetDpiForWindow = User32Function<TGetDpiForWindow>("GetDpiForWindow");
    if (GetDpiForWindow && Window) {
        if (UINT Dpi = GetDpiForWindow(Window))
            return static_cast<int>(Dpi);
    }
    return SystemDpi();
}

int SystemMetricForDpi(int Index, int Dpi) {
    static const auto GetSystemMetricsForDpi =
        User32Function<TGetSystemMetricsForDpi>("GetSystemMetricsForDpi");
    if (GetSystemMetricsForDpi)
        return GetSystemMetricsForDpi(Index, static_cast<UINT>(Dpi));
    return MulDiv(GetSystemMetrics(Index), Dpi, SystemDpi());
}

void AdjustWindowRectForDpi(RECT& Rect, DWORD Style, DWORD ExStyle, int Dpi) {
    static const auto AdjustWindowRectExForDpi =
        User32Function<TAdjustWindowRectExForDpi>("AdjustWindowRectExForDpi");
    if (AdjustWindowRectExForDpi &&
        AdjustWindowRectExForDpi(&Rect, Style, FALSE, ExStyle, static_cast<UINT>(Dpi)))
        return;
    AdjustWindowRectEx(&Rect, Style, FALSE, ExStyle);
}
