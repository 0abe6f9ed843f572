// The serial port driver on a real Wine COM port with reader-sim at the far end of its pty.
// Receive ticks are driven by hand (a WM_TIMER sent to the timer window, the port's own timer set
// too slow to interfere) wherever a test needs to know exactly which bytes one tick saw; the real
// timer runs where the test is about the timer itself.
#include "comm/CPDrv.h"
#include "kit/Application.h"
#include "reader/ReaderModule.h"
#include "reader/ReaderProtocol.h"
#include "tests/win/support/ReaderSim.h"
#include "tests/win/support/Pump.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t ManualTicks = 60000; // the driver's own timer never fires within a test

class CommPortDriver : public ::testing::Test {
protected:
    void SetUp() override {
        Application->SetTitle("Driver Test");
        Application->MessageBoxSeam = [this](const std::string& Text, const std::string&, UINT) {
            Boxes.push_back(Text);
            return IDOK;
        };
    }
    void TearDown() override {
        Comm.reset();
        Sim.reset();
        Application->MessageBoxSeam = nullptr;
    }

    // reader-sim plugged in with Args, and a driver set up as the main window sets up its own, open
    // on reader-sim's port.
    void Open(std::vector<std::string> Args = {}, std::uint16_t PollingDelay = ManualTicks) {
        Sim = std::make_unique<TReaderSim>("COM5", std::move(Args));
        Comm = std::make_unique<TCommPortDriver>(nullptr);
        Comm->SetPortName(Sim->DevicePath());
        Comm->SetBaudRateValue(19200);
        Comm->SetHwFlow(hfNONE);
        Comm->SetPollingDelay(PollingDelay);
        Comm->OnReceiveData =
            TReceiveDataEvent::Function([this](TObject* Sender, void* Data, std::uint32_t Size) {
                EXPECT_EQ(Sender, Comm.get());
                Received.emplace_back(static_cast<const char*>(Data), Size);
            });
        Comm->OnReceivePacket =
            TReceivePacketEvent::Function([this](TObject* Sender, void* Data, std::uint32_t Size) {
                EXPECT_EQ(Sender, Comm.get());
                Packets.emplace_back(static_cast<const char*>(Data), Size);
            });
        ASSERT_TRUE(Comm->Connect());
    }

    void Tick() { SendMessageA(Comm->TimerWindowHandle(), WM_TIMER, 1, 0); }

    DWORD Queued() {
        DWORD Errors = 0;
        COMSTAT Status = {};
        return ClearCommError(Comm->Handle(), &Errors, &Status) ? Status.cbInQue : 0;
    }

    // Waits until at least Count bytes sit in the port's receive queue.
    bool WaitQueued(DWORD Count, DWORD TimeoutMs = 3000) {
        const DWORD Start = GetTickCount();
        while (Queued() < Count) {
            if (GetTickCount() - Start > TimeoutMs)
                return false;
            Sleep(5);
        }
        return true;
    }

    void Command(char Letter) { ASSERT_TRUE(Comm->SendText(BuildCommandFrame(Letter, ""))); }

    // Everything reader-sim wrote, once its log shows at least the bytes this side has seen:
    // reader-sim logs a write after it completes, which may be after the bytes arrived here.
    std::string SimSent(std::size_t AtLeast = 1) const {
        std::string All;
        const DWORD Start = GetTickCount();
        do {
            All.clear();
            for (const auto& E : Sim->Log())
                if (E.Direction == TSimLogEntry::Sent)
                    All += E.Bytes;
        } while (All.size() < AtLeast && GetTickCount() - Start < 3000 && (Sleep(10), true));
        return All;
    }

    static std::string Joined(const std::vector<std::string>& Parts) {
        std::string All;
        for (const auto& P : Parts)
            All += P;
        return All;
    }

    std::unique_ptr<TReaderSim> Sim;
    std::unique_ptr<TCommPortDriver> Comm;
    std::vector<std::string> Received, Packets, Boxes;
};

const std::string ReplyB = BuildReplyFrame('0', "01", 'B', "30571846"); // 16 bytes
const std::string ReplyV = BuildReplyFrame('0', "01", 'V', "2.31");     // 12 bytes

