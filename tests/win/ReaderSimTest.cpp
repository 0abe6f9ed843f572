// reader-sim as a real Win32 client sees it: the COM port of the Wine prefix, opened and driven
// with the plain serial functions, its replies put together by the reply assembly of reader/.

#include "reader/ReaderProtocol.h"
#include "reader/ReplyAssembler.h"
#include "tests/win/support/ReaderSim.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace {

constexpr const char* Port = "COM7";

// A port opened the way the serial driver opens one, with reads that return at once.
class TRawPort {
public:
    explicit TRawPort(const std::string& Device, DWORD Baud = 19200, BYTE Parity = NOPARITY) {
        Handle.Reset(CreateFileA(Device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        OpenError = Handle ? 0 : GetLastError();
        if (!Handle)
            return;
        DCB Dcb{};
        Dcb.DCBlength = sizeof Dcb;
        Dcb.BaudRate = Baud;
        Dcb.fBinary = 1;
        Dcb.fDtrControl = DTR_CONTROL_ENABLE;
        Dcb.ByteSize = 8;
        Dcb.Parity = Parity;
        Dcb.StopBits = ONESTOPBIT;
        StateApplied = SetCommState(Handle.Get(), &Dcb);
        COMMTIMEOUTS Timeouts{MAXDWORD, 0, 0, 0, 10};
        SetCommTimeouts(Handle.Get(), &Timeouts);
        PurgeComm(Handle.Get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
    }
    bool IsOpen() const { return static_cast<bool>(Handle); }
    // Wine opens a COM port whose device is gone all the same; only its settings are refused.
    bool Usable() const { return IsOpen() && StateApplied; }

    TSimHandle Handle;
    DWORD OpenError = 0;
    bool StateApplied = false;
};

// One command and what came back, read in the pieces the port delivered them in.
struct TExchange {
    std::vector<std::string> Chunks;
    std::vector<ReplyOutcome> Outcomes;
    TReplyStep Last;
    DWORD PortError = 0; // set when a write or read failed
};

TExchange Exchange(TRawPort& Port, std::string& ReplyBuffer, char Letter, DWORD WaitMs = 600) {
    TExchange Result;
    const std::string Frame = BuildCommandFrame(Letter, "");
    DWORD Written = 0;
    if (!WriteFile(Port.Handle.Get(), Frame.data(), static_cast<DWORD>(Frame.size()), &Written, nullptr)) {
        Result.PortError = GetLastError();
        return Result;
    }
    const DWORD Start = GetTickCount();
    while (GetTickCount() - Start < WaitMs) {
        // Polled the way the serial driver polls: the queue status first, then a read.
        COMSTAT Status{};
        DWORD Errors = 0;
        char Buffer[512];
        DWORD Read = 0;
        if (!ClearCommError(Port.Handle.Get(), &Errors, &Status) ||
            !ReadFile(Port.Handle.Get(), Buffer, sizeof Buffer, &Read, nullptr)) {
            Result.PortError = GetLastError();
            break;
        }
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

TEST(ReaderSim, AnswersIdentificationAndCardPolls) {
    TReaderSim Sim(
        Port, {"--module-id", "07", "--factory-code", "F00D42", "--version", "9.9", "--cards", "123,,456"});
    TRawPort Line(Sim.DevicePath());
    ASSERT_TRUE(Line.Usable()) << "open error " << Line.OpenError;
    ASSERT_TRUE(Line.StateApplied);
    std::string Buffer;

    const auto B = Exchange(Line, Buffer, 'B');
    ExpectFrame(B, "B", "F00D42");
    EXPECT_EQ(B.Last.Frame.ModuleID, "07");
    ExpectFrame(Exchange(Line, Buffer, 'V'), "V", "9.9");
    for (const char* Card : {"123", "", "456", ""})
        ExpectFrame(Exchange(Line, Buffer, 'F'), "F", Card);

    // The log holds the wire in order: each command exactly as sent, then its reply.
    const auto Log = Sim.Log();
    ASSERT_EQ(Log.size(), 12u);
    EXPECT_EQ(Log[0].Direction, TSimLogEntry::Received);
    EXPECT_EQ(Log[0].Bytes, BuildCommandFrame('B', ""));
    EXPECT_EQ(Log[1].Direction, TSimLogEntry::Sent);
    EXPECT_EQ(Log[1].Bytes, Joined(B.Chunks));
    EXPECT_GE(Log[1].TimeNs, Log[0].TimeNs);
}

TEST(ReaderSim, GeneratedCardsAreDistinctAndCycle) {
    TReaderSim Sim(Port, {"--generate", "5", "--cycle", "--delay", "0"});
    TRawPort Line(Sim.DevicePath());
    std::string Buffer;
    std::vector<std::string> Cards;
    for (int I = 0; I < 6; ++I) {
        const auto E = Exchange(Line, Buffer, 'F');
        ASSERT_EQ(E.Last.Outcome, ReplyOutcome::Frame);
        Cards.push_back(E.Last.Frame.Data);
    }
    EXPECT_EQ(std::set<std::string>(Cards.begin(), Cards.begin() + 5).size(), 5u);
    EXPECT_FALSE(Cards[0].empty());
    EXPECT_EQ(Cards[5], Cards[0]);
}

// One row per fault: the arguments that switch it on, the commands sent, and what the client sees.
struct TFaultCase {
    const char* Name;
    std::vector<std::string> Args;
    std::string Commands;
    std::function<void(const std::vector<TExchange>&, TReaderSim&)> Check;
};

void ExpectSilence(const TExchange& E) {
    EXPECT_EQ(E.PortError, 0u);
    EXPECT_TRUE(E.Chunks.empty()) << "received '" << Joined(E.Chunks) << "'";
}

void ExpectLineClosed(const TExchange& E, TReaderSim& Sim) {
    EXPECT_EQ(E.PortError, static_cast<DWORD>(ERROR_NOT_READY));
    EXPECT_TRUE(Sim.WaitForExit(2000));
    TRawPort Again(Sim.DevicePath());
    EXPECT_FALSE(Again.Usable()) << "the port still works after the line was closed";
}

const TFaultCase FaultCases[] = {
    {"Silent", {"--silent"}, "B", [](auto& E, auto&) { ExpectSilence(E[0]); }},
    {"SilentAfterOne",
     {"--silent-after", "1"},
     "BV",
     [](auto& E, auto&) {
         ExpectFrame(E[0], "B", "30571846");
         ExpectSilence(E[1]);
     }},
    {"NoVersion",
     {"--no-version"},
     "BVF",
     [](auto& E, auto&) {
         ExpectFrame(E[0], "B", "30571846");
         ExpectSilence(E[1]);
         ExpectFrame(E[2], "F", "");
     }},
    {"BadBCC",
     {"--bad-bcc"},
     "B",
     [](auto& E, auto&) {
         ASSERT_EQ(E[0].Last.Outcome, ReplyOutcome::CheckFailed);
         const std::string Reply = Joined(E[0].Chunks);
         EXPECT_NE(Reply.substr(Reply.size() - 3, 2), GetBCC(Reply.substr(0, Reply.size() - 3)));
     }},
    {"LowerCaseBCC",
     {"--lower-bcc"},
     "B",
     [](auto& E, auto&) {
         ASSERT_EQ(E[0].Last.Outcome, ReplyOutcome::CheckFailed);
         // The right value, only in lower case.
         std::string Reply = Joined(E[0].Chunks);
         std::string Bcc = Reply.substr(Reply.size() - 3, 2);
         EXPECT_NE(Bcc, GetBCC(Reply.substr(0, Reply.size() - 3)));
         for (char& C : Bcc)
             C = static_cast<char>(toupper(static_cast<unsigned char>(C)));
         EXPECT_EQ(Bcc, GetBCC(Reply.substr(0, Reply.size() - 3)));
     }},
    {"SplitReply",
     {"--split", "3", "--split-gap", "80"},
     "B",
     [](auto& E, auto&) {
         EXPECT_EQ(E[0].Outcomes,
                   (std::vector{ReplyOutcome::Incomplete, ReplyOutcome::Incomplete, ReplyOutcome::Frame}));
         ExpectFrame(E[0], "B", "30571846");
     }},
    {"JunkBeforeReply",
     {"--junk", "6"},
     "B",
     [](auto& E, auto&) {
         ASSERT_FALSE(E[0].Chunks.empty());
         EXPECT_NE(E[0].Chunks[0][0], '\n');
         EXPECT_EQ(E[0].Last.Outcome, ReplyOutcome::Discarded);
     }},
    {"OversizeFrame",
     {"--oversize", "255"},
     "B",
     [](auto& E, auto&) { EXPECT_EQ(E[0].Last.Outcome, ReplyOutcome::Discarded); }},
    {"LongestFrameStillAccepted",
     {"--oversize", "254"},
     "B",
     [](auto& E, auto&) {
         ASSERT_EQ(E[0].Last.Outcome, ReplyOutcome::Frame);
         EXPECT_EQ(E[0].Last.Frame.Data.size(), 246u);
     }},
    {"FaultOnlyForCardPolls",
     {"--bad-bcc", "--fault-only", "F"},
     "BF",
     [](auto& E, auto&) {
         ExpectFrame(E[0], "B", "30571846");
         EXPECT_EQ(E[1].Last.Outcome, ReplyOutcome::CheckFailed);
     }},
    {"FaultAtTheSecondReplyOnly",
     {"--bad-bcc", "--fault-at", "2"},
     "BVF",
     [](auto& E, auto&) {
         ExpectFrame(E[0], "B", "30571846");
         EXPECT_EQ(E[1].Last.Outcome, ReplyOutcome::CheckFailed);
         ExpectFrame(E[2], "F", "");
     }},
    {"CloseAfterOneCommand",
     {"--close-after", "1"},
     "BV",
     [](auto& E, auto& Sim) {
         ExpectFrame(E[0], "B", "30571846");
         ExpectLineClosed(E[1], Sim);
     }},
};

void PrintTo(const TFaultCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class ReaderSimFault : public testing::TestWithParam<TFaultCase> {};

TEST_P(ReaderSimFault, ClientSeesTheFault) {
    const TFaultCase& Case = GetParam();
    TReaderSim Sim(Port, Case.Args);
    TRawPort Line(Sim.DevicePath());
    ASSERT_TRUE(Line.Usable()) << "open error " << Line.OpenError;
    std::string Buffer;
    std::vector<TExchange> Exchanges;
    for (char Letter : Case.Commands)
        Exchanges.push_back(Exchange(Line, Buffer, Letter));
    Case.Check(Exchanges, Sim);
}

INSTANTIATE_TEST_SUITE_P(Faults, ReaderSimFault, testing::ValuesIn(FaultCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(ReaderSim, ClosesTheLineAfterATime) {
    TReaderSim Sim(Port, {"--close-after-ms", "300"});
    TRawPort Line(Sim.DevicePath());
    std::string Buffer;
    ExpectFrame(Exchange(Line, Buffer, 'B'), "B", "30571846");
    ASSERT_TRUE(Sim.WaitForExit(3000));
    COMSTAT Status{};
    DWORD Errors = 0;
    EXPECT_FALSE(ClearCommError(Line.Handle.Get(), &Errors, &Status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
}

TEST(ReaderSim, ReplyDelayShowsInTheLog) {
    TReaderSim Sim(Port, {"--delay", "250"});
    TRawPort Line(Sim.DevicePath());
    std::string Buffer;
    ExpectFrame(Exchange(Line, Buffer, 'B', 1500), "B", "30571846");
    const auto Log = Sim.Log();
    ASSERT_EQ(Log.size(), 2u);
    EXPECT_GE(Log[1].TimeNs - Log[0].TimeNs, 250'000'000);
}

TEST(ReaderSim, NoValidFrameAtAnotherBaudRate) {
    TReaderSim Sim(Port);
    std::string Buffer;
    {
        TRawPort Slow(Sim.DevicePath(), 9600);
        ASSERT_TRUE(Slow.StateApplied);
        const auto E = Exchange(Slow, Buffer, 'B');
        EXPECT_NE(E.Last.Outcome, ReplyOutcome::Frame);
        ASSERT_TRUE(Sim.WaitForReceived(1, 1000)) << "the command did not reach reader-sim";
    }
    // The same simulator answers once the rates agree.
    TRawPort Right(Sim.DevicePath(), 19200);
    ExpectFrame(Exchange(Right, Buffer, 'B'), "B", "30571846");
}

// An even-parity setting leaves the pty refusing the next one unless reader-sim clears it.
TEST(ReaderSim, EvenParityOpensAgainAndAgain) {
    TReaderSim Sim(Port);
    for (int I = 0; I < 3; ++I) {
        {
            TRawPort Line(Sim.DevicePath(), 19200, EVENPARITY);
            ASSERT_TRUE(Line.IsOpen());
            EXPECT_TRUE(Line.StateApplied) << "open " << I << ", error " << GetLastError();
        }
        Sleep(120);
    }
}

TEST(ReaderSim, StopUnplugsThePortAndANewSimulatorPlugsIn) {
    auto First = std::make_unique<TReaderSim>(Port, std::vector<std::string>{"--factory-code", "FIRST"});
    First->Stop();
    EXPECT_TRUE(First->Exited());
    EXPECT_FALSE(TRawPort(First->DevicePath()).Usable());

    // A simulator that ends after another was plugged in on its port leaves the new one in place.
    auto Second = std::make_unique<TReaderSim>(Port, std::vector<std::string>{"--factory-code", "SECOND"});
    auto Third = std::make_unique<TReaderSim>(Port, std::vector<std::string>{"--factory-code", "THIRD"});
    Second.reset();
    TRawPort Line(Third->DevicePath());
    std::string Buffer;
    ExpectFrame(Exchange(Line, Buffer, 'B'), "B", "THIRD");
}

} // namespace

// Run as a child process by the test below: plugs a simulator in and dies without cleaning up.
TEST(ReaderSimChild, PlugsInAndDies) {
    const char* ChildPort = std::getenv("CARDWICK_SIM_CHILD_PORT");
    if (!ChildPort)
        GTEST_SKIP() << "runs only as the child of EndsWhenItsTestProcessDies";
    auto* Sim = new TReaderSim(ChildPort); // never freed: the process dies holding it
    TRawPort Line(Sim->DevicePath());
    TerminateProcess(GetCurrentProcess(), Line.Usable() ? 3 : 4);
}

TEST(ReaderSim, EndsWhenItsTestProcessDies) {
    char Self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, Self, MAX_PATH), 0u);
    std::string CommandLine = std::string("\"") + Self + "\" --gtest_filter=ReaderSimChild.PlugsInAndDies";
    ASSERT_TRUE(SetEnvironmentVariableA("CARDWICK_SIM_CHILD_PORT", "COM8"));
    STARTUPINFOA Startup{};
    Startup.cb = sizeof Startup;
    PROCESS_INFORMATION Info{};
    const BOOL Started = CreateProcessA(nullptr, CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &Startup, &Info);
    SetEnvironmentVariableA("CARDWICK_SIM_CHILD_PORT", nullptr);
    ASSERT_TRUE(Started);
    TSimHandle Child(Info.hProcess), Thread(Info.hThread);
    ASSERT_EQ(WaitForSingleObject(Child.Get(), 30000), WAIT_OBJECT_0);
    DWORD Code = 0;
    GetExitCodeProcess(Child.Get(), &Code);
    ASSERT_EQ(Code, 3u) << "the child could not use its simulator";

    const DWORD Start = GetTickCount();
    while (TRawPort("\\\\.\\COM8").Usable() && GetTickCount() - Start < 3000)
        Sleep(50);
    EXPECT_FALSE(TRawPort("\\\\.\\COM8").Usable()) << "reader-sim outlived the process that started it";
}
