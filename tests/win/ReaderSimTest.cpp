// reader-sim as a real Win32 client sees it: the COM port of the Wine prefix, opened and driven
// with the plain serial functions, its replies put together by the reply assembly of reader/.
// Only what would hide a fault of the program if reader-sim got it wrong is checked here: the log
// that timing checks read, and the faults whose absence a test of the program would not notice (a
// reply that was never split, junk never sent, a block check wrong in more than its case, a frame
// shorter than the longest). A fault that makes the program's tests fail shows there already.

#include "reader/ReaderProtocol.h"
#include "reader/ReplyAssembler.h"
#include "tests/win/support/ReaderSim.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* Port = "COM7";

// A port opened the way the serial driver opens one, with reads that return at once.
class TRawPort {
public:
    explicit TRawPort(const std::string& Device) {
        Handle.Reset(CreateFileA(Device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        OpenError = Handle ? 0 : GetLastError();
        if (!Handle)
            return;
        DCB Dcb{};
        Dcb.DCBlength = sizeof Dcb;
        Dcb.BaudRate = 19200;
        Dcb.fBinary = 1;
        Dcb.fDtrControl = DTR_CONTROL_ENABLE;
        Dcb.ByteSize = 8;
        Dcb.Parity = NOPARITY;
        Dcb.StopBits = ONESTOPBIT;
        StateApplied = SetCommState(Handle.Get(), &Dcb);
        COMMTIMEOUTS Timeouts{MAXDWORD, 0, 0, 0, 10};
        SetCommTimeouts(Handle.Get(), &Timeouts);
        PurgeComm(Handle.Get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
    }
    // Wine opens a COM port whose device is gone all the same; only its settings are refused.
    bool Usable() const { return static_cast<bool>(Handle) && StateApplied; }

    TSimHandle Handle;
    DWORD OpenError = 0;
    bool StateApplied = false;
};

// One command and what came back, read in the pieces the port delivered them in.
struct TExchange {
    std::vector<std::string> Chunks;
    std::vector<ReplyOutcome> Outcomes;
    TReplyStep Last;
};

TExchange Exchange(TRawPort& Port, std::string& ReplyBuffer, char Letter, DWORD WaitMs = 3000) {
    TExchange Result;
    const std::string Frame = BuildCommandFrame(Letter, "");
    DWORD Written = 0;
    if (!WriteFile(Port.Handle.Get(), Frame.data(), static_cast<DWORD>(Frame.size()), &Written, nullptr))
        return Result;
    const DWORD Start = GetTickCount();
    while (GetTickCount() - Start < WaitMs) {
        // Polled the way the serial driver polls: the queue status first, then a read.
        COMSTAT Status{};
        DWORD Errors = 0;
        char Buffer[512];
        DWORD Read = 0;
        if (!ClearCommError(Port.Handle.Get(), &Errors, &Status) ||
            !ReadFile(Port.Handle.Get(), Buffer, sizeof Buffer, &Read, nullptr))
            break;
        if (Read == 0) {
            Sleep(2);
            continue;
        }
        Result.Chunks.emplace_back(Buffer, Read);
        Result.Last = AssembleReply(ReplyBuffer, Buffer, Read);
        Result.Outcomes.push_back(Result.Last.Outcome);
        if (Result.Last.Outcome != ReplyOutcome::Incomplete)
            break;
    }
    return Result;
}

std::string Joined(const std::vector<std::string>& Chunks) {
    std::string All;
    for (const auto& Chunk : Chunks)
        All += Chunk;
    return All;
}

void ExpectFrame(const TExchange& E, const char* Code, const std::string& Data) {
    ASSERT_EQ(E.Last.Outcome, ReplyOutcome::Frame) << "received '" << Joined(E.Chunks) << "'";
    EXPECT_EQ(E.Last.Frame.ReplyCode, Code);
    EXPECT_EQ(E.Last.Frame.Data, Data);
}

// The log holds the wire in order, each command exactly as sent and then its reply, on a clock
// that shows a reply's delay.
TEST(ReaderSim, AnswersAndLogsTheWireInOrderWithItsTimes) {
    TReaderSim Sim(Port, {"--module-id", "07", "--factory-code", "F00D42", "--version", "9.9", "--cards",
                          "123,,456", "--delay", "250"});
    TRawPort Line(Sim.DevicePath());
    ASSERT_TRUE(Line.Usable()) << "open error " << Line.OpenError;
    std::string Buffer;

    const auto B = Exchange(Line, Buffer, 'B');
    ExpectFrame(B, "B", "F00D42");
    EXPECT_EQ(B.Last.Frame.ModuleID, "07");
    ExpectFrame(Exchange(Line, Buffer, 'V'), "V", "9.9");
    for (const char* Card : {"123", "", "456", ""})
        ExpectFrame(Exchange(Line, Buffer, 'F'), "F", Card);

    const auto Log = Sim.Log();
    ASSERT_EQ(Log.size(), 12u);
    EXPECT_EQ(Log[0].Direction, TSimLogEntry::Received);
    EXPECT_EQ(Log[0].Bytes, BuildCommandFrame('B', ""));
    EXPECT_EQ(Log[1].Direction, TSimLogEntry::Sent);
    EXPECT_EQ(Log[1].Bytes, Joined(B.Chunks));
    for (std::size_t I = 1; I < Log.size(); I += 2)
        EXPECT_GE(Log[I].TimeNs - Log[I - 1].TimeNs, 250'000'000) << "reply " << I / 2;
}

struct TFaultCase {
    const char* Name;
    std::vector<std::string> Args;
    void (*Check)(const TExchange&);
};

std::string BlockCheck(const TExchange& E) {
    const std::string Reply = Joined(E.Chunks);
    return Reply.substr(Reply.size() - 3, 2);
}

std::string Upper(std::string Text) {
    for (char& C : Text)
        C = static_cast<char>(toupper(static_cast<unsigned char>(C)));
    return Text;
}

const TFaultCase FaultCases[] = {
    {"LowerCaseBCC",
     {"--lower-bcc"},
     [](const TExchange& E) {
         ASSERT_EQ(E.Last.Outcome, ReplyOutcome::CheckFailed);
         // The right value, only in lower case.
         const std::string Reply = Joined(E.Chunks);
         EXPECT_NE(BlockCheck(E), GetBCC(Reply.substr(0, Reply.size() - 3)));
         EXPECT_EQ(Upper(BlockCheck(E)), GetBCC(Reply.substr(0, Reply.size() - 3)));
     }},
    {"SplitReply",
     {"--split", "3", "--split-gap", "80"},
     [](const TExchange& E) {
         EXPECT_EQ(E.Outcomes,
                   (std::vector{ReplyOutcome::Incomplete, ReplyOutcome::Incomplete, ReplyOutcome::Frame}));
         ExpectFrame(E, "B", "30571846");
     }},
    {"JunkBeforeReply",
     {"--junk", "6"},
     [](const TExchange& E) {
         ASSERT_FALSE(E.Chunks.empty());
         EXPECT_NE(E.Chunks[0][0], '\n');
         EXPECT_EQ(E.Last.Outcome, ReplyOutcome::Discarded);
     }},
    {"LongestFrame",
     {"--oversize", "254"},
     [](const TExchange& E) {
         ASSERT_EQ(E.Last.Outcome, ReplyOutcome::Frame);
         EXPECT_EQ(E.Last.Frame.Data.size(), 246u);
     }},
};

class ReaderSimFault : public testing::TestWithParam<TFaultCase> {};

TEST_P(ReaderSimFault, ClientSeesTheFault) {
    TReaderSim Sim(Port, GetParam().Args);
    TRawPort Line(Sim.DevicePath());
    ASSERT_TRUE(Line.Usable()) << "open error " << Line.OpenError;
    std::string Buffer;
    GetParam().Check(Exchange(Line, Buffer, 'B'));
}

INSTANTIATE_TEST_SUITE_P(Faults, ReaderSimFault, testing::ValuesIn(FaultCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