TEST_F(CommPortDriver, SendTextArrivesByteExact) {
    Open();
    const std::string Frame = BuildCommandFrame('F', "");
    EXPECT_TRUE(Comm->SendText(Frame));
    ASSERT_TRUE(Sim->WaitForReceived(1, 2000));
    const auto Log = Sim->Log();
    ASSERT_FALSE(Log.empty());
    EXPECT_EQ(Log.front().Direction, TSimLogEntry::Received);
    EXPECT_EQ(Log.front().Bytes, Frame);
    EXPECT_TRUE(Comm->SendText(""));
}

// A second Connect keeps the open port and its running timer. Anchored on an order of events, not a
// window of time: the test sleeps past the tick without dispatching, so the kept timer's tick is due
// before Connect; it comes at the first dispatch after. A timer set again would start its period
// anew from Connect and be a whole second away.
TEST_F(CommPortDriver, ConnectWhileOpenKeepsPortAndTimer) {
    int Ticks = 0;
    Open({}, 1000);
    Comm->CommStatusQuery = [&](HANDLE H, DWORD* E, COMSTAT* S) {
        ++Ticks;
        return ClearCommError(H, E, S);
    };
    const HANDLE First = Comm->Handle();
    ASSERT_TRUE(PumpUntil([&] { return Ticks >= 1; }, 3000));
    Sleep(1100);

    EXPECT_TRUE(Comm->Connect());
    Application->ProcessMessages();

    EXPECT_EQ(Comm->Handle(), First);
    EXPECT_EQ(Ticks, 2);
}

TEST_F(CommPortDriver, TheBaudRateReachesTheLineAndIsReappliedWhileOpen) {
    // reader-sim answers only while the line runs at its own rate, 19200.
    Open();
    Comm->SetBaudRate(br9600);
    Command('B');
    ASSERT_TRUE(Sim->WaitForReceived(1, 2000));
    Sleep(200);
    EXPECT_EQ(Queued(), 0u);
    Comm->SetBaudRateValue(19200);
    Command('B');
    ASSERT_TRUE(WaitQueued(ReplyB.size()));
    Tick();
    EXPECT_EQ(Joined(Received), ReplyB);
}

TEST_F(CommPortDriver, PortAndBufferSizesCannotChangeWhileOpen) {
    Open();
    const std::string Name = Comm->PortName();
    Comm->SetPortName("\\\\.\\COM9");
    Comm->SetPort(pnCOM3);
    EXPECT_EQ(Comm->PortName(), Name);
    EXPECT_EQ(Comm->Port(), pnCustom);
    Comm->SetInBufSize(4096);
    Comm->SetOutBufSize(4096);
    EXPECT_EQ(Comm->InBufSize(), 2048u);
    EXPECT_EQ(Comm->OutBufSize(), 2048u);
    // The receive buffer cannot grow while open, so a larger packet is held to it.
    Comm->SetPacketSize(3000);
    EXPECT_EQ(Comm->PacketSize(), 2048);
    EXPECT_EQ(Comm->InBufSize(), 2048u);
    Comm->Disconnect();
    Comm->Disconnect();
    EXPECT_FALSE(Comm->Connected());
    Comm->SetPacketSize(3000);
    EXPECT_EQ(Comm->InBufSize(), 3000u);
}

TEST_F(CommPortDriver, CheckLineStatusStopsASendWhenNoModemLineIsOn) {
    Open();
    // A pty cannot report modem lines at all: the query fails, which reads as all lines off.
    EXPECT_TRUE(Comm->ModemLines().Empty());
    Comm->SetCheckLineStatus(true);
    const std::string Frame = BuildCommandFrame('B', "");
    EXPECT_EQ(Comm->SendData(Frame.data(), static_cast<std::uint32_t>(Frame.size())), 0u);
    EXPECT_FALSE(Comm->SendText(Frame));
    Sleep(200);
    EXPECT_EQ(Sim->ReceivedCount(), 0u);

    Comm->ModemStatusQuery = [](HANDLE, DWORD* S) {
        *S = MS_DSR_ON;
        return TRUE;
    };
    EXPECT_TRUE(Comm->SendText(Frame));
    EXPECT_TRUE(Sim->WaitForReceived(1, 2000));
}

