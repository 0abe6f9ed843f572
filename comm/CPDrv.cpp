#include "comm/CPDrv.h"

#include "comm/PacketClock.h"

#include "kit/Win32Error.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr UINT_PTR PollTimerId = 1;
constexpr std::uint32_t MinBufSize = 128;
constexpr std::uint32_t MaxBufSize = 8192;
constexpr std::uint16_t MinPollingDelay = 5;
// How long a send without progress lets the line drain before it asks the driver again.
constexpr DWORD SendRetryPause = 5;

std::uint32_t ClampBufSize(std::uint32_t Value) {
    return std::clamp(Value, MinBufSize, MaxBufSize);
}

} // namespace

std::uint32_t BaudRateNumber(TBaudRate Rate) {
    static constexpr std::uint32_t Numbers[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                                14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    const auto Index = static_cast<std::size_t>(Rate);
    return Index < std::size(Numbers) ? Numbers[Index] : 0;
}

TCommPortDriver::TCommPortDriver(TComponent* AOwner)
    : TComponent(AOwner), ModemStatusQuery([](HANDLE H, DWORD* S) { return GetCommModemStatus(H, S); }),
      CommStatusQuery([](HANDLE H, DWORD* E, COMSTAT* S) { return ClearCommError(H, E, S); }),
      FBuffer(FInBufSize, 0) {
    if (!ComponentState().Contains(csDesigning))
        FTimerWindow = std::make_unique<TUtilityWindow>([this](TMessage& M) { PollWndProc(M); });
}

TCommPortDriver::~TCommPortDriver() {
    Disconnect();
    FTimerWindow.reset();
}

void TCommPortDriver::SetPort(TPortNumber Value) {
    if (Connected())
        return;
    FPort = Value;
    if (FPort != pnCustom) {
        char Name[16];
        std::snprintf(Name, sizeof(Name), "\\\\.\\COM%d", static_cast<int>(FPort));
        FPortName = Name;
    }
}

void TCommPortDriver::SetPortName(const std::string& Value) {
    if (Connected())
        return;
    FPortName = Value;
    FPort = pnCustom;
}

void TCommPortDriver::SetBaudRate(TBaudRate Value) {
    FBaudRate = Value;
    if (FBaudRate != brCustom)
        FBaudRateValue = BaudRateNumber(FBaudRate);
    if (Connected())
        ApplyCommSettings();
}

void TCommPortDriver::SetBaudRateValue(std::uint32_t Value) {
    FBaudRateValue = Value;
    FBaudRate = brCustom;
    if (Connected())
        ApplyCommSettings();
}

void TCommPortDriver::SetDataBits(TDataBits Value) {
    FDataBits = Value;
    if (Connected())
        ApplyCommSettings();
}

void TCommPortDriver::SetStopBits(TStopBits Value) {
    FStopBits = Value;
    if (Connected())
        ApplyCommSettings();
}

void TCommPortDriver::SetParity(TParity Value) {
    FParity = Value;
    if (Connected())
        ApplyCommSettings();
}

void TCommPortDriver::SetHwFlow(THwFlowControl Value) {
    FHwFlow = Value;
    if (Connected())
        ApplyCommSettings();
}

void TCommPortDriver::SetSwFlow(TSwFlowControl Value) {
    FSwFlow = Value;
    if (Connected())
        ApplyCommSettings();
}

void TCommPortDriver::SetInBufSize(std::uint32_t Value) {
    if (Connected())
        return;
    FInBufSize = ClampBufSize(Value);
    FBuffer.assign(FInBufSize, 0);
    // A packet larger than the new buffer grows it back.
    SetPacketSize(FPacketSize);
}

void TCommPortDriver::SetOutBufSize(std::uint32_t Value) {
    if (Connected())
        return;
    FOutBufSize = ClampBufSize(Value);
}

void TCommPortDriver::SetPacketSize(std::int16_t Value) {
    if (Value <= 0) {
        FPacketSize = -1;
        return;
    }
    // A packet always fits the receive buffer: the buffer can grow to 8192 while closed, and not at
    // all while open.
    const std::uint32_t Limit = Connected() ? FInBufSize : MaxBufSize;
    FPacketSize =
        static_cast<std::int16_t>(std::min<std::uint32_t>(static_cast<std::uint32_t>(Value), Limit));
    if (static_cast<std::uint32_t>(FPacketSize) > FInBufSize)
        SetInBufSize(static_cast<std::uint32_t>(FPacketSize));
}

void TCommPortDriver::SetPacketTimeout(std::int32_t Value) {
    if (Value < 1)
        FPacketTimeout = -1;
    else if (Value < FPollingDelay)
        FPacketTimeout = FPollingDelay + FPollingDelay * 40 / 100;
    else
        FPacketTimeout = Value;
}

void TCommPortDriver::SetPollingDelay(std::uint16_t Value) {
    Value = std::max(Value, MinPollingDelay);
    if (Value == FPollingDelay)
        return;
    const bool Ticking = Connected() && FTimerWindow;
    if (Ticking)
        KillTimer(FTimerWindow->Handle(), PollTimerId);
    FPollingDelay = Value;
    SetPacketTimeout(FPacketTimeout);
    if (Ticking && !StartReceiveTimer()) {
        // The timer runs exactly while the port is open: on a port nobody polls, every byte that
        // arrives would go unread and unnoticed.
        const DWORD Error = GetLastError();
        Disconnect();
        throw EWin32Error(Error, "Cannot restart the receive timer of " + FPortName);
    }
}

bool TCommPortDriver::StartReceiveTimer() {
    return SetTimer(FTimerWindow->Handle(), PollTimerId, FPollingDelay, nullptr) != 0;
}

DCB TCommPortDriver::BuildCommState() const {
    DCB Dcb = {};
    Dcb.DCBlength = sizeof(DCB);
    Dcb.BaudRate = FBaudRateValue;
    Dcb.fBinary = 1;
    Dcb.fDtrControl = FEnableDTROnOpen ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    switch (FHwFlow) {
    case hfNONE:
        Dcb.fRtsControl = RTS_CONTROL_DISABLE;
        Dcb.fOutxCtsFlow = 0;
        break;
    case hfNONERTSON:
        Dcb.fRtsControl = RTS_CONTROL_ENABLE;
        break;
    case hfRTSCTS:
        Dcb.fOutxCtsFlow = 1;
        Dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        break;
    }
    if (FSwFlow == sfXONXOFF) {
        Dcb.fOutX = 1;
        Dcb.fInX = 1;
    }
    Dcb.XonLim = static_cast<WORD>(FInBufSize / 4);
    Dcb.XoffLim = static_cast<WORD>(FInBufSize / 4);
    Dcb.ByteSize = static_cast<BYTE>(FDataBits + 5);
    Dcb.Parity = static_cast<BYTE>(FParity);
    Dcb.StopBits = static_cast<BYTE>(FStopBits);
    Dcb.XonChar = 0x11;
    Dcb.XoffChar = 0x13;
    return Dcb;
}

bool TCommPortDriver::ApplyCommSettings() {
    if (!Connected())
        return false;
    DCB Dcb = BuildCommState();
    if (!SetCommState(FHandle.Get(), &Dcb))
        return false;
    if (!FlushBuffers(true, true))
        return false;
    return SetupComm(FHandle.Get(), FInBufSize, FOutBufSize) != 0;
}

bool TCommPortDriver::Connect() {
    if (Connected())
        return true;
    HANDLE H = CreateFileA(FPortName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (H == INVALID_HANDLE_VALUE)
        return false;
    FHandle.Reset(H);
    if (!ApplyCommSettings()) {
        Disconnect();
        return false;
    }
    // A read returns within about 1 ms with whatever is queued; a write call within about 10 ms
    // whatever the flow control does, so the send loop keeps control of its own time-out.
    COMMTIMEOUTS Timeouts = {};
    Timeouts.ReadIntervalTimeout = 1;
    Timeouts.ReadTotalTimeoutMultiplier = 0;
    Timeouts.ReadTotalTimeoutConstant = 1;
    Timeouts.WriteTotalTimeoutMultiplier = 0;
    Timeouts.WriteTotalTimeoutConstant = 10;
    SetCommTimeouts(FHandle.Get(), &Timeouts);
    // A port that would never be polled is no open port: the owner hears of it as of any other
    // failure to connect.
    if (FTimerWindow && !StartReceiveTimer()) {
        FHandle.Reset();
        return false;
    }
    return true;
}

void TCommPortDriver::Disconnect() {
    if (!Connected())
        return;
    if (FTimerWindow)
        KillTimer(FTimerWindow->Handle(), PollTimerId);
    FHandle.Reset();
}

bool TCommPortDriver::FlushBuffers(bool InBuf, bool OutBuf) {
    if (!Connected())
        return false;
    DWORD Mask = 0;
    if (OutBuf)
        Mask |= PURGE_TXABORT | PURGE_TXCLEAR;
    if (InBuf)
        Mask |= PURGE_RXABORT | PURGE_RXCLEAR;
    if (!PurgeComm(FHandle.Get(), Mask))
        return false;
    FPacketStartTime = NoPacketStart;
    return true;
}

TModemLines TCommPortDriver::ModemLines() {
    TModemLines Lines;
    DWORD Status = 0;
    if (!Connected() || !ModemStatusQuery(FHandle.Get(), &Status))
        return Lines;
    if (Status & MS_CTS_ON)
        Lines.Include(mlCTS);
    if (Status & MS_DSR_ON)
        Lines.Include(mlDSR);
    if (Status & MS_RING_ON)
        Lines.Include(mlRING);
    if (Status & MS_RLSD_ON)
        Lines.Include(mlRLSD);
    return Lines;
}

bool TCommPortDriver::QueryOutputRoom(std::uint16_t& Room) {
    DWORD Errors = 0;
    COMSTAT Status = {};
    if (!CommStatusQuery(FHandle.Get(), &Errors, &Status)) {
        Room = 0;
        return false;
    }
    // A driver may keep more queued than the size we asked for; that is no room, not 65535.
    Room = static_cast<std::uint16_t>(Status.cbOutQue < FOutBufSize ? FOutBufSize - Status.cbOutQue : 0);
    return true;
}

bool TCommPortDriver::PortAnswers() {
    if (!Connected())
        return true;
    DWORD Errors = 0;
    COMSTAT Status = {};
    return CommStatusQuery(FHandle.Get(), &Errors, &Status) != 0;
}

std::uint16_t TCommPortDriver::OutputRoom() {
    if (!Connected())
        return 65535;
    std::uint16_t Room;
    QueryOutputRoom(Room);
    return Room;
}

std::uint32_t TCommPortDriver::SendDataTimed(const void* DataPtr, std::uint32_t DataSize,
                                             std::uint32_t Timeout) {
    if (!Connected())
        return 0;
    const auto* Data = static_cast<const unsigned char*>(DataPtr);
    std::uint32_t Written = 0;
    DWORD Mark = GetTickCount();
    while (DataSize > 0) {
        std::uint16_t Room;
        if (!QueryOutputRoom(Room)) {
            // The port is gone (a pulled USB adapter): say so now rather than let the owner wait
            // for a reply that cannot come.
            const DWORD Error = GetLastError();
            throw ECommError(Error, "Cannot query the state of " + FPortName);
        }
        if (Room > 0) {
            if (FCheckLineStatus && ModemLines().Empty())
                return Written;
            DWORD Count = 0;
            WriteFile(FHandle.Get(), Data, std::min<std::uint32_t>(Room, DataSize), &Count, nullptr);
            if (Count > 0) {
                Written += Count;
                Data += Count;
                DataSize -= Count;
                Mark = GetTickCount();
                continue;
            }
        }
        const DWORD Waited = GetTickCount() - Mark;
        if (Waited > Timeout)
            return Written;
        // The queue drains at the line's pace: sleep a little rather than spin on the status query.
        Sleep(std::min<DWORD>(SendRetryPause, Timeout - Waited + 1));
    }
    return Written;
}

std::uint32_t TCommPortDriver::SendData(const void* DataPtr, std::uint32_t DataSize) {
    return SendDataTimed(DataPtr, DataSize, FOutputTimeout);
}

bool TCommPortDriver::SendText(const std::string& Text) {
    const auto Length = static_cast<std::uint32_t>(Text.size());
    return SendData(Text.data(), Length) == Length;
}

std::uint32_t TCommPortDriver::PacketDuration(std::uint32_t Count) const {
    if (FBaudRateValue == 0)
        return 0;
    // Count * 1000 / (BaudRateValue / 10) in exact integers, then rounded half to even.
    const std::uint64_t Numerator = std::uint64_t{Count} * 10000;
    const std::uint64_t Quotient = Numerator / FBaudRateValue;
    const std::uint64_t Twice = (Numerator % FBaudRateValue) * 2;
    std::uint64_t Result = Quotient;
    if (Twice > FBaudRateValue || (Twice == FBaudRateValue && (Quotient & 1)))
        ++Result;
    return static_cast<std::uint32_t>(Result);
}

void TCommPortDriver::PollWndProc(TMessage& Message) {
    if (Message.Msg != WM_TIMER || !Connected()) {
        FTimerWindow->DefaultHandler(Message);
        return;
    }
    DWORD Errors = 0;
    COMSTAT Status = {};
    // The counts mean something only when the query succeeds; a port that stopped answering
    // (an adapter pulled out) skips the tick, and the owner's own time-out notices.
    if (!CommStatusQuery(FHandle.Get(), &Errors, &Status))
        return;
    if (FPacketSize <= 0)
        DataTick(Status.cbInQue);
    else
        PacketTick(Status.cbInQue);
}

std::uint32_t TCommPortDriver::ReadQueued(std::uint32_t Count) {
    // The owner may have closed the port in an event of this very tick.
    if (!Connected())
        return 0;
    DWORD Read = 0;
    // Never more than the buffer holds, whatever the driver reports queued: the rest waits for the
    // next tick.
    if (!ReadFile(FHandle.Get(), FBuffer.data(), std::min(Count, FInBufSize), &Read, nullptr))
        return 0;
    return Read;
}

void TCommPortDriver::DataTick(std::uint32_t Queued) {
    if (Queued == 0)
        return;
    const std::uint32_t Read = ReadQueued(Queued);
    if (Read > 0)
        Raise(OnReceiveData, static_cast<void*>(FBuffer.data()), Read);
}

void TCommPortDriver::PacketTick(std::uint32_t Queued) {
    const auto Size = static_cast<std::uint32_t>(FPacketSize);
    if (Queued >= Size) {
        do {
            const std::uint32_t Read = ReadQueued(Size);
            if (Read > 0)
                Raise(OnReceivePacket, static_cast<void*>(FBuffer.data()), Read);
            // The bytes still queued began to arrive about one packet later than these.
            if (FPacketStartTime != NoPacketStart)
                FPacketStartTime += PacketDuration(Size);
            Queued -= Size;
            if (Queued == 0)
                FPacketStartTime = NoPacketStart;
        } while (Queued >= Size);
        return;
    }
    const DWORD Now = GetTickCount();
    if (FPacketStartTime != NoPacketStart && PacketTimedOut(FPacketStartTime, FPacketTimeout, Now)) {
        const std::uint32_t Read = ReadQueued(Queued);
        if (FPacketMode == pmPass && Read > 0)
            Raise(OnReceivePacket, static_cast<void*>(FBuffer.data()), Read);
        FPacketStartTime = NoPacketStart;
        return;
    }
    if (Queued > 0 && FPacketStartTime == NoPacketStart)
        FPacketStartTime = Now;
}
