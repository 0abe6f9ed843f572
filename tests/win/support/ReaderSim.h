#pragma once
// TReaderSim: a reader-sim plugged into one of the Wine prefix's COM ports, for the Windows tests.
//
// How it works: the test's COM ports are registered in the prefix as symlinks in
// $CARDWICK_PORTS_DIR (com3 .. com12). TReaderSim starts the native reader-sim
// ($CARDWICK_READER_SIM) with CreateProcessA, which Wine hands to the host when the file is a
// Linux program, and lets it point the port's symlink at its pty ("--link"). Such a child is
// detached from us: Wine gives it /dev/null for a Windows pipe as its stdout, no waitable process
// handle, and init as its parent. So reader-sim reports through files in a temporary folder
// instead: its log says when it is ready (the link is in place by then) and when it has exited;
// a stop file ends it; and a FIFO it makes ("--lifeline") is held open for writing by this object,
// so that reader-sim ends as soon as the test process dies, however it dies.
//
// Wine opens a COM port whose symlink dangles all the same; only the settings calls fail then
// (GetCommState, SetCommState, ClearCommError). A client sees an unplugged port there.
//
// The log: every frame reader-sim received (a command) or sent (a reply or a piece of one), with
// the host's monotonic time in nanoseconds. That clock is not Wine's QueryPerformanceCounter:
// compare log times only with each other.

#include "kit/UniqueHandle.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

using TSimHandle = TUniqueHandle<TFileHandleTraits>;

struct TSimLogEntry {
    enum TDirection { Received, Sent };
    TDirection Direction = Received;
    std::int64_t TimeNs = 0;
    std::string Bytes;
};

class TReaderSim {
public:
    // Port is "COM7" and so on; ExtraArgs go to reader-sim as they are ("--cards", "1,2").
    // Throws std::runtime_error when reader-sim cannot be started or does not get ready.
    explicit TReaderSim(std::string Port, std::vector<std::string> ExtraArgs = {});
    ~TReaderSim();
    TReaderSim(const TReaderSim&) = delete;
    TReaderSim& operator=(const TReaderSim&) = delete;

    // "\\.\COM7": the name a client opens.
    std::string DevicePath() const { return "\\\\.\\" + Port; }

    // Ends reader-sim (the line closes, the port's symlink goes) and waits until it has exited.
    void Stop();
    // True once reader-sim has exited, by Stop() or by itself (a closed line).
    bool Exited() const;
    // Waits for reader-sim to exit by itself.
    bool WaitForExit(DWORD TimeoutMs) const;

    std::vector<TSimLogEntry> Log() const;
    // The NOTE lines of the log (what reader-sim decided and why), for failure messages.
    std::vector<std::string> Notes() const;
    std::size_t ReceivedCount() const;
    // Waits until reader-sim has received at least Count command frames.
    bool WaitForReceived(std::size_t Count, DWORD TimeoutMs) const;

private:
    std::string Port;
    std::string Folder; // Windows path of this simulator's temporary folder
    std::string LogFile, StopFile, LifelineFile;
    std::string Pty;
    TSimHandle Lifeline;
    bool Stopped = false;

    std::vector<std::string> LogLines() const;
    void RemoveFolder();
};

// Host (unix) path of a Windows path, through Wine's own mapping.
std::string UnixPathOf(const std::string& WindowsPath);
