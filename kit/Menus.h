#pragma once
// Pop-up menus as components: a TPopupMenu holds TMenuItems in order and shows them at a screen
// position. A menu item is owned like any component (usually by the form) and belongs to at most
// one menu; destroying an item takes it out of its menu.

#include "kit/Component.h"
#include "kit/UtilityWindow.h"

#include <memory>
#include <string>
#include <vector>
#include <windows.h>

class TPopupMenu;

class TMenuItem : public TComponent {
public:
    explicit TMenuItem(TComponent* AOwner);
    ~TMenuItem() override;

    const std::string& Caption() const { return FCaption; } // "&" marks the accelerator
    void SetCaption(const std::string& Value) { FCaption = Value; }
    bool Default() const { return FDefault; } // default false; the default item is drawn bold
    void SetDefault(bool Value) { FDefault = Value; }
    bool Enabled() const { return FEnabled; } // default true
    void SetEnabled(bool Value) { FEnabled = Value; }

    TNotifyEvent OnClick;

    TPopupMenu* Menu() const { return FMenu; }
    // Raises OnClick, as choosing the item does.
    void Click();

private:
    friend class TPopupMenu;

    std::string FCaption;
    bool FDefault = false;
    bool FEnabled = true;
    TPopupMenu* FMenu = nullptr;
    UINT FCommand = 0; // the item's command number while it belongs to a menu
};

class TPopupMenu : public TComponent {
public:
    explicit TPopupMenu(TComponent* AOwner);
    ~TPopupMenu() override;

    // Appends an item, taking it from the menu it was in.
    void Add(TMenuItem* Item);
    void Remove(TMenuItem* Item);
    int Count() const { return static_cast<int>(FItems.size()); }
    TMenuItem* Items(int Index) const { return FItems.at(static_cast<std::size_t>(Index)); }

    // Shows the menu with a top corner at the screen point X, Y (the left one, or the right one where
    // the system drops menus to the left) and returns when the menu has closed. A menu loop
    // dispatches other messages meanwhile. The chosen item's OnClick runs from the message loop
    // after Popup has returned, as the system delivers menu commands.
    void Popup(int X, int Y);

    // The window that owns the menu while it is open (and receives its commands).
    HWND WindowHandle() const { return FWindow->Handle(); }

private:
    void WndProc(TMessage& Message);

    std::vector<TMenuItem*> FItems;
    UINT FNextCommand = 1;
    std::unique_ptr<TUtilityWindow> FWindow;
};
