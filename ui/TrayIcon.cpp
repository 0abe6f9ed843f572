#include "ui/TrayIcon.h"

#include "kit/Application.h"
#include "kit/ScreenDpi.h"

#include <algorithm>
#include <cstring>

UINT TrayNotifyIconMessage = 0;
std::shared_ptr<TIconManager> IconManager;
TTrayIconShell TrayIconShell;

namespace {

// The unit's start-up and shutdown. The start-up runs while the process starts, before main and so
// before any form exists; it makes no window (the manager's is made with the first icon), since a
// window made before main would belong to a program that has not started yet.
struct TTrayIconUnit {
    TTrayIconUnit() { TrayNotifyIconMessage = RegisterWindowMessageA("Tolvik.TrayNotifyIconMsg"); }
    ~TTrayIconUnit() { IconManager.reset(); }
} TrayIconUnit;

std::shared_ptr<TIconManager> TheIconManager() {
    if (!IconManager)
        IconManager = std::make_shared<TIconManager>();
    return IconManager;
}

constexpr UINT AllIconFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

} // namespace

// ---- TIconManager -----------------------------------------------------------------------------

TIconManager::TIconManager() {
    // An ordinary hidden top-level window, not a message-only one: only top-level windows hear the
    // shell's "TaskbarCreated" broadcast.
    FWindow = std::make_unique<TUtilityWindow>([this](TMessage& M) { CallbackWndProc(M); }, uwTopLevel);
    FTaskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    // An elevated process (Cardwick writes HKLM) hears no message from the shell's lower integrity
    // level unless it lets this one through.
    if (FTaskbarCreated)
        ChangeWindowMessageFilterEx(FWindow->Handle(), FTaskbarCreated, MSGFLT_ALLOW, nullptr);
}

TIconManager::~TIconManager() = default;

UINT TIconManager::Register(TTrayNotifyIcon* Icon) {
    // Zero is never handed out, and a number still in use is skipped after a wrap-around.
    while (FNextId == 0 || FIcons.count(FNextId))
        ++FNextId;
    const UINT Id = FNextId++;
    FIcons[Id] = Icon;
    return Id;
}

void TIconManager::Unregister(UINT Id) {
    FIcons.erase(Id);
}

TTrayNotifyIcon* TIconManager::Find(UINT Id) const {
    const auto Found = FIcons.find(Id);
    return Found == FIcons.end() ? nullptr : Found->second;
}

std::vector<UINT> TIconManager::Ids() const {
    std::vector<UINT> Found;
    for (const auto& Entry : FIcons)
        Found.push_back(Entry.first);
    return Found;
}

void TIconManager::CallbackWndProc(TMessage& Message) {
    const bool TaskbarCreated = Message.Msg == FTaskbarCreated && FTaskbarCreated != 0;
    if (TaskbarCreated || Message.Msg == WM_DPICHANGED || Message.Msg == WM_DISPLAYCHANGE) {
        // The notification area is on the primary monitor's taskbar, where this window sits too:
        // its scale is the taskbar's, and the pictures follow it.
        for (UINT Id : Ids())
            if (TTrayNotifyIcon* Icon = Find(Id))
                Icon->Raise(Icon->OnTaskbarChange);
        // A new taskbar (the shell restarted) knows no icon: add the visible ones again, or a
        // program hidden in the notification area could no longer be reached.
        if (TaskbarCreated)
            for (UINT Id : Ids())
                if (TTrayNotifyIcon* Icon = Find(Id); Icon && Icon->FIconVisible)
                    Icon->NotifyShell(NIM_ADD, AllIconFlags);
        FWindow->DefaultHandler(Message);
        return;
    }
    if (Message.Msg != TrayNotifyIconMessage) {
        FWindow->DefaultHandler(Message);
        return;
    }
    // The identifier comes from outside the process: one that belongs to no live icon is ignored.
    TTrayNotifyIcon* Icon = Find(static_cast<UINT>(Message.WParam));
    if (!Icon)
        return;
    switch (static_cast<UINT>(Message.LParam)) {
    case WM_LBUTTONDOWN:
        Icon->FClickTimer->SetEnabled(true);
        break;
    case WM_LBUTTONDBLCLK:
        Icon->FDoubleClickSeen = true;
        Icon->Raise(Icon->OnDblClick);
        break;
    case WM_RBUTTONDOWN:
        if (TPopupMenu* Menu = Icon->FPopupMenu) {
            SetForegroundWindow(Handle());
            POINT Cursor{};
            GetCursorPos(&Cursor);
            Menu->Popup(Cursor.x, Cursor.y);
            // Lets the menu's owner leave the foreground properly; the icon may be gone by now, so
            // nothing of it is touched after the menu.
            PostMessageA(Handle(), WM_USER, 0, 0);
        }
        break;
    default:
        break;
    }
}

