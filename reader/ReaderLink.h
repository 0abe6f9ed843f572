#pragma once
// The reader link's logic, free of window code: connecting and identifying the module, the one
// command at a time rule with its wait and time-out, reply handling, and the disconnect steps. The
// main window drives it and lends it what it needs through TReaderLinkHost: the port, the clock and
// the reply timer, message dispatching, the status line, the message box and its own controls.
//
// One thread runs everything, but handlers nest: a wait dispatches messages, so receive events,
// timer ticks (a poll entering SendString again included) and clicks all run inside it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The reader link data, once each: the module's identity, the last card ID, the reply being
// assembled and the flags. The settings dialog clears WaitingReply and ModuleID, sets and clears
// ScanMode, and reads ModuleID and FactoryCode.
extern std::string FactoryCode;
extern std::string ModuleVersion;
extern std::string ModuleID;
extern std::string CardID;
extern std::string ReplyBuffer;
extern bool WaitingReply;
extern bool ReplyTimedOut;
extern bool ScanMode;

// How long a command waits for the reply to the one before it, in the main window and while the
// settings dialog probes a port.
inline constexpr std::uint32_t NormalReplyTimeout = 2000;
inline constexpr std::uint32_t ProbeReplyTimeout = 500;
// The module needs a moment after its line comes up; nothing is dispatched meanwhile.
inline constexpr std::uint32_t PortSettlePause = 100;
// How often a dropped link tries to come back by itself, when the settings ask for that.
inline constexpr std::uint32_t ReconnectInterval = 5000;

// Why the link last went down without being asked to.
enum class LinkDrop {
    None,
    TimedOut,     // no byte of a reply before the time-out
    SendError,    // sending, or dispatching inside the wait, raised an error
    PortGone,     // the port stopped answering while a reply was outstanding
    ReceiveError, // handling received bytes raised an error
};

// The fields of the main window that show the link's data.
enum class LinkField { FactoryCode, Version, ModuleID, CardID };

// Whether a card ID went out as key strokes, and if not, why. A card that is not typed gets no key
// at all: the decision is made before the first key.
enum class TypingOutcome {
    Typed,
    ControlCharacters, // its bytes would press keys (Escape, Tab, Backspace...) instead of typing
    OwnWindowInFront,  // the program's own window would take the keys: Enter presses its buttons
    NoWindowInFront,   // a locked desk or a secure desktop
    HigherRights,      // the window in front would drop the keys without a word
};

// What the link needs of the window around it. Every call runs on the user-interface thread.
class TReaderLinkHost {
public:
    virtual ~TReaderLinkHost() = default;

    // The port. LoadSettings reads the port settings from the file and applies them; Quietly, a
    // missing or unreadable value only makes it return false, with no box. SendFrame may raise an
    // error (a port that stopped answering); PortAnswers is false only for an open port whose
    // status can no longer be queried.
    virtual bool LoadSettings(bool Quietly) = 0;
    // The settings dialog's way: a device name, bits per second, and even parity or none.
    virtual void ApplyLineSettings(const std::string& PortName, std::uint32_t BaudRate, bool EvenParity) = 0;
    virtual bool OpenPort() = 0;
    virtual void ClosePort() = 0;
    virtual bool PortOpen() = 0;
    virtual void SendFrame(const std::string& Frame) = 0;
    virtual bool PortAnswers() = 0;

    // Time: a millisecond clock, the reply time-out now in force, the reply timer (whose tick
    // calls TReaderLink::ReplyTimerFired) and a pause that dispatches nothing.
    virtual std::uint32_t Now() = 0;
    virtual std::uint32_t ReplyTimeout() = 0;
    virtual void SetReplyTimeout(std::uint32_t Milliseconds) = 0;
    virtual void SetReplyTimer(bool Enabled) = 0;
    virtual void Pause(std::uint32_t Milliseconds) = 0;

    // Dispatching: everything pending, then, when the caller still waits, sleep until a message
    // arrives or LimitMs have passed. Terminated: the program is ending.
    virtual void ProcessMessages() = 0;
    virtual void WaitForMessage(std::uint32_t LimitMs) = 0;
    virtual bool Terminated() = 0;

    // What the user sees. ShowError makes the main window visible first, then shows the error box.
    virtual void WriteStatus(const std::string& Message) = 0;
    virtual void ShowError(const std::string& Text) = 0;
    virtual void ShowConnected(bool Connected) = 0;
    virtual void EnableControls(bool Connected) = 0;
    virtual void ShowField(LinkField Field, const std::string& Text) = 0;
    virtual bool Reading() = 0;
    virtual void ToggleReading() = 0;
    // The tray icon component's picture after a command (true) and after a handled reply (false).
    virtual void ShowCommandPicture(bool CommandSent) = 0;

    // Card IDs: whether to append a carriage return (read afresh for every card), and typing the
    // card ID with the carriage return after it when asked. It says whether the keys went out.
    virtual bool SuffixCarriageReturn() = 0;
    virtual TypingOutcome TypeCardID(const std::string& CardID, bool SuffixCarriageReturn) = 0;

