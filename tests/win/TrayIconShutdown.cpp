// A program that ends with a visible tray icon still alive after the tray unit's own shutdown: the
// worst order at process end. The icon's holder is constructed before every other static object,
// so it is destroyed after all of them. Its destructor reports, on standard output:
//   UNIT-DOWN <0|1>     the unit had let go of the manager when the icon was destroyed
//   DELETE <message> <window alive 0|1>   each shell request from then on
//   MANAGER-GONE <0|1>  the manager's window was destroyed once the last icon was
//   END

#include "ui/TrayIcon.h"

#include <windows.h>

#include <memory>
#include <string>

// The holder below is constructed before the objects of every library, so it is destroyed after them.
#ifdef _MSC_VER
#pragma init_seg(lib)
#define CONSTRUCTED_FIRST
#else
#define CONSTRUCTED_FIRST __attribute__((init_priority(101)))
#endif

namespace {

void Say(const std::string& Line) {
    const std::string WithNewline = Line + "\n";
    DWORD Written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), WithNewline.data(), static_cast<DWORD>(WithNewline.size()),
              &Written, nullptr);
}

bool ShuttingDown = false;

BOOL WINAPI RecordingNotifyIcon(DWORD Message, PNOTIFYICONDATAA Data) {
    if (ShuttingDown)
        Say("REQUEST " + std::to_string(Message) + " " + (IsWindow(Data->hWnd) ? "1" : "0"));
    return Shell_NotifyIconA(Message, Data);
}

struct TLateHolder {
    std::unique_ptr<TComponent> Owner;
    HWND ManagerWindow = nullptr;
    ~TLateHolder() {
        ShuttingDown = true;
        Say(std::string("UNIT-DOWN ") + (IconManager ? "0" : "1"));
        Owner.reset();
        Say(std::string("MANAGER-GONE ") + (IsWindow(ManagerWindow) ? "0" : "1"));
        Say("END");
    }
};

CONSTRUCTED_FIRST TLateHolder LateHolder;

} // namespace

int main() {
    TrayIconShell.NotifyIcon = RecordingNotifyIcon;
    LateHolder.Owner = std::make_unique<TComponent>(nullptr);
    auto* Icon = new TTrayNotifyIcon(LateHolder.Owner.get());
    Icon->SetHint("Shutdown order");
    Icon->SetIconVisible(true);
    LateHolder.ManagerWindow = IconManager->Handle();
    Say("SHOWN");
    return 0;
}
