#include "tests/win/sink/KeySinkClient.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace {

// One code a character: \xNN and \uNNNN give the code they name.
std::wstring Unescape(const std::string& Text) {
    std::wstring Result;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] != '\\' || i + 1 >= Text.size()) {
            Result += static_cast<unsigned char>(Text[i]);
            continue;
        }
        const char Next = Text[++i];
        const std::size_t Digits = Next == 'x' ? 2 : Next == 'u' ? 4 : 0;
        if (Next == 'r')
            Result += L'\r';
        else if (Next == 'n')
            Result += L'\n';
        else if (Next == 't')
            Result += L'\t';
        else if (Digits && i + Digits < Text.size()) {
            Result += static_cast<wchar_t>(std::strtoul(Text.substr(i + 1, Digits).c_str(), nullptr, 16));
            i += Digits;
        } else
            Result += static_cast<unsigned char>(Next);
    }
    return Result;
}

TKeyStroke ParseStroke(std::istringstream& Fields) {
    TKeyStroke Stroke;
    std::string Direction;
    Fields >> std::hex >> Stroke.VirtualKey >> std::dec >> Stroke.ScanCode >> Direction;
    Stroke.Up = Direction == "UP";
    return Stroke;
}

} // namespace

TKeySinkReport ParseKeySinkReport(const std::vector<std::string>& Lines) {
    TKeySinkReport Report;
    for (const std::string& Line : Lines) {
        std::istringstream Fields(Line);
        std::string Kind;
        Fields >> Kind;
        if (Kind == "HOOK")
            Report.Hook.push_back(ParseStroke(Fields));
        else if (Kind == "MSG")
            Report.Messages.push_back(ParseStroke(Fields));
        else if (Kind == "TEXT") {
            Report.WideText = Line.size() > 5 ? Unescape(Line.substr(5)) : L"";
            // Codes above a byte have no place in the 8-bit text.
            for (const wchar_t Code : Report.WideText)
                Report.Text += Code > 0xFF ? '?' : static_cast<char>(Code);
        } else if (Kind == "CAPS")
            Report.CapsLock = Line == "CAPS ON";
    }
    return Report;
}

std::string TKeySinkProcess::ExecutablePath() {
    char Path[MAX_PATH];
    const DWORD Length = GetModuleFileNameA(nullptr, Path, MAX_PATH);
    std::string Folder(Path, Length);
    Folder.erase(Folder.find_last_of("\\/") + 1);
    return Folder + "sink\\KeySink.exe";
}

TKeySinkProcess::TKeySinkProcess(const std::string& Title, bool Unicode) {
    SECURITY_ATTRIBUTES Inherit{sizeof Inherit, nullptr, TRUE};
    HANDLE ChildIn = nullptr, ChildOut = nullptr;
    if (!CreatePipe(&ChildIn, &FToChild, &Inherit, 0) || !CreatePipe(&FFromChild, &ChildOut, &Inherit, 0))
        throw std::runtime_error("KeySink: no pipe");
    SetHandleInformation(FToChild, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(FFromChild, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA Startup{};
    Startup.cb = sizeof Startup;
    Startup.dwFlags = STARTF_USESTDHANDLES;
    Startup.hStdInput = ChildIn;
    Startup.hStdOutput = ChildOut;
    Startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string CommandLine =
        "\"" + ExecutablePath() + "\" --title \"" + Title + "\"" + (Unicode ? " --unicode" : "");
    const BOOL Started = CreateProcessA(nullptr, CommandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &Startup, &FProcess);
    CloseHandle(ChildIn);
    CloseHandle(ChildOut);
    if (!Started)
        throw std::runtime_error("KeySink: cannot start " + CommandLine);

    const std::string Ready = ReadLine(10000);
    if (Ready.rfind("READY ", 0) != 0)
        throw std::runtime_error("KeySink: no READY line, got '" + Ready + "'");
    FWindow = reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(Ready.c_str() + 6, nullptr, 16)));
}

TKeySinkProcess::~TKeySinkProcess() {
    DWORD Written = 0;
    WriteFile(FToChild, "quit\n", 5, &Written, nullptr);
    if (WaitForSingleObject(FProcess.hProcess, 5000) != WAIT_OBJECT_0)
        TerminateProcess(FProcess.hProcess, 1);
    CloseHandle(FProcess.hProcess);
    CloseHandle(FProcess.hThread);
    CloseHandle(FToChild);
    CloseHandle(FFromChild);
}

void TKeySinkProcess::Clear() {
    Command("clear", "OK");
}

void TKeySinkProcess::Focus() {
    Command("focus", "OK");
}

TKeySinkReport TKeySinkProcess::Report() {
    return ParseKeySinkReport(Command("report", "END"));
}

std::vector<std::string> TKeySinkProcess::Command(const std::string& Line, const std::string& Sentinel) {
    const std::string WithNewline = Line + "\n";
    DWORD Written = 0;
    if (!WriteFile(FToChild, WithNewline.data(), static_cast<DWORD>(WithNewline.size()), &Written, nullptr))
        throw std::runtime_error("KeySink: cannot send " + Line);
    std::vector<std::string> Lines;
    for (;;) {
        Lines.push_back(ReadLine(10000));
        if (Lines.back() == Sentinel)
            return Lines;
    }
}

// Reads up to a newline, never to end of file: Wine's own helper processes may hold the pipe too.
std::string TKeySinkProcess::ReadLine(DWORD TimeoutMs) {
    const DWORD Deadline = GetTickCount() + TimeoutMs;
    for (;;) {
        const auto End = FPending.find('\n');
        if (End != std::string::npos) {
            std::string Line = FPending.substr(0, End);
            FPending.erase(0, End + 1);
            if (!Line.empty() && Line.back() == '\r')
                Line.pop_back();
            return Line;
        }
        DWORD Available = 0;
        if (!PeekNamedPipe(FFromChild, nullptr, 0, nullptr, &Available, nullptr))
            throw std::runtime_error("KeySink: output closed");
        if (Available == 0) {
            if (static_cast<LONG>(GetTickCount() - Deadline) >= 0)
                throw std::runtime_error("KeySink: no answer in time");
            Sleep(10);
            continue;
        }
        char Buffer[512];
        DWORD Read = 0;
        if (!ReadFile(FFromChild, Buffer, Available < sizeof Buffer ? Available : sizeof Buffer, &Read,
                      nullptr))
            throw std::runtime_error("KeySink: output closed");
        FPending.append(Buffer, Read);
    }
}