TEST_F(CommPortDriver, ModemLinesMapTheStatusBits) {
    Open();
    struct {
        DWORD Status;
        std::uint8_t Lines;
    } const Cases[] = {{0, 0},
                       {MS_CTS_ON, 0x01},
                       {MS_DSR_ON, 0x02},
                       {MS_RING_ON, 0x04},
                       {MS_RLSD_ON, 0x08},
                       {MS_CTS_ON | MS_RLSD_ON, 0x09},
                       {MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON | 0x0F, 0x0F}};
    for (const auto& C : Cases) {
        Comm->ModemStatusQuery = [&](HANDLE H, DWORD* S) {
            EXPECT_EQ(H, Comm->Handle());
            *S = C.Status;
            return TRUE;
        };
        EXPECT_EQ(Comm->ModemLines().Bits(), C.Lines) << std::hex << C.Status;
    }
    Comm->ModemStatusQuery = [](HANDLE, DWORD* S) {
        *S = MS_CTS_ON;
        return FALSE;
    };
    EXPECT_TRUE(Comm->ModemLines().Empty());
}

TEST_F(CommPortDriver, OutputRoomNeverGoesBelowZero) {
    Open();
    EXPECT_EQ(Comm->OutputRoom(), 2048);
    DWORD OutQueue = 0;
    Comm->CommStatusQuery = [&](HANDLE, DWORD* E, COMSTAT* S) {
        *E = 0;
        *S = {};
        S->cbOutQue = OutQueue;
        return TRUE;
    };
    struct {
        DWORD OutQueue;
        std::uint16_t Room;
    } const Cases[] = {{48, 2000}, {2047, 1}, {2048, 0}, {2049, 0}, {70000, 0}};
    for (const auto& C : Cases) {
        OutQueue = C.OutQueue;
        EXPECT_EQ(Comm->OutputRoom(), C.Room) << C.OutQueue;
    }
}

TEST_F(CommPortDriver, SendDataTimedGivesUpAfterItsTimeoutWithoutProgress) {
    Open();
    // Room for 128 bytes once, then a queue that never drains.
    int Queries = 0;
    Comm->CommStatusQuery = [&](HANDLE, DWORD* E, COMSTAT* S) {
        *E = 0;
        *S = {};
        S->cbOutQue = Queries++ == 0 ? 2048 - 128 : 2048;
        return TRUE;
    };
    const std::string Data(300, 'x');
    const DWORD Start = GetTickCount();
    EXPECT_EQ(Comm->SendDataTimed(Data.data(), 300, 150), 128u);
    const DWORD Elapsed = GetTickCount() - Start;
    EXPECT_GE(Elapsed, 150u);
    EXPECT_LT(Elapsed, 450u);
    // The wait asks the driver again and again, but sleeps between the questions instead of
    // spinning: a few dozen in 150 ms, not thousands.
    EXPECT_GT(Queries, 2);
    EXPECT_LT(Queries, 100);
}

TEST_F(CommPortDriver, DataModeHandsOverWhatEachTickFinds) {
    Open({"--split", "2", "--split-gap", "400", "--fault-only", "F"});
    Tick(); // nothing queued: no event
    EXPECT_TRUE(Received.empty());

    // Two replies queued together arrive in one event.
    Command('B');
    ASSERT_TRUE(WaitQueued(ReplyB.size()));
    Command('V');
    ASSERT_TRUE(WaitQueued(ReplyB.size() + ReplyV.size()));
    Tick();
    ASSERT_EQ(Received.size(), 1u);
    EXPECT_EQ(Received[0], ReplyB + ReplyV);

    // A reply still arriving at a tick is delivered in two events.
    Received.clear();
    Command('F');
    ASSERT_TRUE(WaitQueued(1));
    Sleep(50);
    Tick();
    ASSERT_EQ(Received.size(), 1u);
    const std::size_t FirstPiece = Received[0].size();
    ASSERT_TRUE(WaitQueued(1));
    Sleep(50);
    Tick();
    ASSERT_EQ(Received.size(), 2u);
    const std::string Reply = Joined(Received);
    EXPECT_LT(FirstPiece, Reply.size());
    EXPECT_EQ(Reply,
              SimSent(ReplyB.size() + ReplyV.size() + Reply.size()).substr(ReplyB.size() + ReplyV.size()));
    EXPECT_EQ(Reply.front(), '\n');
    EXPECT_EQ(Reply.back(), '\r');
}

