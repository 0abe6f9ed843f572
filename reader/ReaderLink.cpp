#include "reader/ReaderLink.h"

#include "reader/ReaderProtocol.h"
#include "reader/ReplyAssembler.h"

#include <algorithm>
#include <utility>

std::string FactoryCode;
std::string ModuleVersion;
std::string ModuleID;
std::string CardID;
std::string ReplyBuffer;
bool WaitingReply = false;
bool ReplyTimedOut = false;
bool ScanMode = false;
TReaderLink* ReaderLink = nullptr;

namespace {

const char SendingTimeoutText[] =
    "Data sending timeout! Module will be disconnected now.\nPlease re-connect.\n\n"
    "If the error remains, check your device connection and Port Settings in Properties.";
const char DeviceUnpluggedText[] = "Device unplugged!";

// The status line of a card reply: a card that was not typed says why, so that nobody takes it for
// one that reached the window.
const char* CardStatusLine(TypingOutcome Typing) {
    switch (Typing) {
    case TypingOutcome::Typed:
        break;
    case TypingOutcome::ControlCharacters:
        return ": Card ID not typed: it holds control characters";
    case TypingOutcome::OwnWindowInFront:
        return ": Card ID not typed: Cardwick's window is in front";
    case TypingOutcome::NoWindowInFront:
        return ": Card ID not typed: no window in front";
    case TypingOutcome::HigherRights:
        return ": Card ID not typed: the window in front runs with higher rights";
    }
    return ": Read Card ID OK";
}

} // namespace

// One wait of SendString. Waits nest (a poll tick inside a wait sends too), and every wait of the
// live link waits for the one reply outstanding: the reply to the latest command. So they share one
// deadline, the time-out after that command went out; a nested call that sends moves it on for the
// waits under it. The reply timer runs from the start of the outermost wait of the live link to its
// end, and again from every send under it, so its tick never comes before that deadline. A wait
// whose link dropped may stay on the stack under the drop's box while the link comes back: it
// counts for no later wait, neither its deadline nor its timer.
struct TReaderLink::TWait {
    explicit TWait(TReaderLink& Link)
        : Link(Link), Outer(Link.FInnermostWait), Connection(Link.FConnection), OwnsTimer(!Link.LiveWait()) {
        // A reply outstanding that this link did not ask for on this connection (the flag is shared)
        // is counted from now.
        if (!Link.FLatestCommand)
            Link.FLatestCommand = TCommandSent{Link.FHost.Now(), Link.FHost.ReplyTimeout()};
        Link.FInnermostWait = this;
        if (OwnsTimer) {
            ReplyTimedOut = false;
            Link.FHost.SetReplyTimer(true);
        }
    }
    ~TWait() {
        Link.FInnermostWait = Outer;
        if (OwnsTimer)
            Link.FHost.SetReplyTimer(false);
    }
    TWait(const TWait&) = delete;
    TWait& operator=(const TWait&) = delete;

    TReaderLink& Link;
    TWait* Outer;
    // The link the wait belongs to; once it has gone down, the wait only unwinds.
    unsigned Connection;
    bool OwnsTimer;
};

std::uint32_t TReaderLink::WaitRemaining() {
    if (!LiveWait() || !FLatestCommand)
        return UINT32_MAX;
    // Unsigned differences stay right across the clock's wrap.
    const std::uint32_t Elapsed = FHost.Now() - FLatestCommand->At;
    return Elapsed >= FLatestCommand->Timeout ? 0 : FLatestCommand->Timeout - Elapsed;
}

void TReaderLink::CommandSent() {
    FLatestCommand = TCommandSent{FHost.Now(), FHost.ReplyTimeout()};
    // Waits under this call now wait for this command's reply: their time-out starts afresh.
    if (LiveWait()) {
        FHost.SetReplyTimer(false);
        ReplyTimedOut = false;
        FHost.SetReplyTimer(true);
    }
}