// ---- TTrayNotifyIcon --------------------------------------------------------------------------

TTrayNotifyIcon::TTrayNotifyIcon(TComponent* AOwner) : TComponent(AOwner), FManager(TheIconManager()) {
    FIconId = FManager->Register(this);
    FIcon = std::make_unique<TIcon>();
    FClickTimer = std::make_unique<TTimer>(nullptr);
    FClickTimer->SetEnabled(false);
    FClickTimer->SetInterval(GetDoubleClickTime());
    FClickTimer->OnTimer = TNotifyEvent(this, &TTrayNotifyIcon::ClickTimerTick);
    LoadFallbackIcon();
}

TTrayNotifyIcon::~TTrayNotifyIcon() {
    if (FIconVisible)
        SetIconVisible(false);
    FManager->Unregister(FIconId);
    FIcon.reset();
    FClickTimer.reset();
}

void TTrayNotifyIcon::LoadFallbackIcon() {
    FFallbackIcon = LoadIconA(nullptr, IDI_WINLOGO);
}

void TTrayNotifyIcon::SetIcon(const TIcon* Value) {
    if (Value)
        FIcon->Assign(*Value);
    else
        FIcon->SetHandle(nullptr);
    if (FIconVisible)
        NotifyShell(NIM_MODIFY, NIF_ICON);
}

void TTrayNotifyIcon::SetHideTask(bool Value) {
    if (Value == FHideTask)
        return;
    FHideTask = Value;
    if (ComponentState().Contains(csDesigning))
        return;
    ShowWindow(Application->Handle(), Value ? SW_HIDE : SW_SHOWNORMAL);
}

void TTrayNotifyIcon::SetHint(const std::string& Value) {
    if (Value == FHint)
        return;
    FHint = Value;
    if (FIconVisible)
        NotifyShell(NIM_MODIFY, NIF_TIP);
}

void TTrayNotifyIcon::SetIconVisible(bool Value) {
    if (Value == FIconVisible)
        return;
    FIconVisible = Value;
    NotifyShell(Value ? NIM_ADD : NIM_DELETE, AllIconFlags);
}

void TTrayNotifyIcon::SetPopupMenu(TPopupMenu* Value) {
    FPopupMenu = Value;
    if (Value)
        Value->FreeNotification(this);
}

void TTrayNotifyIcon::Loaded() {
    TComponent::Loaded();
    if (FIconVisible)
        NotifyShell(NIM_ADD, AllIconFlags);
}

void TTrayNotifyIcon::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent != nullptr && AComponent == FPopupMenu)
        FPopupMenu = nullptr;
}

int TTrayNotifyIcon::PictureSize() const {
    return SystemMetricForDpi(SM_CXSMICON, WindowDpi(FManager->Handle()));
}

HICON TTrayNotifyIcon::CurrentIconHandle() const {
    const HICON Own = FIcon->Handle();
    return Own ? Own : FFallbackIcon;
}

void TTrayNotifyIcon::NotifyShell(DWORD Message, UINT Flags) {
    // The first form of the record: every shell version accepts it.
    FIconData = NOTIFYICONDATAA{};
    FIconData.cbSize = NOTIFYICONDATAA_V1_SIZE;
    // The first form's tip field is 64 bytes, null included; the longer field of later forms is
    // not part of the record the shell is told about.
    constexpr std::size_t TipSize = 64;
    const std::size_t TipLength = std::min(FHint.size(), TipSize - 1);
    std::memcpy(FIconData.szTip, FHint.data(), TipLength);
    FIconData.szTip[TipLength] = '\0';
    FIconData.uFlags = Flags;
    FIconData.uID = FIconId;
    FIconData.hWnd = FManager->Handle();
    FIconData.uCallbackMessage = TrayNotifyIconMessage;
    FIconData.hIcon = CurrentIconHandle();
    // A refused request changes nothing and is not an error of the program.
    TrayIconShell.NotifyIcon(Message, &FIconData);
}

void TTrayNotifyIcon::ClickTimerTick(TObject*) {
    FClickTimer->SetEnabled(false);
    // The flag is reset before the event: its handler may free this icon.
    const bool SingleClick = !FDoubleClickSeen;
    FDoubleClickSeen = false;
    if (SingleClick)
        Raise(OnClick);
}
