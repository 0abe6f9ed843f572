#include "tests/win/UiDriverClient.h"

#include "kit/Application.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

// The build gives the driver's path on the build machine; Wine sees the Unix root as drive Z:.
std::string DriverPath() {
    std::string Path = CARDWICK_UIDRIVER_PATH;
    if (!Path.empty() && Path[0] == '/')
        Path = "Z:" + Path;
    std::replace(Path.begin(), Path.end(), '/', '\\');
    return Path;
}

} // namespace

std::string TUiAnswer::Value(const std::string& Key) const {
    for (const std::string& Row : Rows)
        if (Row.rfind(Key + "\t", 0) == 0)
            return Row.substr(Key.size() + 1);
    return "<no " + Key + ">";
}

std::vector<std::string> TUiAnswer::Fields(const std::string& Row) {
    std::vector<std::string> Out(1);
    for (char C : Row)
        if (C == '\t')
            Out.emplace_back();
        else
            Out.back() += C;
    return Out;
}

TUiDriverClient::TUiDriverClient() {
    SECURITY_ATTRIBUTES Inherit = {sizeof Inherit, nullptr, TRUE};
    // The child's ends are closed here whatever happens, so that reading ours ends when the driver does.
    TUniqueHandle<TFileHandleTraits> ChildIn, ChildOut;
    if (!CreatePipe(ChildIn.Put(), FToDriver.Put(), &Inherit, 0) ||
        !CreatePipe(FFromDriver.Put(), ChildOut.Put(), &Inherit, 0))
        throw std::runtime_error("cannot create the driver's pipes");
    SetHandleInformation(FToDriver.Get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(FFromDriver.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA Startup = {};
    Startup.cb = sizeof Startup;
    Startup.dwFlags = STARTF_USESTDHANDLES;
    Startup.hStdInput = ChildIn.Get();
    Startup.hStdOutput = ChildOut.Get();
    Startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION Info = {};
    std::string CommandLine = "\"" + DriverPath() + "\"";
    BOOL Started = CreateProcessA(nullptr, CommandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                  nullptr, nullptr, &Startup, &Info);
    ChildIn.Reset();
    ChildOut.Reset();
    if (!Started)
        throw std::runtime_error("cannot start " + DriverPath());
    TUniqueHandle<TFileHandleTraits> Thread(Info.hThread);
    FProcess.Reset(Info.hProcess);
}

TUiDriverClient::~TUiDriverClient() {
    try {
        Send("quit");
    } catch (...) {
    }
    // Closing its input tells the driver to end; the other handles close with the members.
    FToDriver.Reset();
    if (FProcess && WaitForSingleObject(FProcess.Get(), 5000) != WAIT_OBJECT_0)
        TerminateProcess(FProcess.Get(), 1);
}

void TUiDriverClient::Send(const std::string& Command) {
    std::string Line = Command + "\n";
    DWORD Written = 0;
    if (!WriteFile(FToDriver.Get(), Line.data(), static_cast<DWORD>(Line.size()), &Written, nullptr) ||
        Written != Line.size())
        throw std::runtime_error("the driver does not take commands");
}

bool TUiDriverClient::ReadLine(std::string& Line, DWORD Deadline) {
    for (;;) {
        size_t End = FPending.find('\n');
        if (End != std::string::npos) {
            Line = FPending.substr(0, End);
            FPending.erase(0, End + 1);
            if (!Line.empty() && Line.back() == '\r')
                Line.pop_back();
            return true;
        }
        DWORD Available = 0;
        if (!PeekNamedPipe(FFromDriver.Get(), nullptr, 0, nullptr, &Available, nullptr))
            throw std::runtime_error("the driver has gone");
        if (Available) {
            char Buffer[4096];
            DWORD Got = 0;
            if (!ReadFile(FFromDriver.Get(), Buffer, std::min<DWORD>(Available, sizeof Buffer), &Got,
                          nullptr))
                throw std::runtime_error("cannot read from the driver");
            FPending.append(Buffer, Got);
            continue;
        }
        if (static_cast<LONG>(GetTickCount() - Deadline) >= 0)
            return false;
        // Our windows must answer the driver's messages while we wait for it.
        Application->ProcessMessages();
        MsgWaitForMultipleObjectsEx(0, nullptr, 5, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

TUiAnswer TUiDriverClient::Receive(DWORD TimeoutMs) {
    DWORD Deadline = GetTickCount() + TimeoutMs;
    TUiAnswer Answer;
    std::string Line;
    while (ReadLine(Line, Deadline)) {
        if (Line.rfind("| ", 0) == 0) {
            Answer.Rows.push_back(Line.substr(2));
        } else if (Line.rfind("ok", 0) == 0 || Line.rfind("error", 0) == 0) {
            Answer.Ok = Line.rfind("ok", 0) == 0;
            Answer.Status = Line;
            return Answer;
        }
    }
    throw std::runtime_error("no answer from the driver in time");
}

std::string TUiDriverClient::HandleText(HWND Window) {
    char Text[32];
    std::snprintf(Text, sizeof Text, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(Window)));
    return Text;
}

void PumpMessages(DWORD Ms) {
    DWORD Deadline = GetTickCount() + Ms;
    while (static_cast<LONG>(GetTickCount() - Deadline) < 0) {
        Application->ProcessMessages();
        MsgWaitForMultipleObjectsEx(0, nullptr, 5, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}
