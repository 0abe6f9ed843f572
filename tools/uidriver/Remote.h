#pragma once
// Reading another process's windows. Messages below WM_USER that carry text are marshalled by the
// system; those of the common controls (WM_USER and above) are not, so their buffers must live in the
// owner's address space. Such a buffer is a section mapped into both processes: a 32-bit program
// under the user-mode emulator keeps its memory away from the addresses it uses, so
// ReadProcessMemory at those addresses reads other bytes, while a shared section holds the same
// bytes on both sides.

#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

class TUniqueHandle {
public:
    explicit TUniqueHandle(HANDLE handle = nullptr) : FHandle(handle) {}
    ~TUniqueHandle() {
        if (FHandle)
            CloseHandle(FHandle);
    }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;
    HANDLE Get() const { return FHandle; }

private:
    HANDLE FHandle;
};

// A block of memory shared with the process that owns a window. Each process gets one section,
// mapped into it at its first use and left there for the rest of its life: mapping or unmapping a
// view in another process runs in one of that process's threads, and Wine's 32-bit half under the
// user-mode emulator dies ("uncaught target signal 11") when such a request meets one of its threads
// ending, as the thread of a busy animation does when it stops. One mapping per process leaves that
// one chance, at the first read, instead of two at every read.
class TRemoteBuffer {
public:
    TRemoteBuffer(HWND owner, size_t size);
    TRemoteBuffer(const TRemoteBuffer&) = delete;
    TRemoteBuffer& operator=(const TRemoteBuffer&) = delete;

    LPARAM Address() const;
    std::vector<char> Read(size_t size) const;

    struct TShared;

private:
    TShared* FShared;
    size_t FSize;
};

class ERemote : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A message to a window of another process; a window that does not answer within the time-out
// (its thread busy outside any message loop) raises ERemote instead of hanging the driver.
LRESULT SendRemote(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT timeoutMs = 5000);

std::string RemoteText(HWND window);
std::string RemoteClassName(HWND window);
