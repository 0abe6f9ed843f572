#pragma once
// TCommPortDriver: one serial port as a non-visual component. It opens the port by device name,
// programs the line settings and queue sizes, writes with a time-out that counts from the last
// progress, and while open polls the receive queue on a window timer, handing what arrived to its
// owner as events. Everything runs on the user-interface thread: no thread, no overlapped I/O.

#include "kit/Component.h"
#include "kit/Events.h"
#include "kit/Exceptions.h"
#include "kit/Messages.h"
#include "kit/Sets.h"
#include "kit/UniqueHandle.h"
#include "kit/UtilityWindow.h"
#include "kit/Win32Error.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <windows.h>

// The ordinal of pnCOMn is n.
enum TPortNumber {
    pnCustom,
    pnCOM1,
    pnCOM2,
    pnCOM3,
    pnCOM4,
    pnCOM5,
    pnCOM6,
    pnCOM7,
    pnCOM8,
    pnCOM9,
    pnCOM10,
    pnCOM11,
    pnCOM12,
    pnCOM13,
    pnCOM14,
    pnCOM15,
    pnCOM16
};

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};

// The number of data bits is the ordinal plus 5.
enum TDataBits { db5BITS, db6BITS, db7BITS, db8BITS };
// Ordinals are the platform's codes: ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS.
enum TStopBits { sb1BITS, sb1HALFBITS, sb2BITS };
// Ordinals are the platform's codes: NOPARITY .. SPACEPARITY.
enum TParity { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum THwFlowControl { hfNONE, hfNONERTSON, hfRTSCTS };
enum TSwFlowControl { sfNONE, sfXONXOFF };
enum TPacketMode { pmDiscard, pmPass };

enum TModemLine { mlCTS, mlDSR, mlRING, mlRLSD };
// Bits 1, 2, 4 and 8 in the order of TModemLine.
using TModemLines = TSet<TModemLine, std::uint8_t>;

using TReceiveDataEvent = TEvent<TObject*, void* /*DataPtr*/, std::uint32_t /*DataSize*/>;
using TReceivePacketEvent = TEvent<TObject*, void* /*Packet*/, std::uint32_t /*DataSize*/>;

// The number a named rate stands for; brCustom gives 0.
std::uint32_t BaudRateNumber(TBaudRate Rate);

// Raised by a send when the port no longer answers a status query (an adapter pulled out), so the
// owner learns of it at once instead of by a silent time-out.
class ECommError : public EWin32Error {
public:
    using EWin32Error::EWin32Error;
};

class TCommPortDriver : public TComponent {
public:
    explicit TCommPortDriver(TComponent* AOwner);
    ~TCommPortDriver() override;

    // Published properties, in the order a form stores them (BaudRate before BaudRateValue, Port
    // before PortName).
    TPortNumber Port() const { return FPort; } // pnCOM2
    void SetPort(TPortNumber Value);
    const std::string& PortName() const { return FPortName; } // "\\.\COM2", set by the constructor
    void SetPortName(const std::string& Value);
    TBaudRate BaudRate() const { return FBaudRate; } // br9600
    void SetBaudRate(TBaudRate Value);
    std::uint32_t BaudRateValue() const { return FBaudRateValue; } // 9600
    void SetBaudRateValue(std::uint32_t Value);
    TDataBits DataBits() const { return FDataBits; } // db8BITS
    void SetDataBits(TDataBits Value);
    TStopBits StopBits() const { return FStopBits; } // sb1BITS
    void SetStopBits(TStopBits Value);
    TParity Parity() const { return FParity; } // ptNONE
    void SetParity(TParity Value);
    THwFlowControl HwFlow() const { return FHwFlow; } // hfNONERTSON
    void SetHwFlow(THwFlowControl Value);
    TSwFlowControl SwFlow() const { return FSwFlow; } // sfNONE
    void SetSwFlow(TSwFlowControl Value);
    std::uint32_t InBufSize() const { return FInBufSize; } // 2048
    void SetInBufSize(std::uint32_t Value);
    std::uint32_t OutBufSize() const { return FOutBufSize; } // 2048
    void SetOutBufSize(std::uint32_t Value);
    std::int16_t PacketSize() const { return FPacketSize; } // -1
    void SetPacketSize(std::int16_t Value);
    std::int32_t PacketTimeout() const { return FPacketTimeout; } // -1
    void SetPacketTimeout(std::int32_t Value);
    TPacketMode PacketMode() const { return FPacketMode; } // pmDiscard
    void SetPacketMode(TPacketMode Value) { FPacketMode = Value; }
    std::uint16_t PollingDelay() const { return FPollingDelay; } // 50
    void SetPollingDelay(std::uint16_t Value);
    bool EnableDTROnOpen() const { return FEnableDTROnOpen; } // true
    void SetEnableDTROnOpen(bool Value) { FEnableDTROnOpen = Value; }
    std::uint16_t OutputTimeout() const { return FOutputTimeout; } // 500
    void SetOutputTimeout(std::uint16_t Value) { FOutputTimeout = Value; }
    std::uint32_t InputTimeout() const { return FInputTimeout; } // 200; kept for the owner, unused here
    void SetInputTimeout(std::uint32_t Value) { FInputTimeout = Value; }
    bool CheckLineStatus() const { return FCheckLineStatus; } // false
    void SetCheckLineStatus(bool Value) { FCheckLineStatus = Value; }
    TReceiveDataEvent OnReceiveData;
    TReceivePacketEvent OnReceivePacket;

