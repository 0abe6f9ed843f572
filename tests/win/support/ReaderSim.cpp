#include "tests/win/support/ReaderSim.h"

#include <cctype>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace {

std::string Env(const char* Name) {
    const char* Value = std::getenv(Name);
    if (!Value || !*Value)
        throw std::runtime_error(std::string("environment variable ") + Name + " is not set");
    return Value;
}

std::string Quote(const std::string& Arg) {
    if (!Arg.empty() && Arg.find_first_of(" \t\"") == std::string::npos)
        return Arg;
    std::string Quoted = "\"";
    for (char C : Arg) {
        if (C == '"')
            Quoted += '\\';
        Quoted += C;
    }
    return Quoted + "\"";
}

std::string Lower(std::string Text) {
    for (char& C : Text)
        C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    return Text;
}

// Reads the whole file while reader-sim may still be writing it.
std::string ReadShared(const std::string& Path) {
    TSimHandle File(CreateFileA(Path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string Text;
    if (!File)
        return Text;
    char Buffer[4096];
    DWORD Read = 0;
    while (ReadFile(File.Get(), Buffer, sizeof Buffer, &Read, nullptr) && Read > 0)
        Text.append(Buffer, Read);
    return Text;
}

// GetProcAddress hands back a generic function pointer; go through void* to the real type.
template <typename T> T WineExport(const char* Name) {
    return reinterpret_cast<T>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), Name)));
}

unsigned NextSimNumber() {
    static unsigned Counter = 0;
    return ++Counter;
}

} // namespace

std::string UnixPathOf(const std::string& WindowsPath) {
    using TGetUnix = char*(CDECL*)(LPCWSTR);
    static const auto GetUnix = WineExport<TGetUnix>("wine_get_unix_file_name");
    if (!GetUnix)
        throw std::runtime_error("not running under Wine: no wine_get_unix_file_name");
    std::wstring Wide(WindowsPath.begin(), WindowsPath.end());
    char* Unix = GetUnix(Wide.c_str());
    if (!Unix)
        throw std::runtime_error("no host path for " + WindowsPath);
    std::string Result = Unix;
    HeapFree(GetProcessHeap(), 0, Unix);
    return Result;
}

TReaderSim::TReaderSim(std::string PortName, std::vector<std::string> ExtraArgs) : Port(std::move(PortName)) {
    const std::string Sim = Env("CARDWICK_READER_SIM");
    const std::string Link = Env("CARDWICK_PORTS_DIR") + "/" + Lower(Port);

    char Temp[MAX_PATH];
    if (!GetTempPathA(MAX_PATH, Temp))
        throw std::runtime_error("GetTempPathA failed");
    Folder = std::string(Temp) + "reader-sim-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(NextSimNumber());
    if (!CreateDirectoryA(Folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw std::runtime_error("cannot create " + Folder);
    LogFile = Folder + "\\wire.log";
    StopFile = Folder + "\\stop";
    LifelineFile = Folder + "\\lifeline";
    DeleteFileA(StopFile.c_str());

    std::string CommandLine = Quote(Sim) + " --max-seconds 600 --link " + Quote(Link) + " --log " +
                              Quote(UnixPathOf(LogFile)) + " --stop-file " + Quote(UnixPathOf(StopFile)) +
                              " --lifeline " + Quote(UnixPathOf(LifelineFile));
    for (const auto& Arg : ExtraArgs)
        CommandLine += " " + Quote(Arg);

    STARTUPINFOA Startup{};
    Startup.cb = sizeof Startup;
    PROCESS_INFORMATION Info{};
    if (!CreateProcessA(nullptr, CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup,
                        &Info))
        throw std::runtime_error("cannot start " + CommandLine + " (error " + std::to_string(GetLastError()) +
                                 ")");
    TSimHandle Process(Info.hProcess), Thread(Info.hThread);

    // reader-sim notes its pty in the log once the port's symlink points at it.
    const DWORD Start = GetTickCount();
    for (;;) {
        for (const auto& Note : Notes())
            if (Note.rfind("ready on ", 0) == 0)
                Pty = Note.substr(9, Note.find(' ', 9) - 9);
        if (!Pty.empty())
            break;
        if (GetTickCount() - Start > 10000) {
            Stop();
            RemoveFolder();
            throw std::runtime_error("reader-sim did not get ready: " + CommandLine);
        }
        Sleep(2);
    }
    Lifeline.Reset(CreateFileA(LifelineFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!Lifeline) {
        const DWORD Error = GetLastError();
        Stop();
        RemoveFolder();
        throw std::runtime_error("cannot open reader-sim's lifeline (error " + std::to_string(Error) + ")");
    }
}

TReaderSim::~TReaderSim() {
    Stop();
    RemoveFolder();
}

void TReaderSim::Stop() {
    if (Stopped)
        return;
    Stopped = true;
    if (!Exited()) {
        TSimHandle Flag(CreateFileA(StopFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        Flag.Reset();
        WaitForExit(5000);
    }
    Lifeline.Reset();
}

bool TReaderSim::Exited() const {
    // reader-sim's last log line: the process handle Wine gives for a host program is not waitable.
    const auto Lines = LogLines();
    return !Lines.empty() && Lines.back().find(" NOTE exit") != std::string::npos;
}

bool TReaderSim::WaitForExit(DWORD TimeoutMs) const {
    const DWORD Start = GetTickCount();
    while (!Exited()) {
        if (GetTickCount() - Start > TimeoutMs)
            return false;
        Sleep(5);
    }
    return true;
}

std::vector<std::string> TReaderSim::LogLines() const {
    std::vector<std::string> Lines;
    std::istringstream Text(ReadShared(LogFile));
    std::string Line;
    // A line still being written has no line feed yet and is left for the next read.
    while (std::getline(Text, Line) && !Text.eof())
        Lines.push_back(Line);
    return Lines;
}

std::vector<TSimLogEntry> TReaderSim::Log() const {
    std::vector<TSimLogEntry> Entries;
    for (const auto& Line : LogLines()) {
        std::istringstream Fields(Line);
        long long Time = 0;
        std::string Tag;
        if (!(Fields >> Time >> Tag) || (Tag != "RX" && Tag != "TX"))
            continue;
        TSimLogEntry Entry;
        Entry.Direction = Tag == "RX" ? TSimLogEntry::Received : TSimLogEntry::Sent;
        Entry.TimeNs = Time;
        std::string Hex;
        while (Fields >> Hex)
            Entry.Bytes += static_cast<char>(std::stoi(Hex, nullptr, 16));
        Entries.push_back(std::move(Entry));
    }
    return Entries;
}

std::vector<std::string> TReaderSim::Notes() const {
    std::vector<std::string> Notes;
    for (const auto& Line : LogLines())
        if (const auto At = Line.find(" NOTE "); At != std::string::npos)
            Notes.push_back(Line.substr(At + 6));
    return Notes;
}

std::size_t TReaderSim::ReceivedCount() const {
    std::size_t Count = 0;
    for (const auto& Entry : Log())
        Count += Entry.Direction == TSimLogEntry::Received;
    return Count;
}

bool TReaderSim::WaitForReceived(std::size_t Count, DWORD TimeoutMs) const {
    const DWORD Start = GetTickCount();
    while (ReceivedCount() < Count) {
        if (GetTickCount() - Start > TimeoutMs)
            return false;
        Sleep(5);
    }
    return true;
}

void TReaderSim::RemoveFolder() {
    DeleteFileA(LogFile.c_str());
    DeleteFileA(StopFile.c_str());
    RemoveDirectoryA(Folder.c_str());
}
