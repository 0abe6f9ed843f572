#pragma once
// The screen's pixels per inch, as the window or the system sees it. The forms are designed at 96
// pixels per inch; the layer places them at the DPI these functions give. The per-window and
// per-DPI functions came with Windows 10, and the program still starts on Windows 7: each is looked
// up once, and where it is missing the system DPI stands in, which is what that Windows uses for
// every window anyway.

#include <windows.h>

// The pixels per inch the forms are designed at.
constexpr int DesignPixelsPerInch = 96;

// The DPI of the system (the primary monitor's when the program started).
int SystemDpi();
// The DPI a window is drawn at: its monitor's for a per-monitor aware program.
int WindowDpi(HWND Window);
// A system metric (SM_CXICON, SM_CXSMICON, ...) at the given DPI.
int SystemMetricForDpi(int Index, int Dpi);
// The outer rectangle of a window whose client rectangle is Rect, with the frame of the given DPI.
void AdjustWindowRectForDpi(RECT& Rect, DWORD Style, DWORD ExStyle, int Dpi);