bool TReaderLink::SendString(char Command, const std::string& Data) {
    // After Exit the port is closed and the message loop is ending: nothing more is sent, and no
    // box may hold the program open.
    if (FHost.Terminated())
        return false;
    const unsigned Connection = FConnection;
    try {
        if (WaitingReply) {
            TWait Wait(*this);
            for (;;) {
                FHost.ProcessMessages();
                if (FHost.Terminated())
                    return false;
                // Disconnected meanwhile, by the user or by a nested call that has said why: this
                // command belongs to a link that is gone.
                if (FConnection != Connection)
                    return false;
                // Checked before the time-out: a reply dispatched in the same pass as the timer
                // tick has arrived in time.
                if (!WaitingReply)
                    break;
                if (ReplyTimedOut || WaitRemaining() == 0) {
                    // The settings dialog's probe gives up on the reply and sends all the same.
                    if (ScanMode)
                        break;
                    DropLink(LinkDrop::TimedOut);
                    return false;
                }
                // The driver skips its receive ticks on a port that is gone; say so now rather
                // than when the time-out comes.
                if (FHost.PortOpen() && !FHost.PortAnswers()) {
                    DropLink(LinkDrop::PortGone);
                    return false;
                }
                // The flags change only inside message handlers: sleep until the next message.
                FHost.WaitForMessage(WaitRemaining());
            }
        }
        WaitingReply = true;
        // The port's own result is not consulted: a frame that did not go out shows as a time-out
        // of the next command.
        FHost.SendFrame(BuildCommandFrame(Command, Data));
        CommandSent();
        FHost.ShowCommandPicture(true);
        return true;
    } catch (...) {
        // Only once per link: a nested call may already have dropped it.
        if (FConnection == Connection)
            DropLink(LinkDrop::SendError);
        return false;
    }
}

void TReaderLink::ReplyTimerFired() {
    ReplyTimedOut = true;
    // Once per wait.
    FHost.SetReplyTimer(false);
}

// Everything between the driver's receive tick and the keystrokes. It runs inside whatever
// message dispatching happens next: the main loop, a wait of SendString, a message box.
void TReaderLink::ReceiveData(const void* DataPtr, std::size_t DataSize) {
    // Any byte at all answers the pending command, a broken or partial frame included.
    WaitingReply = false;
    ReplyTimedOut = false;
    try {
        // Copy first: a nested receive tick inside a message box or a wait reuses the driver's
        // buffer.
        const std::string Received(static_cast<const char*>(DataPtr), DataSize);
        const TReplyStep Step = AssembleReply(ReplyBuffer, Received);
        switch (Step.Outcome) {
        case ReplyOutcome::CheckFailed:
            // A try says nothing until it has succeeded.
            if (FReconnect != TReconnect::Trying)
                FHost.WriteStatus(": BCC check failed! Error in data received.");
            break;
        case ReplyOutcome::Frame:
            HandleReplyFrame(Step.Frame.ModuleID, Step.Frame.ReplyCode, Step.Frame.Data);
            break;
        case ReplyOutcome::Nothing:
        case ReplyOutcome::Incomplete:
        case ReplyOutcome::Discarded:
            break;
        }
    } catch (...) {
        ReplyBuffer.clear();
        DropLink(LinkDrop::ReceiveError);
    }
}

