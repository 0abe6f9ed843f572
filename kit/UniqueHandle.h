#pragma once
// One owning type for every kind of Win32 handle, as unique_ptr is for memory: a traits type says
// which value means "none", which values are real handles, and how to close one. Beside it, the
// device-context guards that pair a call with its undoing: a window's DC, a window's painting, and
// an object selected into a DC.

#include <windows.h>
#include <commctrl.h>

#include <utility>

template <class TTraits> class TUniqueHandle {
public:
    using THandle = typename TTraits::THandle;

    TUniqueHandle() noexcept = default;
    explicit TUniqueHandle(THandle Handle) noexcept : FHandle(Handle) {}
    TUniqueHandle(TUniqueHandle&& Other) noexcept : FHandle(Other.Release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& Other) noexcept {
        Reset(Other.Release());
        return *this;
    }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;
    ~TUniqueHandle() { Reset(); }

    THandle Get() const noexcept { return FHandle; }
    explicit operator bool() const noexcept { return TTraits::Valid(FHandle); }

    // Closes the handle held, if any, and takes New.
    void Reset(THandle New = TTraits::Empty()) noexcept {
        THandle Old = std::exchange(FHandle, New);
        if (TTraits::Valid(Old))
            TTraits::Close(Old);
    }
    // Gives the handle up without closing it.
    THandle Release() noexcept { return std::exchange(FHandle, TTraits::Empty()); }
    // Takes New and hands the old handle back in an owner of its own, for a caller that must tell
    // the handle's users of the new one before the old is freed.
    [[nodiscard]] TUniqueHandle Exchange(THandle New) noexcept {
        return TUniqueHandle(std::exchange(FHandle, New));
    }
    // For a function's out parameter; closes the handle held before.
    THandle* Put() noexcept {
        Reset();
        return &FHandle;
    }

private:
    THandle FHandle = TTraits::Empty();
};

// Kernel handles: files, devices, pipes, processes. CreateFile reports failure with
// INVALID_HANDLE_VALUE, most other functions with null; neither is closed.
struct TFileHandleTraits {
    using THandle = HANDLE;
    static HANDLE Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static bool Valid(HANDLE Handle) noexcept { return Handle && Handle != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE Handle) noexcept { CloseHandle(Handle); }
};

struct TRegKeyTraits {
    using THandle = HKEY;
    static HKEY Empty() noexcept { return nullptr; }
    static bool Valid(HKEY Key) noexcept { return Key != nullptr; }
    static void Close(HKEY Key) noexcept { RegCloseKey(Key); }
};

// Pens, brushes, fonts, bitmaps: whatever DeleteObject frees.
template <class TObjectHandle> struct TGdiObjectTraits {
    using THandle = TObjectHandle;
    static TObjectHandle Empty() noexcept { return nullptr; }
    static bool Valid(TObjectHandle Object) noexcept { return Object != nullptr; }
    static void Close(TObjectHandle Object) noexcept { DeleteObject(Object); }
};

using TFontTraits = TGdiObjectTraits<HFONT>;
using TBitmapTraits = TGdiObjectTraits<HBITMAP>;

// An icon or cursor made for us (loaded without LR_SHARED, copied, or taken from an image list).
struct TIconTraits {
    using THandle = HICON;
    static HICON Empty() noexcept { return nullptr; }
    static bool Valid(HICON Icon) noexcept { return Icon != nullptr; }
    static void Close(HICON Icon) noexcept { DestroyIcon(Icon); }
};

// A menu that no window owns: a window's own menu goes with the window.
struct TMenuTraits {
    using THandle = HMENU;
    static HMENU Empty() noexcept { return nullptr; }
    static bool Valid(HMENU Menu) noexcept { return Menu != nullptr; }
    static void Close(HMENU Menu) noexcept { DestroyMenu(Menu); }
};

struct TImageListTraits {
    using THandle = HIMAGELIST;
    static HIMAGELIST Empty() noexcept { return nullptr; }
    static bool Valid(HIMAGELIST List) noexcept { return List != nullptr; }
    static void Close(HIMAGELIST List) noexcept { ImageList_Destroy(List); }
};

struct TWindowsHookTraits {
    using THandle = HHOOK;
    static HHOOK Empty() noexcept { return nullptr; }
    static bool Valid(HHOOK Hook) noexcept { return Hook != nullptr; }
    static void Close(HHOOK Hook) noexcept { UnhookWindowsHookEx(Hook); }
};

// A DC made with CreateCompatibleDC or CreateDC, freed with DeleteDC.
struct TCreatedDCTraits {
    using THandle = HDC;
    static HDC Empty() noexcept { return nullptr; }
    static bool Valid(HDC DC) noexcept { return DC != nullptr; }
    static void Close(HDC DC) noexcept { DeleteDC(DC); }
};

// A window's DC (null for the screen's), given back with ReleaseDC to the same window.
class TWindowDC {
public:
    explicit TWindowDC(HWND Window) noexcept : FWindow(Window), FDC(GetDC(Window)) {}
    ~TWindowDC() {
        if (FDC)
            ReleaseDC(FWindow, FDC);
    }
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    HDC Get() const noexcept { return FDC; }

private:
    HWND FWindow;
    HDC FDC;
};

// A window's painting in answer to WM_PAINT: BeginPaint, and EndPaint however the painting ends,
// or the window is left invalid and WM_PAINT comes again at once.
class TPaintDC {
public:
    explicit TPaintDC(HWND Window) noexcept : FWindow(Window), FDC(BeginPaint(Window, &FPaint)) {}
    ~TPaintDC() {
        if (FDC)
            EndPaint(FWindow, &FPaint);
    }
    TPaintDC(const TPaintDC&) = delete;
    TPaintDC& operator=(const TPaintDC&) = delete;
    HDC Get() const noexcept { return FDC; }

private:
    HWND FWindow;
    PAINTSTRUCT FPaint = {};
    HDC FDC;
};

// Selects an object into a DC and puts the previous one back: a DC must not be freed, nor the
// object deleted, while the object is selected.
class TSelectObject {
public:
    TSelectObject(HDC DC, HGDIOBJ Object) noexcept : FDC(DC), FOld(SelectObject(DC, Object)) {}
    ~TSelectObject() {
        if (FOld)
            SelectObject(FDC, FOld);
    }
    TSelectObject(const TSelectObject&) = delete;
    TSelectObject& operator=(const TSelectObject&) = delete;

private:
    HDC FDC;
    HGDIOBJ FOld;
};