    bool Connect();
    void Disconnect();
    bool Connected() const { return static_cast<bool>(FHandle); }
    bool ApplyCommSettings();
    bool FlushBuffers(bool InBuf, bool OutBuf);
    TModemLines ModemLines();
    std::uint16_t OutputRoom();
    // False when the port is open but no longer answers a status query (an adapter pulled out);
    // true while closed.
    bool PortAnswers();
    std::uint32_t SendDataTimed(const void* DataPtr, std::uint32_t DataSize, std::uint32_t Timeout);
    std::uint32_t SendData(const void* DataPtr, std::uint32_t DataSize);
    bool SendText(const std::string& Text);

    // The line-settings record that ApplyCommSettings programs, built from the properties.
    DCB BuildCommState() const;
    // Milliseconds that Count bytes take on the line at ten bit times a byte, rounded half to even;
    // 0 when BaudRateValue is 0.
    std::uint32_t PacketDuration(std::uint32_t Count) const;
    // The tick count at which the packet being collected was first seen, or NoPacketStart.
    std::uint32_t PacketStartTime() const { return FPacketStartTime; }
    static constexpr std::uint32_t NoPacketStart = 0xFFFFFFFFu;

    HANDLE Handle() const { return FHandle.Get(); }
    HWND TimerWindowHandle() const { return FTimerWindow ? FTimerWindow->Handle() : nullptr; }

    // Test seams over the two status queries a pty cannot answer truthfully. By default they are
    // GetCommModemStatus and ClearCommError.
    std::function<BOOL(HANDLE, DWORD* ModemStatus)> ModemStatusQuery;
    std::function<BOOL(HANDLE, DWORD* Errors, COMSTAT* Status)> CommStatusQuery;

protected:
    // The timer window's procedure: receive ticks on WM_TIMER while open, the default handling
    // for everything else.
    void PollWndProc(TMessage& Message);

private:
    bool StartReceiveTimer();
    bool QueryOutputRoom(std::uint16_t& Room);
    void DataTick(std::uint32_t Queued);
    void PacketTick(std::uint32_t Queued);
    std::uint32_t ReadQueued(std::uint32_t Count);

    TPortNumber FPort = pnCOM2;
    std::string FPortName = "\\\\.\\COM2";
    TBaudRate FBaudRate = br9600;
    std::uint32_t FBaudRateValue = 9600;
    TDataBits FDataBits = db8BITS;
    TStopBits FStopBits = sb1BITS;
    TParity FParity = ptNONE;
    THwFlowControl FHwFlow = hfNONERTSON;
    TSwFlowControl FSwFlow = sfNONE;
    std::uint32_t FInBufSize = 2048;
    std::uint32_t FOutBufSize = 2048;
    std::int16_t FPacketSize = -1;
    std::int32_t FPacketTimeout = -1;
    TPacketMode FPacketMode = pmDiscard;
    std::uint16_t FPollingDelay = 50;
    bool FEnableDTROnOpen = true;
    std::uint16_t FOutputTimeout = 500;
    std::uint32_t FInputTimeout = 200;
    bool FCheckLineStatus = false;

    TUniqueHandle<TFileHandleTraits> FHandle;
    std::unique_ptr<TUtilityWindow> FTimerWindow;
    std::vector<unsigned char> FBuffer;
    std::uint32_t FPacketStartTime = NoPacketStart;
};