void TReaderLink::HandleReplyFrame(const std::string& ModuleIDText, const std::string& ReplyCode,
                                   const std::string& Data) {
    if (FReconnect == TReconnect::Trying) {
        // Kept, not shown: the fields and the status line follow only a try that succeeds.
        ModuleID = ModuleIDText;
        ReplyBuffer.clear();
        // The reply to "B" has just ended the only wait "V" could have had: it goes at once.
        if (ReplyCode == "B") {
            FactoryCode = Data;
            SendString('V', std::string());
        } else if (ReplyCode == "V") {
            ModuleVersion = Data;
            CompleteReconnect();
        }
        return;
    }
    ModuleID = ModuleIDText;
    FHost.ShowField(LinkField::ModuleID, ModuleID);
    if (ReplyCode == "B") {
        FactoryCode = Data;
        FHost.ShowField(LinkField::FactoryCode, FactoryCode);
        FHost.WriteStatus(": Get Factory Code OK");
    } else if (ReplyCode == "V") {
        ModuleVersion = Data;
        FHost.ShowField(LinkField::Version, ModuleVersion);
        FHost.WriteStatus(": Get Version OK");
    } else if (ReplyCode == "F") {
        CardID = Data;
        TypingOutcome Typing = TypingOutcome::Typed;
        if (!CardID.empty()) {
            FHost.ShowField(LinkField::CardID, CardID);
            // Read afresh for every card, so that a change in the file applies from the next one.
            Typing = FHost.TypeCardID(CardID, FHost.SuffixCarriageReturn());
        }
        // After the keystrokes: the OK line means the card has been typed.
        FHost.WriteStatus(CardStatusLine(Typing));
    }
    ReplyBuffer.clear();
    FHost.ShowCommandPicture(false);
}

void TReaderLink::Connect() {
    StopReconnecting();
    if (!FHost.LoadSettings(false))
        return;
    FHost.EnableControls(true);
    if (!FHost.OpenPort()) {
        FHost.WriteStatus(": Error connecting");
        FHost.EnableControls(false);
        return;
    }
    FLastDrop = LinkDrop::None;
    FUp = true;
    FHost.ShowConnected(true);
    FHost.Pause(PortSettlePause);
    if (!SendString('B', std::string()))
        return;
    // This call's wait is the wait for the reply to "B"; the reply to "V" comes later.
    SendString('V', std::string());
}

// Goes by the link, not the port: a drop during Connect may leave a try holding the port open, and
// a reconnect under the drop's box may already have started reading.
void TReaderLink::ConnectAndStartReading() {
    FReadingFollows = true;
    Connect();
    FReadingFollows = false;
    if (FUp && !FHost.Reading())
        FHost.ToggleReading();
}

void TReaderLink::Disconnect() {
    StopReconnecting();
    DisconnectSteps();
}

void TReaderLink::DisconnectSteps() {
    ++FConnection;
    FUp = false;
    WaitingReply = false;
    FLatestCommand.reset();
    if (FHost.Reading())
        FHost.ToggleReading();
    FHost.ClosePort();
    FHost.ShowConnected(false);
    FHost.EnableControls(false);
    FactoryCode.clear();
    ModuleVersion.clear();
    ModuleID.clear();
    CardID.clear();
}

void TReaderLink::DropLink(LinkDrop Reason) {
    if (FReconnect == TReconnect::Trying) {
        AbandonTry();
        return;
    }
    const bool WasReading = FHost.Reading() || FReadingFollows;
    // Only a link that was up comes back by itself: a probe of the settings dialog never was.
    const bool WasUp = FUp;
    FLastDrop = Reason;
    DisconnectSteps();
    FHost.WriteStatus(Reason == LinkDrop::ReceiveError ? ": Data receiving timeout!"
                                                       : ": Data sending timeout!");
    // Before the box, which waits for somebody to dismiss it: an unattended desk gets its reader
    // back all the same.
    const bool Tries = WasUp && !FHost.Terminated() && FHost.ReconnectAutomatically();
    if (Tries) {
        // The box is about to take the foreground from the window the cards were going to.
        FHost.KeepForeground();
        StartReconnecting(WasReading);
    }
    const bool OuterBoxOpen = std::exchange(FDropBoxOpen, Tries);
    FHost.ShowError(Reason == LinkDrop::TimedOut ? SendingTimeoutText : DeviceUnpluggedText);
    FDropBoxOpen = OuterBoxOpen;
    // Closed by the reconnect: the box has gone and its owner took the activation as it went, so
    // only now can the foreground go back, and only then may a card be typed.
    if (std::exchange(FResumeAfterBox, false) && FUp) {
        FHost.RestoreForeground();
        ResumeReading();
    }
}

