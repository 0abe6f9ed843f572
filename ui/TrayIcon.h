#pragma once
// The notification-area ("tray") icon: TTrayNotifyIcon puts one icon with a tip text into the
// notification area, reports a single and a double left click, opens its popup menu at the cursor on
// a right-button press, and can hide the application's taskbar button. TIconManager is the one
// object per process whose hidden window receives the shell's callbacks for every icon and routes
// each to its icon.

#include "kit/Component.h"
#include "kit/Graphics.h"
#include "kit/Menus.h"
#include "kit/Timer.h"
#include "kit/UtilityWindow.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <shellapi.h>
#include <string>
#include <vector>

class TTrayNotifyIcon;

class TIconManager : public TObject {
public:
    TIconManager();
    ~TIconManager() override;

    HWND Handle() const { return FWindow->Handle(); }

private:
    friend class TTrayNotifyIcon;

    // Icons are known to the shell by a small per-icon number: a 64-bit address does not fit its
    // 32-bit identifier. The number maps back to the icon while the icon lives.
    UINT Register(TTrayNotifyIcon* Icon);
    void Unregister(UINT Id);
    TTrayNotifyIcon* Find(UINT Id) const;

    void CallbackWndProc(TMessage& Message);
    // The icons' identifiers now: an event handler may free any icon.
    std::vector<UINT> Ids() const;

    std::unique_ptr<TUtilityWindow> FWindow;
    std::map<UINT, TTrayNotifyIcon*> FIcons;
    UINT FNextId = 1;
    UINT FTaskbarCreated = 0;
};

class TTrayNotifyIcon : public TComponent {
public:
    explicit TTrayNotifyIcon(TComponent* AOwner);
    ~TTrayNotifyIcon() override;

    // Published, in their order.
    TIcon* Icon() const { return FIcon.get(); } // default empty; the component's own picture
    void SetIcon(const TIcon* Value);
    bool HideTask() const { return FHideTask; } // default false
    void SetHideTask(bool Value);
    const std::string& Hint() const { return FHint; } // default empty
    void SetHint(const std::string& Value);
    bool IconVisible() const { return FIconVisible; } // default false
    void SetIconVisible(bool Value);
    TPopupMenu* PopupMenu() const { return FPopupMenu; } // default none
    void SetPopupMenu(TPopupMenu* Value);
    TNotifyEvent OnClick;    // a single left click, one double-click time after the press
    TNotifyEvent OnDblClick; // a double left click, at once
    // Not part of the design: the taskbar's scale may have changed (WM_DPICHANGED, WM_DISPLAYCHANGE)
    // or a new taskbar came ("TaskbarCreated", before the icon is added to it again). The picture
    // is then to be given again at PictureSize.
    TNotifyEvent OnTaskbarChange;

    // The side of the picture the notification area shows: the small icon size at the taskbar's
    // DPI, which the forms' need not share (a form may be on another monitor, and is usually
    // hidden).
    int PictureSize() const;

    void Loaded() override;

    // The identifier the shell knows this icon by, and the record of the last request.
    UINT IconId() const { return FIconId; }
    const NOTIFYICONDATAA& IconData() const { return FIconData; }

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;
    virtual void LoadFallbackIcon();

    void NotifyShell(DWORD Message, UINT Flags);
    HICON CurrentIconHandle() const;
    void ClickTimerTick(TObject* Sender);

private:
    friend class TIconManager;

    // Keeps the manager and its window alive as long as any icon is, whatever the order in which the
    // forms and the unit are torn down at process end.
    std::shared_ptr<TIconManager> FManager;
    UINT FIconId = 0;

    std::unique_ptr<TIcon> FIcon;
    bool FHideTask = false;
    std::string FHint;
    bool FIconVisible = false;
    TPopupMenu* FPopupMenu = nullptr;

    HICON FFallbackIcon = nullptr;
    std::unique_ptr<TTimer> FClickTimer;
    bool FDoubleClickSeen = false;
    NOTIFYICONDATAA FIconData{};
};

// The unit's process-wide state: the number of the registered message "Tolvik.TrayNotifyIconMsg"
// that the shell sends icon callbacks with (registered before any form is created), and the one
// manager, made with the first icon. At process end the unit lets go of the manager; icons still
// alive keep it until they are gone.
extern UINT TrayNotifyIconMessage;
extern std::shared_ptr<TIconManager> IconManager;

// The shell service behind NotifyShell, replaceable so that tests can watch every request.
struct TTrayIconShell {
    BOOL(WINAPI* NotifyIcon)(DWORD Message, PNOTIFYICONDATAA Data) = ::Shell_NotifyIconA;
};
extern TTrayIconShell TrayIconShell;
