// Reads, from outside, the figures of a running process that grow when it leaks: private bytes,
// working set, handles, GDI and USER objects, windows and threads. The soak benchmark runs it once
// a sample.
// usage: ProcStats EXE_NAME   (for example Cardwick.exe; the first process of that name)
// Prints one line of name=value pairs, or "error ..." and exits 1.

#include "kit/UniqueHandle.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

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

// One entry of the system's handle table (SystemHandleInformation): the owner and the handle.
struct TSystemHandle {
    ULONG OwnerPid;
    BYTE ObjectType;
    BYTE HandleFlags;
    USHORT HandleValue;
    PVOID Object;
    ULONG AccessMask;
};
struct TSystemHandles {
    ULONG Count;
    TSystemHandle Handles[1];
};

// The process's handles as the system's handle table lists them: Wine answers GetProcessHandleCount
// for another process with 0, but keeps that table. -1 when the table cannot be read.
long HandlesInSystemTable(DWORD ProcessId) {
    using TQuery = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto Query = reinterpret_cast<TQuery>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!Query)
        return -1;
    constexpr ULONG SystemHandleInformation = 16;
    constexpr LONG InfoLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<char> Table(1 << 16);
    LONG Status;
    ULONG Needed = 0;
    // The table may grow between the calls.
    while ((Status = Query(SystemHandleInformation, Table.data(), static_cast<ULONG>(Table.size()),
                           &Needed)) == InfoLengthMismatch)
        Table.resize(std::max<std::size_t>(Table.size() * 2, Needed));
    if (Status != 0)
        return -1;
    const auto* Handles = reinterpret_cast<const TSystemHandles*>(Table.data());
    long Count = 0;
    for (ULONG I = 0; I < Handles->Count; ++I)
        Count += Handles->Handles[I].OwnerPid == ProcessId;
    return Count;
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
    DWORD HandleCount = 0;
    const long Handles = GetProcessHandleCount(Handle.Get(), &HandleCount) && HandleCount > 0
                             ? static_cast<long>(HandleCount)
                             : HandlesInSystemTable(Process.Id);
    TWindowCount Windows{Process.Id, 0};
    EnumWindows(&CountTopLevel, reinterpret_cast<LPARAM>(&Windows));
    // -1 where the system does not say.
    std::printf("pid=%lu private=%lld workingset=%lld handles=%ld gdi=%lu user=%lu windows=%ld threads=%lu\n",
                Process.Id, HaveMemory ? static_cast<long long>(Memory.PrivateUsage) : -1LL,
                HaveMemory ? static_cast<long long>(Memory.WorkingSetSize) : -1LL, Handles,
                GetGuiResources(Handle.Get(), GR_GDIOBJECTS), GetGuiResources(Handle.Get(), GR_USEROBJECTS),
                Windows.Count, Process.Threads);
    return 0;
}