void TReaderLink::StartReconnecting(bool WasReading) {
    FReconnect = TReconnect::Waiting;
    FResumeReading = WasReading;
    FReconnectAnnounced = false;
    FHost.SetReconnectTimer(true);
}

void TReaderLink::ReconnectTimerFired() {
    if (FReconnect == TReconnect::Off) {
        FHost.SetReconnectTimer(false);
        return;
    }
    // A try never runs inside a wait of a live link or a probe of the settings dialog, whose port it
    // would take. The wait whose time-out dropped the link is still on the stack under its box, but
    // it belongs to a link that is gone and will only unwind.
    if (LiveWait() || ScanMode || FHost.Terminated())
        return;
    if (FReconnect == TReconnect::Trying)
        AbandonTry();
    if (!FReconnectAnnounced) {
        FReconnectAnnounced = true;
        FHost.WriteStatus(": Reconnecting...");
    }
    // Read afresh at every try, as at every Connect: a port changed by hand in the file counts.
    if (!FHost.LoadSettings(true) || !FHost.OpenPort())
        return;
    FReconnect = TReconnect::Trying;
    FHost.Pause(PortSettlePause);
    // No reply is outstanding on a port just opened: this does not wait.
    SendString('B', std::string());
}

bool TReaderLink::LiveWait() const {
    for (const TWait* Wait = FInnermostWait; Wait; Wait = Wait->Outer)
        if (Wait->Connection == FConnection)
            return true;
    return false;
}

void TReaderLink::AbandonTry() {
    FReconnect = TReconnect::Waiting;
    DisconnectSteps();
}

void TReaderLink::CompleteReconnect() {
    FReconnect = TReconnect::Off;
    FHost.SetReconnectTimer(false);
    FLastDrop = LinkDrop::None;
    FUp = true;
    // The module as a Connect shows it.
    FHost.EnableControls(true);
    FHost.ShowConnected(true);
    FHost.ShowField(LinkField::ModuleID, ModuleID);
    FHost.ShowField(LinkField::FactoryCode, FactoryCode);
    FHost.ShowField(LinkField::Version, ModuleVersion);
    FHost.WriteStatus(": Get Version OK");
    // The drop's box, still open, would take the next card's digits, and its Enter would press OK:
    // it closes as if OK had been pressed, and reading resumes once it has gone (in DropLink).
    if (FDropBoxOpen && FHost.CloseErrorBox()) {
        FResumeAfterBox = true;
        return;
    }
    ResumeReading();
}

void TReaderLink::ResumeReading() {
    if (FResumeReading && !FHost.Reading())
        FHost.ToggleReading();
}

void TReaderLink::StopReconnecting() {
    if (FReconnect == TReconnect::Off)
        return;
    const bool WasTrying = FReconnect == TReconnect::Trying;
    FReconnect = TReconnect::Off;
    FHost.SetReconnectTimer(false);
    if (WasTrying)
        DisconnectSteps();
}

void TReaderLink::Exit() {
    FReconnect = TReconnect::Off;
    FHost.SetReconnectTimer(false);
    FUp = false;
    FHost.ClosePort();
}

bool TReaderLink::Probe(const std::string& Port, std::uint32_t BaudRate, bool EvenParity,
                        const std::function<void()>& Listen) {
    FHost.ApplyLineSettings("\\\\.\\" + Port, BaudRate, EvenParity);
    ModuleID.clear();
    // An error (raised by Listen, say) leaves no port open behind an idle dialog.
    struct TAttemptEnd {
        TReaderLinkHost& Host;
        ~TAttemptEnd() {
            Host.ClosePort();
            WaitingReply = false;
        }
    } AttemptEnd{FHost};
    if (!FHost.OpenPort())
        return false;
    FHost.Pause(PortSettlePause);
    if (SendString('B', std::string()))
        Listen();
    // Only the module ID was cleared: a factory code from an earlier try counts too.
    return !ModuleID.empty() && !FactoryCode.empty();
}