TEST_F(CommPortDriver, ABlockLargerThanTheBufferArrivesWholeInOrderAndNoReadExceedsInBufSize) {
    Open({"--oversize", "10000"});
    Command('A');
    // Let the pty queue more than one buffer's worth before the first tick.
    ASSERT_TRUE(WaitQueued(Comm->InBufSize() + 1));
    const DWORD Start = GetTickCount();
    std::size_t Total = 0;
    while (Total < 10000 && GetTickCount() - Start < 5000) {
        if (Queued() == 0) {
            Sleep(5);
            continue;
        }
        Tick();
        Total = Joined(Received).size();
    }
    ASSERT_EQ(Total, 10000u);
    EXPECT_EQ(Received.front().size(), Comm->InBufSize());
    for (const auto& Block : Received)
        EXPECT_LE(Block.size(), Comm->InBufSize());
    EXPECT_EQ(Joined(Received), SimSent(10000));
}

TEST_F(CommPortDriver, PacketModeDeliversWholePacketsAndLeavesTheRestQueued) {
    Open({"--oversize", "25", "--fault-only", "A"});
    Comm->SetPacketSize(10);
    Tick();
    EXPECT_EQ(Comm->PacketStartTime(), TCommPortDriver::NoPacketStart);
    Command('A');
    ASSERT_TRUE(WaitQueued(25));
    Tick();
    ASSERT_EQ(Packets.size(), 2u);
    EXPECT_EQ(Packets[0] + Packets[1], SimSent(25).substr(0, 20));
    EXPECT_EQ(Queued(), 5u);
    EXPECT_EQ(Comm->PacketStartTime(), TCommPortDriver::NoPacketStart);
    // The start is the time of the tick that first saw the partial packet: between the clock
    // readings around it, however long the tick took.
    const DWORD Before = GetTickCount();
    Tick();
    const DWORD After = GetTickCount();
    EXPECT_EQ(Packets.size(), 2u);
    EXPECT_NE(Comm->PacketStartTime(), TCommPortDriver::NoPacketStart);
    EXPECT_LE(Comm->PacketStartTime() - Before, After - Before);
    EXPECT_TRUE(Received.empty());
}

TEST_F(CommPortDriver, PacketStartTimeAdvancesOnePacketDurationPerPacket) {
    Open({"--oversize", "24", "--fault-only", "A"});
    Comm->SetPacketSize(20); // 10 ms at 19200 bit/s
    Command('B');            // 16 bytes: a partial packet
    ASSERT_TRUE(WaitQueued(16));
    Tick();
    const std::uint32_t Seen = Comm->PacketStartTime();
    ASSERT_NE(Seen, TCommPortDriver::NoPacketStart);
    Command('A'); // 24 more
    ASSERT_TRUE(WaitQueued(40));
    Command('B'); // 16 more: 56 in all
    ASSERT_TRUE(WaitQueued(56));
    Tick();
    EXPECT_EQ(Packets.size(), 2u);
    EXPECT_EQ(Comm->PacketStartTime(), Seen + 20);
    // Whole packets that empty the queue exactly leave no start time behind.
    Command('A');
    ASSERT_TRUE(WaitQueued(40));
    Tick();
    EXPECT_EQ(Packets.size(), 4u);
    EXPECT_EQ(Comm->PacketStartTime(), TCommPortDriver::NoPacketStart);
    EXPECT_EQ(Joined(Packets), SimSent(80));
}

struct TTimeoutCase {
    TPacketMode Mode;
    std::size_t PacketsAfterTimeout;
};

class CommPortDriverPacketTimeout : public CommPortDriver,
                                    public ::testing::WithParamInterface<TTimeoutCase> {};

// The partial packet is kept while its time-out runs and then thrown away or passed on. The tick
// after the first sight comes at once, far inside the time-out; the last one after a sleep longer
// than it (the arithmetic at the edges is proved in tests/unit/PacketClockTest).
TEST_P(CommPortDriverPacketTimeout, APartialPacketIsHeldUntilItsTimeOutAndThenDiscardedOrPassed) {
    Open({"--oversize", "24", "--fault-only", "A"});
    Comm->SetPollingDelay(200); // never dispatched here: the ticks are sent by hand
    Comm->SetPacketSize(20);
    Comm->SetPacketTimeout(1000);
    Comm->SetPacketMode(GetParam().Mode);
    Command('A');
    ASSERT_TRUE(WaitQueued(24));
    Tick(); // one whole packet; 4 bytes that will never be completed stay queued
    ASSERT_EQ(Packets.size(), 1u);
    Tick(); // first sight of the 4 bytes
    Tick(); // not yet
    EXPECT_EQ(Queued(), 4u);
    EXPECT_EQ(Packets.size(), 1u);
    Sleep(1100);
    Tick(); // timed out
    EXPECT_EQ(Queued(), 0u);
    ASSERT_EQ(Packets.size(), GetParam().PacketsAfterTimeout);
    if (Packets.size() == 2) {
        EXPECT_EQ(Packets[1], SimSent(24).substr(20));
    }
    EXPECT_EQ(Comm->PacketStartTime(), TCommPortDriver::NoPacketStart);
}

