// The serial port driver without a far end: property write rules, the line-settings record it
// builds, packet timing arithmetic, and what a closed port answers.
#include "comm/CPDrv.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

std::unique_ptr<TCommPortDriver> NewDriver() {
    return std::make_unique<TCommPortDriver>(nullptr);
}

std::uint32_t FlagsWord(const DCB& Dcb) {
    // The bit fields follow DCBlength and BaudRate as one 32-bit word.
    std::uint32_t Word;
    std::memcpy(&Word, reinterpret_cast<const char*>(&Dcb) + 2 * sizeof(DWORD), sizeof(Word));
    return Word;
}

TEST(CommPortDriverSettings, ConstructionGivesTheDeclaredDefaults) {
    auto Comm = NewDriver();
    EXPECT_EQ(Comm->Port(), pnCOM2);
    EXPECT_EQ(Comm->PortName(), "\\\\.\\COM2");
    EXPECT_EQ(Comm->BaudRate(), br9600);
    EXPECT_EQ(Comm->BaudRateValue(), 9600u);
    EXPECT_EQ(Comm->DataBits(), db8BITS);
    EXPECT_EQ(Comm->StopBits(), sb1BITS);
    EXPECT_EQ(Comm->Parity(), ptNONE);
    EXPECT_EQ(Comm->HwFlow(), hfNONERTSON);
    EXPECT_EQ(Comm->SwFlow(), sfNONE);
    EXPECT_EQ(Comm->InBufSize(), 2048u);
    EXPECT_EQ(Comm->OutBufSize(), 2048u);
    EXPECT_EQ(Comm->PacketSize(), -1);
    EXPECT_EQ(Comm->PacketTimeout(), -1);
    EXPECT_EQ(Comm->PacketMode(), pmDiscard);
    EXPECT_EQ(Comm->PollingDelay(), 50);
    EXPECT_TRUE(Comm->EnableDTROnOpen());
    EXPECT_EQ(Comm->OutputTimeout(), 500);
    EXPECT_EQ(Comm->InputTimeout(), 200u);
    EXPECT_FALSE(Comm->CheckLineStatus());
    EXPECT_FALSE(Comm->OnReceiveData.Assigned());
    EXPECT_FALSE(Comm->OnReceivePacket.Assigned());
    EXPECT_FALSE(Comm->Connected());
    EXPECT_EQ(Comm->PacketStartTime(), TCommPortDriver::NoPacketStart);
    EXPECT_NE(Comm->TimerWindowHandle(), nullptr);
}

