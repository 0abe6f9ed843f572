#include "kit/Menus.h"

#include "kit/UniqueHandle.h"

#include <algorithm>

// ---- TMenuItem --------------------------------------------------------------------------------

TMenuItem::TMenuItem(TComponent* AOwner) : TComponent(AOwner) {}

TMenuItem::~TMenuItem() {
    if (FMenu)
        FMenu->Remove(this);
}

void TMenuItem::Click() {
    if (FEnabled)
        Raise(OnClick);
}

// ---- TPopupMenu -------------------------------------------------------------------------------

TPopupMenu::TPopupMenu(TComponent* AOwner) : TComponent(AOwner) {
    // A top-level window: a menu needs an owner that can become the foreground window, which a
    // message-only window cannot.
    FWindow = std::make_unique<TUtilityWindow>([this](TMessage& M) { WndProc(M); }, uwTopLevel);
}

TPopupMenu::~TPopupMenu() {
    // Items live on with their owner; they only stop belonging to this menu.
    for (TMenuItem* Item : FItems) {
        Item->FMenu = nullptr;
        Item->FCommand = 0;
    }
    FItems.clear();
}

void TPopupMenu::Add(TMenuItem* Item) {
    if (!Item || Item->FMenu == this)
        return;
    if (Item->FMenu)
        Item->FMenu->Remove(Item);
    Item->FMenu = this;
    // Command numbers are never reused: a command posted for an item that has gone meanwhile must
    // not reach the item added after it.
    Item->FCommand = FNextCommand++;
    if (FNextCommand > 0xFFFF) // a menu command is 16 bits wide
        FNextCommand = 1;
    FItems.push_back(Item);
}

void TPopupMenu::Remove(TMenuItem* Item) {
    const auto Found = std::find(FItems.begin(), FItems.end(), Item);
    if (Found == FItems.end())
        return;
    FItems.erase(Found);
    Item->FMenu = nullptr;
    Item->FCommand = 0;
}

void TPopupMenu::Popup(int X, int Y) {
    // The system menu is built afresh for each showing from the items as they are now, and
    // destroyed when the menu has closed.
    const TUniqueHandle<TMenuTraits> Menu(CreatePopupMenu());
    if (!Menu)
        return;
    for (TMenuItem* Item : FItems) {
        const UINT Flags = MF_STRING | (Item->FEnabled ? MF_ENABLED : MF_GRAYED);
        AppendMenuA(Menu.Get(), Flags, Item->FCommand, Item->FCaption.c_str());
        if (Item->FDefault)
            SetMenuDefaultItem(Menu.Get(), Item->FCommand, FALSE);
    }
    // Right-to-left and some pen layouts set menus to drop to the left of the point.
    const UINT Alignment = GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
    TrackPopupMenuEx(Menu.Get(), Alignment | TPM_TOPALIGN | TPM_RIGHTBUTTON, X, Y, FWindow->Handle(), nullptr);
}

void TPopupMenu::WndProc(TMessage& Message) {
    if (Message.Msg == WM_COMMAND && HIWORD(Message.WParam) == 0) {
        const UINT Command = LOWORD(Message.WParam);
        // Looked up now: the item may have been removed or freed since the menu closed.
        for (TMenuItem* Item : FItems)
            if (Item->FCommand == Command) {
                Item->Click();
                return;
            }
        return;
    }
    FWindow->DefaultHandler(Message);
}
