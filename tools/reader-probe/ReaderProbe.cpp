// reader-probe: asks a reader module on a COM port who it is and polls it for a few cards, with the
// plain serial functions, printing every frame sent and every reply put together.
//   reader-probe COM7 [baud rate] [polls] [None|Even]

#include "reader/ReaderProtocol.h"
#include "reader/ReplyAssembler.h"
#include "kit/UniqueHandle.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char* OutcomeName(ReplyOutcome Outcome) {
    switch (Outcome) {
    case ReplyOutcome::Nothing:
        return "nothing";
    case ReplyOutcome::Incomplete:
        return "incomplete";
    case ReplyOutcome::Discarded:
        return "discarded";
    case ReplyOutcome::CheckFailed:
        return "check failed";
    case ReplyOutcome::Frame:
        return "frame";
    }
    return "?";
}

// Sends one command and reads its reply for up to a second; true when a checked frame came back.
bool Ask(HANDLE Port, std::string& ReplyBuffer, char Letter) {
    const std::string Frame = BuildCommandFrame(Letter, "");
    std::printf("-> %c   %s\n", Letter, HexBytes(Frame).c_str());
    DWORD Written = 0;
    if (!WriteFile(Port, Frame.data(), static_cast<DWORD>(Frame.size()), &Written, nullptr)) {
        std::printf("   write failed, error %lu\n", GetLastError());
        return false;
    }
    const DWORD Start = GetTickCount();
    while (GetTickCount() - Start < 1000) {
        COMSTAT Status{};
        DWORD Errors = 0;
        char Buffer[512];
        DWORD Read = 0;
        if (!ClearCommError(Port, &Errors, &Status) ||
            !ReadFile(Port, Buffer, sizeof Buffer, &Read, nullptr)) {
            std::printf("   the line failed, error %lu\n", GetLastError());
            return false;
        }
        if (Read == 0) {
            Sleep(5);
            continue;
        }
        const TReplyStep Step = AssembleReply(ReplyBuffer, Buffer, Read);
        std::printf("<-     %s   (%s)\n", HexBytes(std::string(Buffer, Read)).c_str(),
                    OutcomeName(Step.Outcome));
        if (Step.Outcome == ReplyOutcome::Incomplete || Step.Outcome == ReplyOutcome::Nothing)
            continue;
        if (Step.Outcome != ReplyOutcome::Frame)
            return false;
        std::printf("   module ID \"%s\", reply code \"%s\", data \"%s\"\n", Step.Frame.ModuleID.c_str(),
                    Step.Frame.ReplyCode.c_str(), Step.Frame.Data.c_str());
        ReplyBuffer.clear();
        return true;
    }
    std::printf("   no reply within 1000 ms\n");
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: reader-probe COM7 [baud rate] [polls] [None|Even]\n");
        return 2;
    }
    const std::string Device = std::string("\\\\.\\") + argv[1];
    const DWORD Baud = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 19200;
    const int Polls = argc > 3 ? std::atoi(argv[3]) : 3;
    const bool Even = argc > 4 && std::string(argv[4]) != "None";

    TUniqueHandle<TFileHandleTraits> Port(CreateFileA(Device.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                                      nullptr));
    if (!Port) {
        std::printf("cannot open %s, error %lu\n", Device.c_str(), GetLastError());
        return 1;
    }
    DCB Dcb{};
    Dcb.DCBlength = sizeof Dcb;
    Dcb.BaudRate = Baud;
    Dcb.fBinary = 1;
    Dcb.fDtrControl = DTR_CONTROL_ENABLE;
    Dcb.ByteSize = 8;
    Dcb.Parity = Even ? EVENPARITY : NOPARITY;
    Dcb.StopBits = ONESTOPBIT;
    if (!SetCommState(Port.Get(), &Dcb)) {
        std::printf("%s refuses %lu baud, %s parity: error %lu\n", argv[1], Baud, Even ? "even" : "no",
                    GetLastError());
        return 1;
    }
    // Reads return at once with whatever is queued.
    COMMTIMEOUTS Timeouts{MAXDWORD, 0, 0, 0, 100};
    SetCommTimeouts(Port.Get(), &Timeouts);
    PurgeComm(Port.Get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
    std::printf("%s open at %lu baud, 8 data bits, %s parity, 1 stop bit\n\n", argv[1], Baud,
                Even ? "even" : "no");

    std::string ReplyBuffer;
    int Frames = 0, Asked = 0;
    for (char Letter : std::string("BV") + std::string(static_cast<std::size_t>(std::max(Polls, 0)), 'F')) {
        Frames += Ask(Port.Get(), ReplyBuffer, Letter);
        ++Asked;
        std::printf("\n");
    }
    std::printf("%d of %d commands answered with a valid frame\n", Frames, Asked);
    return Frames == Asked ? 0 : 1;
}
