#include "tools/uidriver/Remote.h"

#include <algorithm>
#include <cstring>

static HANDLE OpenWindowProcess(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
}

// Mapping a view into another process has no Win32 function before Windows 10 (MapViewOfFile2);
// the native call has been there since Windows NT.
using TNtMapViewOfSection = LONG(NTAPI*)(HANDLE Section, HANDLE Process, PVOID* Base, ULONG_PTR ZeroBits,
                                         SIZE_T CommitSize, PLARGE_INTEGER Offset, PSIZE_T ViewSize,
                                         DWORD InheritDisposition, ULONG AllocationType, ULONG Protect);
using TNtUnmapViewOfSection = LONG(NTAPI*)(HANDLE Process, PVOID Base);
constexpr DWORD ViewUnmap = 2;

template <typename TFunction> static TFunction NtFunction(const char* name) {
    return reinterpret_cast<TFunction>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

TRemoteBuffer::TRemoteBuffer(HWND owner, size_t size)
    : FProcess(OpenWindowProcess(owner)),
      FSection(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(size), nullptr)),
      FSize(size) {
    if (!FProcess.Get())
        throw ERemote("cannot open the window's process");
    if (!FSection.Get())
        throw ERemote("cannot create a shared section");
    FLocal = MapViewOfFile(FSection.Get(), FILE_MAP_WRITE, 0, 0, size);
    if (!FLocal)
        throw ERemote("cannot map the shared section");
    auto map = NtFunction<TNtMapViewOfSection>("NtMapViewOfSection");
    SIZE_T viewSize = 0;
    if (!map || map(FSection.Get(), FProcess.Get(), &FAddress, 0, 0, nullptr, &viewSize, ViewUnmap, 0,
                    PAGE_READWRITE) < 0) {
        UnmapViewOfFile(FLocal);
        throw ERemote("cannot map the shared section into the window's process");
    }
}

TRemoteBuffer::~TRemoteBuffer() {
    if (auto unmap = NtFunction<TNtUnmapViewOfSection>("NtUnmapViewOfSection"))
        unmap(FProcess.Get(), FAddress);
    UnmapViewOfFile(FLocal);
}

std::vector<char> TRemoteBuffer::Read(size_t size) const {
    const char* bytes = static_cast<const char*>(FLocal);
    return std::vector<char>(bytes, bytes + std::min(size, FSize));
}

void TRemoteBuffer::Write(const void* data, size_t size) {
    if (size > FSize)
        throw ERemote("too much for the shared section");
    memcpy(FLocal, data, size);
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
