// Reads, from outside, the figures of a running process that grow when it leaks: private bytes,
// handles, GDI and USER objects, windows and threads. The soak benchmark runs it once a sample.
// usage: ProcStats EXE_NAME   (for example Cardwick.exe; the first process of that name)
// Prints one line of name=value pairs, or "error ..." and exits 1.

#include "kit/UniqueHandle.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

namespace {

struct TProcessFound {
    DWORD Id = 0;
    DWORD Threads = 0;
};

TProcessFound FindProcess(const std::string& ExeName) {
    TProcessFound Found;
    const TUniqueHandle<TFileHandleTraits> Snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!Snapshot)
        return Found;
    PROCESSENTRY32 Entry = {};
    Entry.dwSize = sizeof Entry;
    for (BOOL More = Process32First(Snapshot.Get(), &Entry); More;
         More = Process32Next(Snapshot.Get(), &Entry))
        if (_stricmp(Entry.szExeFile, ExeName.c_str()) == 0) {
            Found.Id = Entry.th32ProcessID;
            Found.Threads = Entry.cntThreads;
            break;
        }
    return Found;
}

struct TWindowCount {
    DWORD ProcessId;
    long Count;
};

BOOL CALLBACK CountChild(HWND, LPARAM Param) noexcept {
    ++reinterpret_cast<TWindowCount*>(Param)->Count;
    return TRUE;
}

// Every window of the process, top-level and child: the USER objects that can be seen from outside
// when the system does not count them itself.
BOOL CALLBACK CountTopLevel(HWND Window, LPARAM Param) noexcept {
    auto* Windows = reinterpret_cast<TWindowCount*>(Param);
    DWORD Owner = 0;
    GetWindowThreadProcessId(Window, &Owner);
    if (Owner == Windows->ProcessId) {
        ++Windows->Count;
        EnumChildWindows(Window, &CountChild, Param);
    }
    return TRUE;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("error usage: ProcStats EXE_NAME\n");
        return 1;
    }
    const TProcessFound Process = FindProcess(argv[1]);
    if (!Process.Id) {
        std::printf("error no process %s\n", argv[1]);
        return 1;
    }
    const TUniqueHandle<TFileHandleTraits> Handle(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, Process.Id));
    if (!Handle) {
        std::printf("error cannot open process %lu (error %lu)\n", Process.Id, GetLastError());
        return 1;
    }
    PROCESS_MEMORY_COUNTERS_EX Memory = {};
    Memory.cb = sizeof Memory;
    const bool HaveMemory = GetProcessMemoryInfo(
        Handle.Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&Memory), sizeof Memory);
    DWORD Handles = 0;
    const bool HaveHandles = GetProcessHandleCount(Handle.Get(), &Handles);
    TWindowCount Windows{Process.Id, 0};
    EnumWindows(&CountTopLevel, reinterpret_cast<LPARAM>(&Windows));
    // -1 where the system does not say.
    std::printf("pid=%lu private=%lld workingset=%lld handles=%ld gdi=%lu user=%lu windows=%ld threads=%lu\n",
                Process.Id, HaveMemory ? static_cast<long long>(Memory.PrivateUsage) : -1LL,
                HaveMemory ? static_cast<long long>(Memory.WorkingSetSize) : -1LL,
                HaveHandles ? static_cast<long>(Handles) : -1L, GetGuiResources(Handle.Get(), GR_GDIOBJECTS),
                GetGuiResources(Handle.Get(), GR_USEROBJECTS), Windows.Count, Process.Threads);
    return 0;
}
