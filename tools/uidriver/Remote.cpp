#include "tools/uidriver/Remote.h"

#include <algorithm>

static HANDLE OpenWindowProcess(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
}

TRemoteBuffer::TRemoteBuffer(HWND owner, size_t size) : FProcess(OpenWindowProcess(owner)), FSize(size) {
    if (!FProcess.Get())
        throw ERemote("cannot open the window's process");
    FAddress = VirtualAllocEx(FProcess.Get(), nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!FAddress)
        throw ERemote("cannot allocate memory in the window's process");
}

TRemoteBuffer::~TRemoteBuffer() {
    if (FAddress)
        VirtualFreeEx(FProcess.Get(), FAddress, 0, MEM_RELEASE);
}

std::vector<char> TRemoteBuffer::Read(size_t size) const {
    std::vector<char> data(std::min(size, FSize));
    SIZE_T done = 0;
    if (!ReadProcessMemory(FProcess.Get(), FAddress, data.data(), data.size(), &done) || done != data.size())
        throw ERemote("cannot read the window's process memory");
    return data;
}

void TRemoteBuffer::Write(const void* data, size_t size) {
    SIZE_T done = 0;
    if (size > FSize || !WriteProcessMemory(FProcess.Get(), FAddress, data, size, &done) || done != size)
        throw ERemote("cannot write the window's process memory");
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