TEST(CommPortDriverSettings, EnumerationOrdinalsAreThePlatformCodes) {
    EXPECT_EQ(pnCOM12, 12);
    EXPECT_EQ(pnCOM16, 16);
    EXPECT_EQ(br256000, 15);
    EXPECT_EQ(sb1HALFBITS, ONE5STOPBITS);
    EXPECT_EQ(sb2BITS, TWOSTOPBITS);
    EXPECT_EQ(ptEVEN, EVENPARITY);
    EXPECT_EQ(ptSPACE, SPACEPARITY);
    EXPECT_EQ(TModemLines({mlCTS, mlDSR, mlRING, mlRLSD}).Bits(), 0x0F);
    const std::uint32_t Numbers[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                     14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (int Rate = brCustom; Rate <= br256000; ++Rate)
        EXPECT_EQ(BaudRateNumber(static_cast<TBaudRate>(Rate)), Numbers[Rate]) << Rate;
}

TEST(CommPortDriverSettings, PortAndPortNameWhileClosed) {
    auto Comm = NewDriver();
    Comm->SetPort(pnCOM12);
    EXPECT_EQ(Comm->PortName(), "\\\\.\\COM12");
    Comm->SetPort(pnCOM1);
    EXPECT_EQ(Comm->PortName(), "\\\\.\\COM1");
    Comm->SetPort(pnCustom);
    EXPECT_EQ(Comm->PortName(), "\\\\.\\COM1");
    Comm->SetPort(pnCOM16);
    Comm->SetPortName("\\\\.\\COM4");
    EXPECT_EQ(Comm->Port(), pnCustom);
    EXPECT_EQ(Comm->PortName(), "\\\\.\\COM4");
}

TEST(CommPortDriverSettings, BaudRateAndBaudRateValueFollowEachOther) {
    auto Comm = NewDriver();
    Comm->SetBaudRate(br57600);
    EXPECT_EQ(Comm->BaudRateValue(), 57600u);
    Comm->SetBaudRate(brCustom);
    EXPECT_EQ(Comm->BaudRateValue(), 57600u);
    Comm->SetBaudRate(br9600);
    Comm->SetBaudRateValue(19200);
    EXPECT_EQ(Comm->BaudRate(), brCustom);
    EXPECT_EQ(Comm->BaudRateValue(), 19200u);
}

TEST(CommPortDriverSettings, BufferSizesAreClampedAndTheReceiveBufferFollows) {
    struct {
        std::uint32_t Written, Stored;
    } const Cases[] = {{100, 128},   {127, 128},    {128, 128}, {4096, 4096},
                       {8192, 8192}, {10000, 8192}, {0, 128}};
    for (const auto& C : Cases) {
        auto Comm = NewDriver();
        Comm->SetInBufSize(C.Written);
        Comm->SetOutBufSize(C.Written);
        EXPECT_EQ(Comm->InBufSize(), C.Stored) << C.Written;
        EXPECT_EQ(Comm->OutBufSize(), C.Stored) << C.Written;
        // XonLim and XoffLim follow the size actually stored.
        EXPECT_EQ(Comm->BuildCommState().XonLim, C.Stored / 4);
    }
}

TEST(CommPortDriverSettings, PacketSizeRules) {
    auto Comm = NewDriver();
    Comm->SetPacketSize(0);
    EXPECT_EQ(Comm->PacketSize(), -1);
    Comm->SetPacketSize(-7);
    EXPECT_EQ(Comm->PacketSize(), -1);
    Comm->SetPacketSize(100);
    EXPECT_EQ(Comm->PacketSize(), 100);
    EXPECT_EQ(Comm->InBufSize(), 2048u);
    Comm->SetPacketSize(3000);
    EXPECT_EQ(Comm->InBufSize(), 3000u);
    Comm->SetInBufSize(1000);
    EXPECT_EQ(Comm->InBufSize(), 3000u);
    // Larger than the largest receive buffer: held to it, so a packet always fits.
    Comm->SetPacketSize(20000);
    EXPECT_EQ(Comm->PacketSize(), 8192);
    EXPECT_EQ(Comm->InBufSize(), 8192u);
}

TEST(CommPortDriverSettings, PacketTimeoutFollowsPollingDelay) {
    auto Comm = NewDriver();
    Comm->SetPollingDelay(0);
    EXPECT_EQ(Comm->PollingDelay(), 5);
    Comm->SetPollingDelay(200);
    struct {
        std::int32_t Written, Stored;
    } const Cases[] = {{100, 280}, {1, 280}, {199, 280}, {0, -1}, {-5, -1}, {200, 200}, {300, 300}};
    for (const auto& C : Cases) {
        Comm->SetPacketTimeout(C.Written);
        EXPECT_EQ(Comm->PacketTimeout(), C.Stored) << C.Written;
    }
    Comm->SetPacketTimeout(300);
    Comm->SetPollingDelay(400);
    EXPECT_EQ(Comm->PacketTimeout(), 560);
    Comm->SetPollingDelay(5);
    Comm->SetPacketTimeout(7);
    Comm->SetPollingDelay(10);
    EXPECT_EQ(Comm->PacketTimeout(), 14);
}

struct TFlagsCase {
    THwFlowControl Hw;
    TSwFlowControl Sw;
    bool Dtr;
    std::uint32_t Flags;
};

class CommStateFlags : public ::testing::TestWithParam<TFlagsCase> {};

TEST_P(CommStateFlags, FlagsWordFromFlowControlAndDtr) {
    auto Comm = NewDriver();
    Comm->SetHwFlow(GetParam().Hw);
    Comm->SetSwFlow(GetParam().Sw);
    Comm->SetEnableDTROnOpen(GetParam().Dtr);
    const DCB Dcb = Comm->BuildCommState();
    EXPECT_EQ(FlagsWord(Dcb), GetParam().Flags);
}

INSTANTIATE_TEST_SUITE_P(AllCombinations, CommStateFlags,
                         ::testing::Values(TFlagsCase{hfNONE, sfNONE, true, 0x0011},
                                           TFlagsCase{hfNONE, sfNONE, false, 0x0001},
                                           TFlagsCase{hfNONERTSON, sfNONE, true, 0x1011},
                                           TFlagsCase{hfNONERTSON, sfNONE, false, 0x1001},
                                           TFlagsCase{hfRTSCTS, sfNONE, true, 0x2015},
                                           TFlagsCase{hfRTSCTS, sfNONE, false, 0x2005},
                                           TFlagsCase{hfNONE, sfXONXOFF, true, 0x0311},
                                           TFlagsCase{hfNONERTSON, sfXONXOFF, false, 0x1301},
                                           TFlagsCase{hfRTSCTS, sfXONXOFF, true, 0x2315}));

TEST(CommPortDriverSettings, LineSettingsRecord) {
    auto Comm = NewDriver();
    Comm->SetBaudRateValue(19200);
    Comm->SetDataBits(db7BITS);
    Comm->SetParity(ptEVEN);
    Comm->SetStopBits(sb2BITS);
    Comm->SetInBufSize(1000);
    DCB Dcb = Comm->BuildCommState();
    EXPECT_EQ(Dcb.DCBlength, 28u);
    EXPECT_EQ(Dcb.BaudRate, 19200u);
    EXPECT_EQ(Dcb.ByteSize, 7);
    EXPECT_EQ(Dcb.Parity, EVENPARITY);
    EXPECT_EQ(Dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(Dcb.XonLim, 250);
    EXPECT_EQ(Dcb.XoffLim, 250);
    EXPECT_EQ(Dcb.XonChar, 0x11);
    EXPECT_EQ(Dcb.XoffChar, 0x13);
    EXPECT_EQ(Dcb.ErrorChar, 0);
    EXPECT_EQ(Dcb.EofChar, 0);
    EXPECT_EQ(Dcb.EvtChar, 0);
    EXPECT_EQ(Dcb.wReserved, 0);

    Comm->SetDataBits(db5BITS);
    Comm->SetParity(ptSPACE);
    Comm->SetStopBits(sb1HALFBITS);
    Dcb = Comm->BuildCommState();
    EXPECT_EQ(Dcb.ByteSize, 5);
    EXPECT_EQ(Dcb.Parity, SPACEPARITY);
    EXPECT_EQ(Dcb.StopBits, ONE5STOPBITS);
}

TEST(CommPortDriverSettings, PacketDurationRoundsHalfToEven) {
    struct {
        std::uint32_t Baud, Count, Ms;
    } const Cases[] = {
        {19200, 10, 5},  // 5.21
        {9600, 10, 10},  // 10.42
        {4000, 1, 2},    // 2.5 to the even 2
        {4000, 3, 8},    // 7.5 to the even 8
        {10000, 15, 15}, // exact
        {110, 1, 91},    // 90.9
        {0, 10, 0},      // refused settings left the port open at 0 bit/s
        {256000, 8192, 320},
    };
    for (const auto& C : Cases) {
        auto Comm = NewDriver();
        Comm->SetBaudRateValue(C.Baud);
        EXPECT_EQ(Comm->PacketDuration(C.Count), C.Ms) << C.Baud << " bit/s, " << C.Count << " bytes";
    }
}

TEST(CommPortDriverSettings, AClosedPortRefusesQuietly) {
    auto Comm = NewDriver();
    Comm->SetPortName("\\\\.\\COM99");
    EXPECT_FALSE(Comm->Connect());
    EXPECT_FALSE(Comm->Connected());
    Comm->SetPortName("\\\\.\\NoSuchDevice");
    EXPECT_FALSE(Comm->Connect());
    EXPECT_FALSE(Comm->Connected());
    Comm->Disconnect();
    Comm->Disconnect();
    EXPECT_FALSE(Comm->ApplyCommSettings());
    EXPECT_FALSE(Comm->FlushBuffers(true, true));
    EXPECT_EQ(Comm->OutputRoom(), 65535);
    EXPECT_TRUE(Comm->ModemLines().Empty());
    EXPECT_EQ(Comm->SendData("abc", 3), 0u);
    EXPECT_TRUE(Comm->SendText(""));
    EXPECT_FALSE(Comm->SendText("\tA00A0E\r"));
    // A closed port is no pulled one: the reader link counts a frame to it as sent.
    EXPECT_TRUE(Comm->PortAnswers());
}

TEST(CommPortDriverSettings, ADesignedDriverHasNoTimerWindow) {
    TComponent Form(nullptr);
    Form.SetDesigning(true);
    auto* Comm = new TCommPortDriver(&Form);
    EXPECT_EQ(Comm->TimerWindowHandle(), nullptr);
}

} // namespace
