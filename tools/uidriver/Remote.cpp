#include "tools/uidriver/Remote.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

// Mapping a view into another process has no Win32 function before Windows 10 (MapViewOfFile2);
// the native call has been there since Windows NT.
using TNtMapViewOfSection = LONG(NTAPI*)(HANDLE Section, HANDLE Process, PVOID* Base, ULONG_PTR ZeroBits,
                                         SIZE_T CommitSize, PLARGE_INTEGER Offset, PSIZE_T ViewSize,
                                         DWORD InheritDisposition, ULONG AllocationType, ULONG Protect);
constexpr DWORD ViewUnmap = 2;

template <typename TFunction> static TFunction NtFunction(const char* name) {
    return reinterpret_cast<TFunction>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

// Larger than any buffer a command asks for.
constexpr size_t SharedSize = 64 * 1024;

struct TRemoteBuffer::TShared {
    // Held open so that the process id is not given to another process while we keep its view.
    TUniqueHandle Process;
    TUniqueHandle Section;
    void* Local = nullptr;
    void* Remote = nullptr;

    TShared(HANDLE process, HANDLE section) : Process(process), Section(section) {}
    ~TShared() {
        // The remote view goes with its process; unmapping it would be the request we avoid.
        if (Local)
            UnmapViewOfFile(Local);
    }
    bool Alive() const { return WaitForSingleObject(Process.Get(), 0) == WAIT_TIMEOUT; }
};

static std::map<DWORD, std::unique_ptr<TRemoteBuffer::TShared>>& SharedByProcess() {
    static std::map<DWORD, std::unique_ptr<TRemoteBuffer::TShared>> shared;
    return shared;
}

TRemoteBuffer::TRemoteBuffer(HWND owner, size_t size) : FSize(size) {
    if (size > SharedSize)
        throw ERemote("too much for the shared section");
    DWORD processId = 0;
    GetWindowThreadProcessId(owner, &processId);
    auto& shared = SharedByProcess();
    // Ended processes' entries go: their ids may come back.
    for (auto it = shared.begin(); it != shared.end();)
        it = it->second->Alive() ? std::next(it) : shared.erase(it);
    if (auto found = shared.find(processId); found != shared.end()) {
        FShared = found->second.get();
        return;
    }
    auto entry = std::make_unique<TShared>(
        OpenProcess(PROCESS_VM_OPERATION | SYNCHRONIZE, FALSE, processId),
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(SharedSize),
                           nullptr));
    if (!entry->Process.Get())
        throw ERemote("cannot open the window's process");
    if (!entry->Section.Get())
        throw ERemote("cannot create a shared section");
    entry->Local = MapViewOfFile(entry->Section.Get(), FILE_MAP_WRITE, 0, 0, SharedSize);
    if (!entry->Local)
        throw ERemote("cannot map the shared section");
    auto map = NtFunction<TNtMapViewOfSection>("NtMapViewOfSection");
    SIZE_T viewSize = 0;
    if (!map || map(entry->Section.Get(), entry->Process.Get(), &entry->Remote, 0, 0, nullptr, &viewSize,
                    ViewUnmap, 0, PAGE_READWRITE) < 0)
        throw ERemote("cannot map the shared section into the window's process");
    FShared = entry.get();
    shared.emplace(processId, std::move(entry));
}

LPARAM TRemoteBuffer::Address() const {
    return reinterpret_cast<LPARAM>(FShared->Remote);
}

std::vector<char> TRemoteBuffer::Read(size_t size) const {
    const char* bytes = static_cast<const char*>(FShared->Local);
    return std::vector<char>(bytes, bytes + std::min(size, FSize));
}

LRESULT SendRemote(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT timeoutMs) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, timeoutMs, &result))
        throw ERemote("window does not answer");
    return static_cast<LRESULT>(result);
}

std::string RemoteText(HWND window) {
    LRESULT length = SendRemote(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    LRESULT got = SendRemote(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(std::max<LRESULT>(0, std::min<LRESULT>(got, length))));
    return text;
}

std::string RemoteClassName(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}
