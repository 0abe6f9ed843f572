#pragma once
// Talks to the UI driver (tools/uidriver) from a test program under Wine: the driver runs as a
// child process and reads this program's windows as another program would. While waiting for an
// answer the client dispatches this thread's messages, so the driver's reads of our windows are
// answered and its posted clicks handled. A click whose handler opens a modal box blocks in that
// box until it is dismissed: send the click and the dismissal together, then collect the answers.

#include "kit/UniqueHandle.h"

#include <windows.h>

#include <string>
#include <vector>

struct TUiAnswer {
    bool Ok = false;
    std::string Status;            // the final line: "ok" or "error <why>"
    std::vector<std::string> Rows; // the data lines, without their "| " mark
    // The rest of the row that starts with Key and a tab ("title\tWarning" gives "Warning").
    std::string Value(const std::string& Key) const;
    // The row's tab-separated fields.
    static std::vector<std::string> Fields(const std::string& Row);
};

class TUiDriverClient {
public:
    TUiDriverClient();
    ~TUiDriverClient();
    TUiDriverClient(const TUiDriverClient&) = delete;
    TUiDriverClient& operator=(const TUiDriverClient&) = delete;

    void Send(const std::string& Command);
    // The answer to the oldest command sent and not yet answered.
    TUiAnswer Receive(DWORD TimeoutMs = 30000);
    TUiAnswer Call(const std::string& Command) {
        Send(Command);
        return Receive();
    }

    static std::string HandleText(HWND Window);

private:
    bool ReadLine(std::string& Line, DWORD Deadline);

    TUniqueHandle<TFileHandleTraits> FProcess;
    TUniqueHandle<TFileHandleTraits> FToDriver;
    TUniqueHandle<TFileHandleTraits> FFromDriver;
    std::string FPending;
};

// Dispatches this thread's messages for about Ms milliseconds.
void PumpMessages(DWORD Ms);
