#pragma once
// The application object: the title, the message loop and its waits, the standard error display,
// and the application window, the zero-size top-level window that carries the program's one
// taskbar button and owns every form.

#include "kit/Component.h"
#include "kit/Events.h"
#include "kit/UniqueHandle.h"
#include "kit/UtilityWindow.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <windows.h>

class TForm;

class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    const std::string& Title() const { return FTitle; }
    void SetTitle(const std::string& Value);

    // The application window, created on first use.
    HWND Handle();

    // Makes the application window and initialises COM for this thread (apartment-threaded, as
    // the shell's functions want it).
    void Initialize();
    // Destroys every form, last created first, while the rest of the program still exists; the
    // program block calls it before it returns. Safe to call more than once.
    void DestroyForms();

    // Creates a form owned by the application; the first form created becomes MainForm.
    // Defined with the forms in kit/Forms.h, which knows TForm whole.
    template <class TFormClass> void CreateForm(TFormClass*& Reference);
    TForm* MainForm() const { return FMainForm; }
    // Whether Run shows the main form. Set it to false before Run to start hidden.
    bool ShowMainForm() const { return FShowMainForm; }
    void SetShowMainForm(bool Value) { FShowMainForm = Value; }
    // Set by the forms layer (kit/Forms.cpp): shows MainForm when Run starts, if ShowMainForm.
    std::function<void()> ShowMainFormOnRun;

    // Dispatches messages until Terminate.
    void Run();
    // Ends Run, and makes every wait loop that checks Terminated give up.
    void Terminate();
    bool Terminated() const { return FTerminated; }

    // The session is ending (WM_ENDSESSION to any of the program's top-level windows, with or
    // without ENDSESSION_CLOSEAPP): raises OnEndSession once, quietly, then terminates. The
    // process may be ended as soon as the message returns, so OnEndSession does its clean-up at
    // once. Asked first (WM_QUERYENDSESSION), the program always agrees.
    void EndSession();
    TNotifyEvent OnEndSession;

    // One running copy per user session: claims the name for this process and returns true, or,
    // when another process of the session holds it, asks that one to show its main form and
    // returns false.
    bool ClaimInstance(const std::string& Name);

    // Dispatches every pending message and returns at once when none is left.
    void ProcessMessages();
    // Dispatches one message, or, when none is pending, blocks until one arrives.
    void HandleMessage();
    // Blocks until a message (posted, sent, input, timer or paint) is waiting, or until TimeoutMs
    // has passed; returns whether one is waiting. Wait loops call ProcessMessages, check their
    // flags, then call this: the flags change only inside message handlers, so nothing is missed
    // and an idle wait costs no CPU.
    bool WaitForMessage(DWORD TimeoutMs = INFINITE);

    // Gives a message to the forms layer before it is translated and dispatched (dialog keys: Tab,
    // Enter, Escape); returns true when the message was consumed. Set by kit/Forms.cpp.
    std::function<bool(MSG&)> MessageFilter;

    // The standard error display: a message box with the exception's text, the title as its
    // caption and the error icon. Call it inside a catch block (E defaults to the exception being
    // handled). The program goes on afterwards.
    void HandleException(TObject* Sender, std::exception_ptr E = std::current_exception());
    static std::string ExceptionText(std::exception_ptr E);

    // Every message box of the layer goes through here. Owner null means the active window of the
    // application. Returns the button the user pressed.
    int MessageBox(const std::string& Text, const std::string& Caption, UINT Flags, HWND Owner = nullptr);
    // Test seam: when set, message boxes are handed to it instead of being shown, and its result is
    // the button pressed.
    std::function<int(const std::string& Text, const std::string& Caption, UINT Flags)> MessageBoxSeam;
    // The message boxes open now, counted from the outermost: how many, and closing one as if its
    // OK had been pressed (false when it is not, or no longer, on the screen). Its MessageBox call
    // returns once the box's own loop has seen the close.
    std::size_t OpenMessageBoxes() const { return FOpenBoxes.size(); }
    bool CloseMessageBox(std::size_t Index);

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    void ApplicationWndProc(TMessage& Message);
    void LoadProgramIcon();
    void Dispatch(MSG& Msg);
    // Sees the windows the thread creates while a box is being shown, to learn the box's handle.
    static LRESULT CALLBACK WatchBoxCreation(int Code, WPARAM WParam, LPARAM LParam) noexcept;

    std::string FTitle;
    std::unique_ptr<TUtilityWindow> FWindow;
    bool FComInitialized = false;
    TForm* FMainForm = nullptr;
    bool FShowMainForm = true;
    bool FTerminated = false;
    bool FSessionEnded = false;
    TUniqueHandle<TFileHandleTraits> FInstanceMutex;
    UINT FShowRequestMessage = 0;
    // One entry a box, null until the box's window exists.
    std::vector<HWND> FOpenBoxes;
    // The entry whose window is still to be created.
    std::size_t FWatchedBox = SIZE_MAX;
};

extern TApplication* Application;