INSTANTIATE_TEST_SUITE_P(Modes, CommPortDriverPacketTimeout,
                         ::testing::Values(TTimeoutCase{pmDiscard, 1}, TTimeoutCase{pmPass, 2}));

TEST_F(CommPortDriver, ClosingThePortInsideTheEventEndsTheTicks) {
    Open({"--oversize", "30", "--fault-only", "A"}, 20);
    int Events = 0, Queries = 0;
    Comm->CommStatusQuery = [&](HANDLE H, DWORD* E, COMSTAT* S) {
        ++Queries;
        return ClearCommError(H, E, S);
    };
    auto CloseInHandler = [&](TObject*, void*, std::uint32_t) {
        ++Events;
        Comm->Disconnect();
    };
    Comm->OnReceiveData = TReceiveDataEvent::Function(CloseInHandler);
    Command('B');
    ASSERT_TRUE(PumpUntil([&] { return Events > 0; }, 2000));
    const int QueriesAtClose = Queries;
    PumpFor(200);
    EXPECT_EQ(Events, 1);
    EXPECT_EQ(Queries, QueriesAtClose);
    EXPECT_FALSE(Comm->Connected());

    // Packet mode: three packets queued, the handler of the first one closes the port.
    Events = 0;
    Comm->OnReceivePacket = TReceivePacketEvent::Function(CloseInHandler);
    Comm->SetPacketSize(10);
    ASSERT_TRUE(Comm->Connect());
    Command('A');
    ASSERT_TRUE(PumpUntil([&] { return Events > 0; }, 2000));
    PumpFor(100);
    EXPECT_EQ(Events, 1);
}

TEST_F(CommPortDriver, AnExceptionInTheEventReachesTheStandardErrorDisplay) {
    Open({}, 20);
    Comm->OnReceiveData = TReceiveDataEvent::Function(
        [](TObject*, void*, std::uint32_t) { throw EConvertError("'x' is not a valid integer value"); });
    Command('B');
    ASSERT_TRUE(PumpUntil([&] { return !Boxes.empty(); }, 2000));
    EXPECT_EQ(Boxes[0], "'x' is not a valid integer value");
    // The driver goes on receiving.
    Command('V');
    ASSERT_TRUE(PumpUntil([&] { return Boxes.size() == 2; }, 2000));
    EXPECT_TRUE(Comm->Connected());
}

TEST_F(CommPortDriver, DestroyingTheDriverClosesThePort) {
    Open({}, 20);
    const HANDLE Port = Comm->Handle();
    const HWND TimerWindow = Comm->TimerWindowHandle();
    DWORD Flags;
    ASSERT_TRUE(GetHandleInformation(Port, &Flags));
    Comm.reset();
    EXPECT_FALSE(GetHandleInformation(Port, &Flags));
    EXPECT_FALSE(IsWindow(TimerWindow));
}

TEST_F(CommPortDriver, APulledAdapterSkipsTicksQuietlyAndMakesASendRaise) {
    Open({}, 20);
    int Queries = 0;
    Comm->CommStatusQuery = [&](HANDLE H, DWORD* E, COMSTAT* S) {
        ++Queries;
        return ClearCommError(H, E, S);
    };
    Sim->Stop(); // the line closes under the open port
    EXPECT_TRUE(PumpUntil([&] { return Queries > 5; }, 3000)) << "the ticks stopped";
    EXPECT_TRUE(Received.empty());
    EXPECT_TRUE(Boxes.empty());
    EXPECT_TRUE(Comm->Connected());
    EXPECT_EQ(Comm->OutputRoom(), 0);
    EXPECT_THROW(Comm->SendText(BuildCommandFrame('F', "")), ECommError);
    EXPECT_TRUE(Comm->SendText(""));
}

} // namespace