    // Reconnecting by itself: whether the settings ask for it (read afresh at every drop), and the
    // timer, every ReconnectInterval, whose tick calls TReaderLink::ReconnectTimerFired.
    virtual bool ReconnectAutomatically() = 0;
    virtual void SetReconnectTimer(bool Enabled) = 0;
    // Closes the error box now open as if its OK had been pressed; false when none can be closed.
    // ShowError returns once the box has gone.
    virtual bool CloseErrorBox() = 0;
    // The window with the foreground, kept when the link drops and given the foreground back after
    // the reconnect, if it still exists and is not one of the program's own.
    virtual void KeepForeground() = 0;
    virtual void RestoreForeground() = 0;
};

class TReaderLink {
public:
    explicit TReaderLink(TReaderLinkHost& Host) : FHost(Host) {}
    TReaderLink(const TReaderLink&) = delete;
    TReaderLink& operator=(const TReaderLink&) = delete;

    // Settings, port, identification: "B", then "V", whose wait is the wait for the reply to "B".
    // The user's Connect: tries to reconnect by themselves end here.
    void Connect();
    // Start-up: Connect, then start reading once the link is up. When the link drops meanwhile,
    // reading follows the reconnect instead.
    void ConnectAndStartReading();
    // Connected by the user's Connect or a reconnect, and not dropped since.
    bool Up() const { return FUp; }
    // The disconnect steps, also run on every error. The status line and ReplyBuffer stay. The
    // user's Disconnect (and the settings dialog's) also ends the tries to reconnect.
    void Disconnect();

    // Sends one command once no reply to an earlier one is outstanding. Waits (dispatching) while
    // WaitingReply is set, never for the reply to its own command. The wait times out when the
    // reader has stayed silent for the reply time-out after the latest command, however calls
    // nest. True once the frame was handed to the port; false after the wait timed out or an
    // error (the link then dropped and said so once), and, silently, when the link was
    // disconnected during the wait or the program is ending.
    bool SendString(char Command, const std::string& Data);

    // One receive event of the driver. Any byte answers the outstanding command.
    void ReceiveData(const void* DataPtr, std::size_t DataSize);
    void ReplyTimerFired();

    // The reply time-out: NormalReplyTimeout, and ProbeReplyTimeout while the settings dialog
    // probes.
    std::uint32_t ReplyTimeout() { return FHost.ReplyTimeout(); }
    void SetReplyTimeout(std::uint32_t Milliseconds) { FHost.SetReplyTimeout(Milliseconds); }

    // One try of a port ("COM3") by the settings dialog, on the link's own port: open it, send the
    // factory code command, and Listen (the dialog's wait, which dispatches the replies). True when
    // a valid reply came and a factory code is known, from this try or an earlier one. However it
    // ends, the port is closed and WaitingReply cleared.
    bool Probe(const std::string& Port, std::uint32_t BaudRate, bool EvenParity,
               const std::function<void()>& Listen);

    LinkDrop LastDrop() const { return FLastDrop; }

    // After a link that was up drops by an error or a time-out, when the settings ask for it: one
    // quiet try a tick (the port settings read from the file, open the port, "B", then "V"; no box,
    // no status line and no field until it succeeds), never inside a wait or a probe of the
    // settings dialog. Once both replies are in, the link is connected again; the drop's box, if
    // still open, closes by itself and the foreground goes back to the window that had it at the
    // drop; then reading resumes if it was on (or about to start) when the link dropped.
    void ReconnectTimerFired();
    // The settings dialog, the user's Connect or Disconnect, and Exit end the tries.
    void StopReconnecting();
    // Exit's part: the port is closed, and nothing else is shown or sent.
    void Exit();
    bool Reconnecting() const { return FReconnect != TReconnect::Off; }

private:
    struct TWait;

    void HandleReplyFrame(const std::string& ModuleIDText, const std::string& ReplyCode,
                          const std::string& Data);
    // The one way the link goes down on its own: disconnect steps, status line, error box.
    void DropLink(LinkDrop Reason);
    // Milliseconds left before the reply to the latest command is due, while the live link waits.
    std::uint32_t WaitRemaining();
    // Starts the time-out of the command just handed to the port.
    void CommandSent();
    void DisconnectSteps();
    bool LiveWait() const;
    void StartReconnecting(bool WasReading);
    // A try that got no answer, or failed: the port is closed again without a word.
    void AbandonTry();
    void CompleteReconnect();
    void ResumeReading();

    enum class TReconnect {
        Off,     // the link is up, or nobody asked it to come back by itself
        Waiting, // for the next tick
        Trying,  // the port is open and the module has been asked who it is
    };

    TReaderLinkHost& FHost;
    // Counts the disconnect steps: a wait that finds it changed belongs to a link that is gone.
    unsigned FConnection = 0;
    TWait* FInnermostWait = nullptr;
    // When the latest command of this connection went out, and the reply time-out then in force.
    struct TCommandSent {
        std::uint32_t At;
        std::uint32_t Timeout;
    };
    std::optional<TCommandSent> FLatestCommand;
    LinkDrop FLastDrop = LinkDrop::None;
    TReconnect FReconnect = TReconnect::Off;
    bool FResumeReading = false;
    bool FReconnectAnnounced = false;
    bool FUp = false;
    // Start-up is connecting: a drop now means reading was about to start.
    bool FReadingFollows = false;
    // The drop's error box is open, and a reconnect has asked it to close: reading resumes when
    // it has gone.
    bool FDropBoxOpen = false;
    bool FResumeAfterBox = false;
};

// The main window's link, for the settings dialog, which probes ports on it.
extern TReaderLink* ReaderLink;
