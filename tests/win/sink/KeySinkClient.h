#pragma once
// Drives a KeySink process from a Windows test: starts it beside the test program, makes it the
// focused window, and reads back the key events and text it received.

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

struct TKeyStroke {
    unsigned VirtualKey = 0;
    unsigned ScanCode = 0;
    bool Up = false;
    bool operator==(const TKeyStroke&) const = default;
};

inline std::ostream& operator<<(std::ostream& Out, const TKeyStroke& Stroke) {
    return Out << std::hex << "{vk 0x" << Stroke.VirtualKey << std::dec << ", scan " << Stroke.ScanCode
               << (Stroke.Up ? ", up}" : ", down}");
}

struct TKeySinkReport {
    std::vector<TKeyStroke> Hook;     // as the low-level keyboard hook saw them
    std::vector<TKeyStroke> Messages; // as the window's keyboard messages carried them
    std::string Text;                 // what its WM_CHAR messages spelt
    std::wstring WideText;            // the same, a code each: a Unicode window's UTF-16 characters
    bool CapsLock = false;            // the toggle state in the sink's own thread
};

class TKeySinkProcess {
public:
    // Starts KeySink.exe from the "sink" folder beside the running program (the build layout), with
    // a Unicode window when asked, an ANSI one otherwise.
    explicit TKeySinkProcess(const std::string& Title = "Key Sink", bool Unicode = false);
    ~TKeySinkProcess();
    TKeySinkProcess(const TKeySinkProcess&) = delete;
    TKeySinkProcess& operator=(const TKeySinkProcess&) = delete;

    HWND Window() const { return FWindow; }
    void Clear();
    void Focus();
    TKeySinkReport Report();

    static std::string ExecutablePath();

private:
    // Sends one command and returns the lines of the answer up to and including Sentinel.
    std::vector<std::string> Command(const std::string& Line, const std::string& Sentinel);
    std::string ReadLine(DWORD TimeoutMs);

    PROCESS_INFORMATION FProcess{};
    HANDLE FToChild = nullptr;
    HANDLE FFromChild = nullptr;
    HWND FWindow = nullptr;
    std::string FPending;
};

// Parses one report (the lines up to "END"); exposed for the tests of the report format.
TKeySinkReport ParseKeySinkReport(const std::vector<std::string>& Lines);
