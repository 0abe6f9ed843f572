// The reader link's logic against a recording host on a fake clock. The host plays the message
// loop: events are scheduled at times on the clock, a dispatch pass runs everything due in the
// order it was scheduled, and a wait moves the clock to the next event or the wait's limit. So a
// receive tick and a timer tick "in the same pass" are two events due at the same time.

#include "reader/ReaderLink.h"
#include "reader/ReaderModule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

const char SendingTimeout[] =
    "Data sending timeout! Module will be disconnected now.\nPlease re-connect.\n\n"
    "If the error remains, check your device connection and Port Settings in Properties.";
const char DeviceUnplugged[] = "Device unplugged!";

const std::string FactoryReply = BuildReplyFrame('0', "07", 'B', "30571846");
const std::string VersionReply = BuildReplyFrame('0', "07", 'V', "2.31");
const std::string CardReply = BuildReplyFrame('0', "07", 'F', "0004211311");

struct TTimed {
    std::uint32_t At;
    std::string Text;
};

class TFakeHost : public TReaderLinkHost {
public:
    TReaderLink* Link = nullptr;
    std::uint32_t Clock = 10000;
    // A wait that would block with nothing left to happen would hang the real program.
    std::uint32_t GiveUpAt = 200000;

    void At(std::uint32_t Time, std::function<void()> Event) { FEvents.emplace(Time, std::move(Event)); }
    void Receive(std::uint32_t Time, std::string Bytes) {
        At(Time, [this, Bytes] { Link->ReceiveData(Bytes.data(), Bytes.size()); });
    }
    // The driver's tick that finds nothing, or skips on a port that is gone: it only wakes a wait.
    void EmptyTick(std::uint32_t Time) {
        At(Time, [] {});
    }

    // Settings and port.
    bool SettingsPresent = true;
    bool PortOpens = true;
    bool Open = false;
    bool Answers = true;
    bool SendRaises = false;
    std::vector<TTimed> Frames;
    std::string LineSettings;
    // The port named in the settings file now, the one the driver holds, and every port opened.
    std::string FilePort = "COM3";
    std::string DriverPort = "COM3";
    std::vector<std::string> OpenedPorts;
    int Warnings = 0;
    bool LoadSettings(bool Quietly) override {
        if (SettingsPresent)
            DriverPort = FilePort;
        else if (!Quietly)
            ++Warnings;
        return SettingsPresent;
    }
    void ApplyLineSettings(const std::string& PortName, std::uint32_t BaudRate, bool EvenParity) override {
        DriverPort = PortName;
        LineSettings = PortName + " " + std::to_string(BaudRate) + (EvenParity ? " even" : " none");
    }
    bool OpenPort() override {
        if (PortOpens)
            OpenedPorts.push_back(DriverPort);
        return Open = PortOpens;
    }
    void ClosePort() override { Open = false; }
    bool PortOpen() override { return Open; }
    void SendFrame(const std::string& Frame) override {
        if (SendRaises)
            throw std::runtime_error("the port no longer answers");
        // A closed port writes nothing, as the driver's does.
        if (!Open)
            return;
        Frames.push_back({Clock, Frame});
        const char Letter = Frame.at(4);
        if (ModuleAnswers && Unanswered.find(Letter) == std::string::npos) {
            std::string Reply = Letter == 'B' ? FactoryReply : Letter == 'V' ? VersionReply : CardReply;
            if (BadBCC)
                Reply.at(Reply.size() - 2) ^= 1;
            std::uint32_t Delay = 20;
            if (Letter == 'F' && !LatePolls.empty()) {
                Delay = LatePolls.front();
                LatePolls.erase(LatePolls.begin());
            }
            Receive(Clock + Delay, Reply);
        }
    }
    // A module on the line that answers every command 20 ms after it went out (the next polls
    // after the delays in LatePolls), except those in Unanswered, with a wrong block check when
    // BadBCC.
    bool ModuleAnswers = false;
    std::string Unanswered;
    bool BadBCC = false;
    std::vector<std::uint32_t> LatePolls;
    bool PortAnswers() override { return Answers; }

    // Time.
    std::uint32_t Timeout = 2000;
    bool TimerOn = false;
    std::uint32_t Now() override { return Clock; }
    std::uint32_t ReplyTimeout() override { return Timeout; }
    void SetReplyTimeout(std::uint32_t Milliseconds) override { Timeout = Milliseconds; }
    void SetReplyTimer(bool Enabled) override {
        // A running timer is not restarted by enabling it again.
        if (Enabled == TimerOn)
            return;
        TimerOn = Enabled;
        const unsigned Arming = ++FTimerArming;
        if (Enabled)
            At(Clock + Timeout, [this, Arming] {
                if (TimerOn && Arming == FTimerArming)
                    Link->ReplyTimerFired();
            });
    }
    void Pause(std::uint32_t Milliseconds) override { Clock += Milliseconds; }

    // Dispatching.
    bool Ending = false;
    void ProcessMessages() override {
        while (DispatchOne()) {
        }
    }
    bool DispatchOne() {
        if (FEvents.empty() || FEvents.begin()->first > Clock)
            return false;
        auto Event = std::move(FEvents.begin()->second);
        FEvents.erase(FEvents.begin());
        Event();
        return true;
    }
    void WaitForMessage(std::uint32_t LimitMs) override {
        const std::uint64_t Limit = std::uint64_t{Clock} + LimitMs;
        const std::uint64_t Next = FEvents.empty() ? UINT64_MAX : FEvents.begin()->first;
        const std::uint64_t Until = std::min(Limit, Next);
        if (Until > GiveUpAt)
            throw std::logic_error("the wait would block for ever");
        Clock = static_cast<std::uint32_t>(std::max<std::uint64_t>(Until, Clock));
    }
    bool Terminated() override { return Ending; }

    // What the user sees.
    std::vector<TTimed> StatusLines, Boxes;
    std::string Panel = "Disconnected";
    bool ControlsConnected = false;
    std::map<LinkField, std::string> Fields;
    bool IsReading = false;
    std::string Typed;
    bool Suffix = false;
    bool TypingRaises = false;
    void WriteStatus(const std::string& Message) override { StatusLines.push_back({Clock, Message}); }
    // How long the user leaves an error box open; it dispatches meanwhile, one message at a time
    // as a modal box does, and ends after the message that closed it. Screen: what the user sees
    // happen, in order.
    std::uint32_t BoxOpenFor = 0;
    bool BoxClosesByItself = true;
    std::vector<std::string> Screen;
    void ShowError(const std::string& Text) override {
        Boxes.push_back({Clock, Text});
        const bool OuterBox = std::exchange(FBoxOpen, true);
        FBoxClosed = false;
        const std::uint32_t Until = Clock + BoxOpenFor;
        while (!FBoxClosed && Clock < Until) {
            if (!DispatchOne())
                WaitForMessage(Until - Clock);
        }
        if (!BoxOpenFor)
            ProcessMessages();
        FBoxOpen = OuterBox;
        FBoxClosed = false;
        Screen.push_back("box gone");
    }
    bool CloseErrorBox() override {
        if (!FBoxOpen || !BoxClosesByItself)
            return false;
        FBoxClosed = true;
        return true;
    }
    void KeepForeground() override { Screen.push_back("foreground kept"); }
    void RestoreForeground() override { Screen.push_back("foreground back"); }
    void ShowConnected(bool Connected) override { Panel = Connected ? "Connected" : "Disconnected"; }
    void EnableControls(bool Connected) override {
        ControlsConnected = Connected;
        if (!Connected)
            Fields.clear();
    }
    std::vector<TTimed> FieldWrites;
    void ShowField(LinkField Field, const std::string& Text) override {
        Fields[Field] = Text;
        FieldWrites.push_back({Clock, Text});
    }
    bool Reading() override { return IsReading; }
    // With Polling, reading sends "F" every 500 ms, as the poll timer does.
    bool Polling = false;
    void ToggleReading() override {
        IsReading = !IsReading;
        Screen.push_back(IsReading ? "reading" : "not reading");
        if (IsReading && Polling)
            SchedulePoll(++FPollArming);
    }
    void ShowCommandPicture(bool) override {}
    bool SuffixCarriageReturn() override { return Suffix; }
    // What the typing answers for every card; only a typed card reaches Typed.
    TypingOutcome Typing = TypingOutcome::Typed;
    int TypingCalls = 0;
    TypingOutcome TypeCardID(const std::string& CardID, bool SuffixCarriageReturn) override {
        ++TypingCalls;
        if (TypingRaises)
            throw std::runtime_error("typing failed");
        if (Typing == TypingOutcome::Typed)
            Typed += SuffixCarriageReturn ? CardID + "\r" : CardID;
        return Typing;
    }

    // Reconnecting by itself: the setting, and a timer that ticks every ReconnectInterval.
    bool ReconnectSetting = false;
    bool ReconnectTimerOn = false;
    bool ReconnectAutomatically() override { return ReconnectSetting; }
    void SetReconnectTimer(bool Enabled) override {
        if (Enabled == ReconnectTimerOn)
            return;
        ReconnectTimerOn = Enabled;
        if (Enabled)
            ScheduleReconnectTick(++FReconnectArming);
    }

    // Dispatches and sleeps as the message loop would, until the clock reaches Time.
    void RunUntil(std::uint32_t Time) {
        while (Clock < Time) {
            ProcessMessages();
            WaitForMessage(Time - Clock);
        }
        ProcessMessages();
    }

    std::vector<std::string> Commands() const {
        std::vector<std::string> Letters;
        for (const TTimed& Frame : Frames)
            Letters.push_back(Frame.Text.substr(4, 1));
        return Letters;
    }

private:
    void SchedulePoll(unsigned Arming) {
        At(Clock + 500, [this, Arming] {
            if (!IsReading || Arming != FPollArming)
                return;
            SchedulePoll(Arming);
            Link->SendString('F', "");
        });
    }
    void ScheduleReconnectTick(unsigned Arming) {
        At(Clock + ReconnectInterval, [this, Arming] {
            if (!ReconnectTimerOn || Arming != FReconnectArming)
                return;
            ScheduleReconnectTick(Arming);
            Link->ReconnectTimerFired();
        });
    }

    std::multimap<std::uint32_t, std::function<void()>> FEvents;
    unsigned FTimerArming = 0;
    unsigned FReconnectArming = 0;
    unsigned FPollArming = 0;
    bool FBoxOpen = false;
    bool FBoxClosed = false;
};

class ReaderLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        Host.Link = &Link;
        FactoryCode = ModuleVersion = ModuleID = CardID = ReplyBuffer = "";
        WaitingReply = ReplyTimedOut = ScanMode = false;
    }

    // Connected and reading, the reply to the last poll, sent just now, still outstanding: the
    // state in which the next poll tick waits.
    void ReadingWithAPollOutstanding() {
        // Connected by the user's Connect, so that the link knows it was up.
        Host.ModuleAnswers = true;
        Link.Connect();
        Host.RunUntil(Host.Clock + 100);
        Host.ModuleAnswers = false;
        ASSERT_EQ(Host.Panel, "Connected");
        ASSERT_EQ(FactoryCode, "30571846");
        Host.IsReading = true;
        ASSERT_TRUE(Link.SendString('F', ""));
        ASSERT_TRUE(WaitingReply);
        Host.Frames.clear();
        Host.StatusLines.clear();
        Host.FieldWrites.clear();
        Host.OpenedPorts.clear();
    }

    void ExpectDroppedWith(const char* Box, const char* Status) {
        ASSERT_EQ(Host.Boxes.size(), 1u);
        EXPECT_EQ(Host.Boxes.at(0).Text, Box);
        // One status line for the drop, and it is the last.
        ASSERT_FALSE(Host.StatusLines.empty());
        EXPECT_EQ(Host.StatusLines.back().Text, Status);
        EXPECT_EQ(std::count_if(Host.StatusLines.begin(), Host.StatusLines.end(),
                                [&](const TTimed& Line) { return Line.Text == Status; }),
                  1);
        EXPECT_FALSE(Host.Open);
        EXPECT_FALSE(Host.IsReading);
        EXPECT_EQ(Host.Panel, "Disconnected");
        EXPECT_FALSE(WaitingReply);
        EXPECT_EQ(FactoryCode, "");
    }

    TFakeHost Host;
    TReaderLink Link{Host};
};

// The user clicks Disconnect while a poll waits for a reply that does not come: the wait ends
// without sending and without a word, and the next Connect connects.
TEST_F(ReaderLinkTest, DisconnectDuringAWaitSendsNothingAndTheNextConnectConnects) {
    ReadingWithAPollOutstanding();
    const std::uint32_t Start = Host.Clock;
    Host.At(Start + 700, [this] { Link.Disconnect(); });

    EXPECT_FALSE(Link.SendString('F', ""));

    EXPECT_TRUE(Host.Frames.empty());
    EXPECT_TRUE(Host.Boxes.empty());
    EXPECT_FALSE(WaitingReply);
    EXPECT_FALSE(Host.TimerOn);

    Host.Receive(Host.Clock + 300, FactoryReply);
    Host.Receive(Host.Clock + 500, VersionReply);
    const std::uint32_t Clicked = Host.Clock;
    Link.Connect();
    EXPECT_EQ(Host.Commands(), (std::vector<std::string>{"B", "V"}));
    EXPECT_EQ(Host.Frames.at(0).At, Clicked + 100);
    EXPECT_TRUE(Host.Boxes.empty());
    EXPECT_EQ(Host.Panel, "Connected");
    EXPECT_EQ(Link.LastDrop(), LinkDrop::None);
}

// A receive event and the time-out tick dispatched in the same pass, the reply first: the reply
// has arrived in time, and the command goes out.
TEST_F(ReaderLinkTest, AReplyDispatchedWithTheTimeOutInOnePassWins) {
    ReadingWithAPollOutstanding();
    const std::uint32_t Start = Host.Clock;
    // Scheduled before the wait arms its timer, so it runs first in the pass at the deadline.
    Host.Receive(Start + NormalReplyTimeout, CardReply);

    EXPECT_TRUE(Link.SendString('F', ""));

    EXPECT_EQ(Host.Commands(), std::vector<std::string>{"F"});
    EXPECT_EQ(Host.Frames.at(0).At, Start + NormalReplyTimeout);
    EXPECT_TRUE(Host.Boxes.empty());
    EXPECT_TRUE(Host.Open);
    EXPECT_TRUE(WaitingReply);
}

struct TNestingCase {
    const char* Name;
    // Offsets from the moment the poll that the outer wait waits for went out: poll ticks that nest,
    // and replies.
    std::vector<std::uint32_t> Polls, Replies;
    // Scheduled from inside the wait, so that it follows the time-out tick due at the same time.
    std::vector<std::uint32_t> LatePolls;
    // When the box comes: the time-out after the latest command.
    std::uint32_t TimedOutAt;
    // When the outer wait begins: a poll tick comes some time after the poll before it went out.
    std::uint32_t WaitBegins = 0;
};

void PrintTo(const TNestingCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class ReaderLinkNestingTest : public ReaderLinkTest, public ::testing::WithParamInterface<TNestingCase> {};

// However polls nest inside it and whatever they send, a wait ends by its time-out once the
// reader has stayed silent for the time-out after the latest command, with one box; the waits
// around it return false without another.
TEST_P(ReaderLinkNestingTest, AWaitTimesOutAtTheTimeOutAfterTheLatestCommandWithOneBox) {
    const TNestingCase& Case = GetParam();
    ReadingWithAPollOutstanding();
    const std::uint32_t Start = Host.Clock;
    for (std::uint32_t Offset : Case.Polls)
        Host.At(Start + Offset, [this] { Link.SendString('F', ""); });
    for (std::uint32_t Offset : Case.Replies)
        Host.Receive(Start + Offset, CardReply);
    Host.At(Start + 1, [this, &Case, Start] {
        for (std::uint32_t Offset : Case.LatePolls)
            Host.At(Start + Offset, [this] { Link.SendString('F', ""); });
    });
    Host.Clock += Case.WaitBegins;

    EXPECT_FALSE(Link.SendString('F', ""));

    ExpectDroppedWith(SendingTimeout, ": Data sending timeout!");
    EXPECT_EQ(Host.Boxes.at(0).At, Start + Case.TimedOutAt);
    EXPECT_EQ(Link.LastDrop(), LinkDrop::TimedOut);
    EXPECT_FALSE(Host.TimerOn);
}

INSTANTIATE_TEST_SUITE_P(
    Nesting, ReaderLinkNestingTest,
    ::testing::Values(TNestingCase{"SilentReader", {}, {}, {}, NormalReplyTimeout},
                      // The next tick waits for what is left of the poll's time-out, not a whole one.
                      TNestingCase{"AWaitThatBeginsAtTheNextTick", {}, {}, {}, NormalReplyTimeout, 500},
                      TNestingCase{"TwoPollsNestInTheSilence", {500, 1000}, {}, {}, NormalReplyTimeout},
                      // The inner call gets its reply at 700 ms, sends, and returns: the outer wait now
                      // waits for the reply to that command, until the time-out after it.
                      TNestingCase{"AnInnerCallThatSends", {500}, {700}, {}, 700 + NormalReplyTimeout},
                      // A poll dispatched right after the time-out tick must not start the time-out afresh.
                      TNestingCase{
                          "APollAfterTheTimeOutTick", {}, {}, {NormalReplyTimeout}, NormalReplyTimeout}),
    [](const ::testing::TestParamInfo<TNestingCase>& Info) { return std::string(Info.param.Name); });

// Polls that stack behind a late reply: every reply comes within the time-out of its own command,
// so every one is read, with no box and no stop in polling longer than the time-out.
class ReaderLinkStackedPollsTest : public ReaderLinkTest {
protected:
    // Reading from a module that answers each poll after the delays given, then after 350 ms, and
    // the gaps between the polls. A link that drops comes back by itself, so that a false time-out
    // shows as a stop in polling.
    std::vector<std::uint32_t> PollGapsReadingFor(std::uint32_t Duration,
                                                  std::vector<std::uint32_t> PollDelays) {
        PollDelays.resize(2 * Duration / 500 + 10, 350);
        Host.ModuleAnswers = true;
        Host.Polling = true;
        Host.ReconnectSetting = true;
        Host.LatePolls = std::move(PollDelays);
        Link.ConnectAndStartReading();
        Host.RunUntil(Host.Clock + Duration);
        for (const TTimed& Frame : Host.Frames)
            if (Frame.Text.at(4) == 'F')
                Polls.push_back(Frame.At);
        std::vector<std::uint32_t> Gaps;
        for (std::size_t I = 1; I < Polls.size(); ++I)
            Gaps.push_back(Polls[I] - Polls[I - 1]);
        return Gaps;
    }

    std::vector<std::uint32_t> Polls;
};

TEST_F(ReaderLinkStackedPollsTest, OneReplyLateByOneAndAHalfSecondsAmongReplies350MsLate) {
    const std::vector<std::uint32_t> Gaps = PollGapsReadingFor(15000, {350, 350, 350, 1500});

    ASSERT_FALSE(Gaps.empty());
    EXPECT_EQ(Host.Boxes.size(), 0u) << "the first after "
                                     << (Host.Boxes.empty() ? 0 : Host.Boxes[0].At - Polls[0])
                                     << " ms of reading";
    const std::uint32_t Longest = *std::max_element(Gaps.begin(), Gaps.end());
    EXPECT_LE(Longest, NormalReplyTimeout);
    EXPECT_LE(Host.Clock - Polls.back(), NormalReplyTimeout) << "polling stopped";
    // The late reply held the polls up for its 1.5 s, and every poll tick that came meanwhile still
    // sent its poll, once the replies before it had come: one poll a tick in all.
    EXPECT_GE(Longest, 1500u);
    EXPECT_EQ(Polls.size(), (Host.Clock - Polls.front()) / 500 + 1);
    EXPECT_EQ(Host.Panel, "Connected");
    EXPECT_TRUE(Host.IsReading);
    // Every poll's reply was read, but for the last one's, which may still be on its way.
    EXPECT_GE(std::count_if(Host.StatusLines.begin(), Host.StatusLines.end(),
                            [](const TTimed& Line) { return Line.Text == ": Read Card ID OK"; }) +
                  1,
              static_cast<long>(Polls.size()));
}

// The adapter is pulled while a reply is outstanding: the driver's next receive tick skips, and
// the wait names the fault at once instead of timing out 2 s later.
TEST_F(ReaderLinkTest, APortGoneWhileWaitingIsNamedWithinOneReceiveTick) {
    ReadingWithAPollOutstanding();
    const std::uint32_t Start = Host.Clock;
    Host.At(Start + 300, [this] { Host.Answers = false; });
    Host.EmptyTick(Start + 400);
    Host.EmptyTick(Start + 600);

    EXPECT_FALSE(Link.SendString('F', ""));

    ExpectDroppedWith(DeviceUnplugged, ": Data sending timeout!");
    EXPECT_LE(Host.Boxes.at(0).At, Start + 400);
    EXPECT_EQ(Link.LastDrop(), LinkDrop::PortGone);
    EXPECT_TRUE(Host.Frames.empty());
}

// A frame "sent" to a closed port counts as sent; the closed port itself is no fault to report.
TEST_F(ReaderLinkTest, AClosedPortIsNotTakenForAPulledOne) {
    Host.Answers = false;
    WaitingReply = true;
    const std::uint32_t Start = Host.Clock;
    Host.Receive(Start + 200, CardReply);
    EXPECT_TRUE(Link.SendString('F', ""));
    EXPECT_TRUE(Host.Boxes.empty());
    EXPECT_TRUE(WaitingReply);
}

// The first piece of a split reply answers the command: a waiting poll goes out before the
// rest of the reply arrives, and the reply is still handled once, at its last piece.
TEST_F(ReaderLinkTest, TheFirstPieceOfASplitReplyEndsTheWait) {
    ReadingWithAPollOutstanding();
    const std::uint32_t Start = Host.Clock;
    Host.Receive(Start + 200, CardReply.substr(0, 3));
    Host.Receive(Start + 400, CardReply.substr(3, 6));
    Host.Receive(Start + 600, CardReply.substr(9));

    EXPECT_TRUE(Link.SendString('F', ""));
    EXPECT_EQ(Host.Frames.at(0).At, Start + 200);
    EXPECT_EQ(ReplyBuffer, CardReply.substr(0, 3));
    EXPECT_EQ(Host.Typed, "");

    Host.Clock = Start + 600;
    Host.ProcessMessages();
    EXPECT_EQ(Host.Typed, "0004211311");
    EXPECT_FALSE(WaitingReply);
}

// In the settings dialog's probe a wait that times out ends quietly and the command goes out.
TEST_F(ReaderLinkTest, ATimedOutWaitWhileProbingSendsWithoutAWord) {
    Host.Open = true;
    Host.Timeout = ProbeReplyTimeout;
    ScanMode = true;
    WaitingReply = true;
    const std::uint32_t Start = Host.Clock;

    EXPECT_TRUE(Link.SendString('B', ""));

    EXPECT_EQ(Host.Frames.at(0).At, Start + ProbeReplyTimeout);
    EXPECT_TRUE(Host.Boxes.empty());
    EXPECT_TRUE(Host.StatusLines.empty());
    EXPECT_TRUE(Host.Open);
}

// After Exit a wait gives up without a box and sends nothing.
TEST_F(ReaderLinkTest, AWaitEndsSilentlyOnceTheProgramIsEnding) {
    ReadingWithAPollOutstanding();
    Host.At(Host.Clock + 300, [this] { Host.Ending = true; });
    EXPECT_FALSE(Link.SendString('F', ""));
    EXPECT_TRUE(Host.Frames.empty());
    EXPECT_TRUE(Host.Boxes.empty());
    EXPECT_FALSE(Host.TimerOn);
}

// Sending raises (the driver found the port gone): one drop, named as unplugged.
TEST_F(ReaderLinkTest, AnErrorWhileSendingDropsTheLinkOnce) {
    ReadingWithAPollOutstanding();
    WaitingReply = false;
    Host.SendRaises = true;
    EXPECT_FALSE(Link.SendString('F', ""));
    ExpectDroppedWith(DeviceUnplugged, ": Data sending timeout!");
    EXPECT_EQ(Link.LastDrop(), LinkDrop::SendError);
}

// The connection steps: settings missing, a port that does not open, and a module that never
// answers the identification.
TEST_F(ReaderLinkTest, ConnectStopsAtMissingSettingsOrAPortThatDoesNotOpen) {
    Host.SettingsPresent = false;
    Link.Connect();
    EXPECT_FALSE(Host.ControlsConnected);
    EXPECT_TRUE(Host.StatusLines.empty());

    Host.SettingsPresent = true;
    Host.PortOpens = false;
    Link.Connect();
    ASSERT_EQ(Host.StatusLines.size(), 1u);
    EXPECT_EQ(Host.StatusLines[0].Text, ": Error connecting");
    EXPECT_FALSE(Host.ControlsConnected);
    EXPECT_EQ(Host.Panel, "Disconnected");
    EXPECT_TRUE(Host.Frames.empty());
    EXPECT_TRUE(Host.Boxes.empty());
}

TEST_F(ReaderLinkTest, ASilentModuleAtStartUpTimesOutOnceAfterTheFactoryCode) {
    const std::uint32_t Start = Host.Clock;
    Link.Connect();
    EXPECT_EQ(Host.Commands(), std::vector<std::string>{"B"});
    ExpectDroppedWith(SendingTimeout, ": Data sending timeout!");
    // The settle pause and the reply time-out, as numbers: 100 ms and 2 s.
    EXPECT_EQ(Host.Boxes.at(0).At, Start + 100 + 2000);
    EXPECT_FALSE(Host.ControlsConnected);
}

// An error while handling received bytes (here typing the card): the reply is dropped, the link
// goes down, and the box names the device.
TEST_F(ReaderLinkTest, AnErrorWhileHandlingAReplyDropsTheLink) {
    ReadingWithAPollOutstanding();
    Host.TypingRaises = true;
    Link.ReceiveData(CardReply.data(), CardReply.size());
    ExpectDroppedWith(DeviceUnplugged, ": Data receiving timeout!");
    EXPECT_EQ(ReplyBuffer, "");
    EXPECT_EQ(Link.LastDrop(), LinkDrop::ReceiveError);
}

// Replies fill the data and the fields; a card is typed with the suffix read for it; a reply code
// the program does not know carries only the module ID.
TEST_F(ReaderLinkTest, RepliesFillTheirFieldsAndAnUnknownCodeOnlyTheModuleID) {
    auto Receive = [this](const std::string& Bytes) { Link.ReceiveData(Bytes.data(), Bytes.size()); };
    Receive(FactoryReply);
    Receive(VersionReply);
    Host.Suffix = true;
    Receive(CardReply);
    Host.Suffix = false;
    Receive(CardReply);
    EXPECT_EQ(FactoryCode, "30571846");
    EXPECT_EQ(ModuleVersion, "2.31");
    EXPECT_EQ(CardID, "0004211311");
    EXPECT_EQ(Host.Typed, "0004211311\r0004211311");
    EXPECT_EQ(Host.Fields[LinkField::CardID], "0004211311");
    EXPECT_EQ(Host.StatusLines.back().Text, ": Read Card ID OK");

    const std::size_t Lines = Host.StatusLines.size();
    WaitingReply = true;
    Receive(BuildReplyFrame('0', "42", 'A', "XYZ"));
    EXPECT_EQ(ModuleID, "42");
    EXPECT_EQ(Host.Fields[LinkField::ModuleID], "42");
    EXPECT_EQ(FactoryCode + "/" + ModuleVersion + "/" + CardID, "30571846/2.31/0004211311");
    EXPECT_EQ(Host.StatusLines.size(), Lines);
    EXPECT_EQ(ReplyBuffer, "");
    EXPECT_FALSE(WaitingReply);
}

// A card that is not typed says why on the status line instead of OK, still shows in its field, and
// reading goes on; an empty poll reply says OK without asking the typing at all.
struct TTypingCase {
    const char* Name;
    TypingOutcome Typing;
    const char* StatusLine;
};

void PrintTo(const TTypingCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class ReaderLinkTypingTest : public ReaderLinkTest, public ::testing::WithParamInterface<TTypingCase> {};

TEST_P(ReaderLinkTypingTest, EveryCardSaysWhetherItWasTypedAndReadingGoesOn) {
    Host.Typing = GetParam().Typing;
    Host.Suffix = true;
    Host.ModuleAnswers = true;
    Host.Polling = true;
    Link.ConnectAndStartReading();
    Host.RunUntil(Host.Clock + 1600);

    const std::vector<std::string> Letters = Host.Commands();
    ASSERT_EQ(std::count(Letters.begin(), Letters.end(), "F"), 3);
    ASSERT_EQ(Host.StatusLines.size(), 5u);
    for (std::size_t Line = 2; Line < 5; ++Line)
        EXPECT_EQ(Host.StatusLines.at(Line).Text, GetParam().StatusLine);
    EXPECT_EQ(Host.TypingCalls, 3);
    EXPECT_EQ(Host.Typed,
              GetParam().Typing == TypingOutcome::Typed ? "0004211311\r0004211311\r0004211311\r" : "");
    EXPECT_EQ(Host.Fields[LinkField::CardID], "0004211311");
    EXPECT_TRUE(Host.IsReading);
    EXPECT_TRUE(Host.Boxes.empty());

    const std::string NoCard = BuildReplyFrame('0', "07", 'F', "");
    Link.ReceiveData(NoCard.data(), NoCard.size());
    EXPECT_EQ(Host.StatusLines.back().Text, ": Read Card ID OK");
    EXPECT_EQ(Host.TypingCalls, 3);
    EXPECT_EQ(Host.Fields[LinkField::CardID], "0004211311");
}

INSTANTIATE_TEST_SUITE_P(
    Typing, ReaderLinkTypingTest,
    ::testing::Values(TTypingCase{"Typed", TypingOutcome::Typed, ": Read Card ID OK"},
                      TTypingCase{"ControlCharacters", TypingOutcome::ControlCharacters,
                                  ": Card ID not typed: it holds control characters"},
                      TTypingCase{"OwnWindowInFront", TypingOutcome::OwnWindowInFront,
                                  ": Card ID not typed: Cardwick's window is in front"},
                      TTypingCase{"NoWindowInFront", TypingOutcome::NoWindowInFront,
                                  ": Card ID not typed: no window in front"},
                      TTypingCase{"HigherRights", TypingOutcome::HigherRights,
                                  ": Card ID not typed: the window in front runs with higher rights"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// The settings dialog's probe: line settings, the factory code command after the settle pause,
// the dialog's listening, and the port closed whatever the outcome.
TEST_F(ReaderLinkTest, AProbeSendsTheFactoryCodeCommandAndClosesThePortAfter) {
    ScanMode = true;
    Host.Timeout = ProbeReplyTimeout;
    const std::uint32_t Start = Host.Clock;
    auto Listen = [this] {
        Host.Clock += 200;
        Host.ProcessMessages();
    };
    Host.Receive(Start + 150, FactoryReply);

    EXPECT_TRUE(Link.Probe("COM5", 19200, true, Listen));
    EXPECT_EQ(Host.LineSettings, "\\\\.\\COM5 19200 even");
    EXPECT_EQ(Host.Commands(), std::vector<std::string>{"B"});
    // The settle pause, as a number: 100 ms.
    EXPECT_EQ(Host.Frames.at(0).At, Start + 100);
    EXPECT_FALSE(Host.Open);
    EXPECT_FALSE(WaitingReply);

    // Silence: only the module ID was cleared, and it stays empty.
    EXPECT_FALSE(Link.Probe("COM6", 4800, false, Listen));
    EXPECT_EQ(Host.LineSettings, "\\\\.\\COM6 4800 none");
    EXPECT_EQ(ModuleID, "");
    EXPECT_EQ(FactoryCode, "30571846");
    EXPECT_FALSE(Host.Open);
    EXPECT_FALSE(WaitingReply);

    // An error while listening still closes the port.
    EXPECT_THROW(Link.Probe("COM7", 9600, true, [] { throw std::runtime_error("listening failed"); }),
                 std::runtime_error);
    EXPECT_FALSE(Host.Open);
    EXPECT_FALSE(WaitingReply);

    Host.PortOpens = false;
    EXPECT_FALSE(Link.Probe("COM8", 9600, true, Listen));
    EXPECT_EQ(Host.Frames.size(), 3u);
    EXPECT_TRUE(Host.Boxes.empty());
}

// Reconnecting by itself, when the settings ask for it: the state after the adapter was pulled
// while reading (one "Device unplugged!" box, as ever).
class ReaderLinkReconnectTest : public ReaderLinkTest {
protected:
    void PulledWhileReading(bool Setting) {
        Host.ReconnectSetting = Setting;
        ReadingWithAPollOutstanding();
        Host.Answers = false;
        EXPECT_FALSE(Link.SendString('F', ""));
        ASSERT_EQ(Host.Boxes.size(), 1u);
        Dropped = Host.Boxes.at(0).At;
        Host.Answers = true;
    }

    std::vector<std::string> SinceTheDrop(const std::vector<TTimed>& Writes) const {
        std::vector<std::string> Texts;
        for (const TTimed& Write : Writes)
            if (Write.At >= Dropped)
                Texts.push_back(Write.Text);
        return Texts;
    }
    std::vector<std::string> StatusSinceTheDrop() const { return SinceTheDrop(Host.StatusLines); }

    std::uint32_t Dropped = 0;
};

TEST_F(ReaderLinkReconnectTest, TriesQuietlyEveryIntervalAndResumesReadingOnceBAndVAreAnswered) {
    PulledWhileReading(true);
    EXPECT_TRUE(Host.ReconnectTimerOn);
    // Unplugged for two ticks: nothing opens, nothing is said beyond one line when trying starts.
    Host.PortOpens = false;
    Host.RunUntil(Dropped + 2 * ReconnectInterval + 100);
    EXPECT_TRUE(Host.Frames.empty());
    EXPECT_EQ(Host.Boxes.size(), 1u);
    EXPECT_EQ(StatusSinceTheDrop(),
              (std::vector<std::string>{": Data sending timeout!", ": Reconnecting..."}));
    EXPECT_EQ(Host.Panel, "Disconnected");

    // Plugged back in: the third tick opens the port, asks "B" then "V", and reading goes on.
    Host.PortOpens = true;
    Host.ModuleAnswers = true;
    Host.RunUntil(Dropped + 3 * ReconnectInterval + 500);
    EXPECT_EQ(Host.Commands(), (std::vector<std::string>{"B", "V"}));
    EXPECT_EQ(Host.Frames.at(0).At, Dropped + 3 * ReconnectInterval + PortSettlePause);
    EXPECT_EQ(Host.Panel, "Connected");
    EXPECT_TRUE(Host.ControlsConnected);
    EXPECT_TRUE(Host.IsReading);
    EXPECT_FALSE(Host.ReconnectTimerOn);
    EXPECT_FALSE(Link.Reconnecting());
    EXPECT_EQ(Link.LastDrop(), LinkDrop::None);
    EXPECT_EQ(Host.Boxes.size(), 1u);
    EXPECT_EQ(ModuleVersion, "2.31");
    // Somebody dismissed the box long before: the foreground is theirs to choose.
    EXPECT_EQ(Host.Screen,
              (std::vector<std::string>{"not reading", "foreground kept", "box gone", "reading"}));
}

// Nobody at the desk: the box of the drop stays open, and the reader comes back meanwhile. The wait
// that timed out is still on the stack under the box; it belongs to the old link and does not hold
// the tries back, and it sends nothing when it unwinds. The box closes by itself, the foreground
// goes back, and only then does reading resume.
TEST_F(ReaderLinkReconnectTest, TheReaderComesBackWhileTheBoxOfTheDropIsStillOpen) {
    Host.BoxOpenFor = 2 * ReconnectInterval + 1000;
    Host.At(Host.Clock + 300, [this] {
        Host.Answers = true;
        Host.ModuleAnswers = true;
    });
    PulledWhileReading(true);
    EXPECT_EQ(Host.Commands(), (std::vector<std::string>{"B", "V"}));
    EXPECT_EQ(Host.Frames.at(0).At, Dropped + ReconnectInterval + PortSettlePause);
    EXPECT_EQ(Host.Panel, "Connected");
    EXPECT_TRUE(Host.IsReading);
    EXPECT_EQ(Host.Boxes.size(), 1u);
    EXPECT_LT(Host.Clock, Dropped + ReconnectInterval + 1000);
    EXPECT_EQ(Host.Screen, (std::vector<std::string>{"not reading", "foreground kept", "box gone",
                                                     "foreground back", "reading"}));
}

TEST_F(ReaderLinkReconnectTest, WithoutTheSettingNothingTriesAgain) {
    PulledWhileReading(false);
    EXPECT_FALSE(Host.ReconnectTimerOn);
    Host.ModuleAnswers = true;
    Host.EmptyTick(Dropped + 4 * ReconnectInterval);
    Host.RunUntil(Dropped + 4 * ReconnectInterval);
    EXPECT_FALSE(Host.Open);
    EXPECT_TRUE(Host.Frames.empty());
    EXPECT_EQ(StatusSinceTheDrop(), std::vector<std::string>{": Data sending timeout!"});
    EXPECT_EQ(Host.Screen, (std::vector<std::string>{"not reading", "box gone"}));
}

// A module that does not answer, a send that raises, a tick that comes during a probe: each try
// fails without a box or a status line, the port is closed again, and the next tick tries anew.
TEST_F(ReaderLinkReconnectTest, FailedTriesCloseThePortQuietlyAndNeverOverlapAProbe) {
    PulledWhileReading(true);
    // First tick: the port opens, "B" goes out, nobody answers; the second tick abandons that try.
    Host.RunUntil(Dropped + ReconnectInterval + 200);
    EXPECT_EQ(Host.Commands(), std::vector<std::string>{"B"});
    EXPECT_TRUE(Host.Open);
    EXPECT_EQ(Host.Panel, "Disconnected");
    EXPECT_FALSE(Host.ControlsConnected);
    // Second tick: the port is gone for writing.
    Host.SendRaises = true;
    Host.RunUntil(Dropped + 2 * ReconnectInterval + 200);
    EXPECT_FALSE(Host.Open);
    EXPECT_FALSE(WaitingReply);
    // Third tick inside a probe of the settings dialog: nothing happens.
    Host.SendRaises = false;
    ScanMode = true;
    Host.RunUntil(Dropped + 3 * ReconnectInterval + 200);
    EXPECT_EQ(Host.Commands(), std::vector<std::string>{"B"});
    EXPECT_FALSE(Host.Open);
    ScanMode = false;
    EXPECT_EQ(Host.Boxes.size(), 1u);
    EXPECT_EQ(StatusSinceTheDrop(),
              (std::vector<std::string>{": Data sending timeout!", ": Reconnecting..."}));
    EXPECT_TRUE(Link.Reconnecting());
}

// The user's Disconnect, the settings dialog (which stops the tries before it opens), the user's own
// Connect and Exit end the tries, a try in progress included: its port is closed.
TEST_F(ReaderLinkReconnectTest, DisconnectConnectTheDialogAndExitEndTheTries) {
    // Exit last: the program is ending after it.
    for (const char* Ender : {"Disconnect", "StopReconnecting", "Connect", "Exit"}) {
        SCOPED_TRACE(Ender);
        Host.Frames.clear();
        Host.Boxes.clear();
        Host.ModuleAnswers = false;
        PulledWhileReading(true);
        Host.RunUntil(Dropped + ReconnectInterval + 200);
        ASSERT_TRUE(Host.Open) << "a try is in progress";
        const std::string Which = Ender;
        if (Which == "Disconnect")
            Link.Disconnect();
        else if (Which == "StopReconnecting")
            Link.StopReconnecting();
        else if (Which == "Exit")
            Host.Ending = true, Link.Exit();
        else
            Host.SettingsPresent = false, Link.Connect(), Host.SettingsPresent = true;
        EXPECT_FALSE(Host.Open);
        EXPECT_FALSE(Host.ReconnectTimerOn);
        EXPECT_FALSE(Link.Reconnecting());
        const std::size_t Sent = Host.Frames.size();
        Host.RunUntil(Host.Clock + 3 * ReconnectInterval);
        EXPECT_EQ(Host.Frames.size(), Sent);
    }
}

// The wait whose time-out dropped the link is still on the stack under its box. Once the reader is
// back and polls nest inside that box, the dead wait's expired deadline and its spent timer must not
// count: a reply 300 ms late is read, and the box of the drop stays the only one.
TEST_F(ReaderLinkReconnectTest, AWaitAfterAReconnectUnderTheOpenBoxGetsItsWholeTimeOut) {
    Host.ReconnectSetting = true;
    Host.Polling = true;
    Host.BoxOpenFor = 3 * ReconnectInterval;
    Host.BoxClosesByItself = false;
    ReadingWithAPollOutstanding();
    const std::uint32_t Start = Host.Clock;
    Host.At(Start + NormalReplyTimeout + 10, [this] {
        Host.ModuleAnswers = true;
        // The first poll's reply comes after the next tick, which then waits 300 ms for it.
        Host.LatePolls = {800};
    });
    bool TimerRanInALiveWait = false;
    // The reader is back 140 ms after the first tick; the second poll waits from 1140 to 1440 ms on.
    Host.At(Start + NormalReplyTimeout + ReconnectInterval + 1200,
            [this, &TimerRanInALiveWait] { TimerRanInALiveWait = WaitingReply && Host.TimerOn; });

    EXPECT_FALSE(Link.SendString('F', ""));

    EXPECT_EQ(Host.Boxes.size(), 1u);
    EXPECT_EQ(Host.Panel, "Connected");
    EXPECT_TRUE(Host.IsReading);
    EXPECT_NE(Host.Typed, "");
    EXPECT_TRUE(TimerRanInALiveWait);
    EXPECT_EQ(std::count_if(Host.StatusLines.begin(), Host.StatusLines.end(),
                            [](const TTimed& Line) { return Line.Text == ": Data sending timeout!"; }),
              1);
}

// A silent reader at start-up: its time-out box is open while the tries begin, and the user
// dismisses it in the middle of one. The link is not up then, so reading does not start; it
// follows the reconnect instead.
TEST_F(ReaderLinkReconnectTest, AStartUpTimeOutDismissedDuringATryLeavesReadingToTheReconnect) {
    Host.ReconnectSetting = true;
    Host.Polling = true;
    Host.BoxOpenFor = ReconnectInterval + 300;

    Link.ConnectAndStartReading();

    ASSERT_TRUE(Host.Open) << "a try is in progress";
    EXPECT_FALSE(Host.IsReading);
    EXPECT_EQ(Host.Panel, "Disconnected");
    Host.ModuleAnswers = true;
    Host.RunUntil(Host.Clock + ReconnectInterval + 1000);
    EXPECT_EQ(Host.Panel, "Connected");
    EXPECT_TRUE(Host.IsReading);
    EXPECT_EQ(Host.Boxes.size(), 1u);
}

// Test and Auto-Detect probe on the link: a probe whose send fails is no drop of a link that was
// up, so nothing tries to connect inside the idle dialog.
TEST_F(ReaderLinkReconnectTest, AFailedProbeStartsNoTries) {
    Host.ReconnectSetting = true;
    ScanMode = true;
    Host.Timeout = ProbeReplyTimeout;
    Host.SendRaises = true;
    auto Listen = [this] { Host.RunUntil(Host.Clock + 200); };

    EXPECT_FALSE(Link.Probe("COM5", 9600, false, Listen));

    EXPECT_FALSE(Link.Reconnecting());
    EXPECT_FALSE(Host.ReconnectTimerOn);
    ScanMode = false;
    Host.SendRaises = false;
    Host.ModuleAnswers = true;
    Host.RunUntil(Host.Clock + 3 * ReconnectInterval);
    EXPECT_FALSE(Host.Open);
    EXPECT_EQ(Host.Panel, "Disconnected");
    EXPECT_FALSE(Host.ControlsConnected);
    EXPECT_EQ(Host.OpenedPorts.size(), 1u);
}

// A try that gets the factory code but no version, or replies that fail their block check, says
// nothing and fills no field; the try that succeeds shows the module as a Connect does.
TEST_F(ReaderLinkReconnectTest, AFailedTryWritesNoStatusLineAndNoField) {
    for (const bool BadBCC : {false, true}) {
        SCOPED_TRACE(BadBCC ? "wrong block check" : "no answer to V");
        Host.Boxes.clear();
        Host.ModuleAnswers = false;
        PulledWhileReading(true);
        Host.ModuleAnswers = true;
        Host.Unanswered = BadBCC ? "" : "V";
        Host.BadBCC = BadBCC;
        Host.RunUntil(Dropped + 2 * ReconnectInterval + 500);
        EXPECT_GE(Host.OpenedPorts.size(), 2u);
        EXPECT_EQ(StatusSinceTheDrop(),
                  (std::vector<std::string>{": Data sending timeout!", ": Reconnecting..."}));
        EXPECT_EQ(SinceTheDrop(Host.FieldWrites), std::vector<std::string>{});
        EXPECT_EQ(Host.Panel, "Disconnected");

        Host.Unanswered.clear();
        Host.BadBCC = false;
        Host.RunUntil(Dropped + 3 * ReconnectInterval + 500);
        EXPECT_EQ(Host.Panel, "Connected");
        EXPECT_EQ(Host.Fields[LinkField::FactoryCode], "30571846");
        EXPECT_EQ(Host.Fields[LinkField::Version], "2.31");
        EXPECT_EQ(Host.Fields[LinkField::ModuleID], "07");
        Link.Disconnect();
    }
}

// The file is read at every connection attempt, each try included: a port changed by hand takes
// effect at the next try, and a port setting removed makes the try fail without a warning box.
TEST_F(ReaderLinkReconnectTest, EachTryReadsThePortSettingsFromTheFile) {
    PulledWhileReading(true);
    Host.FilePort = "COM9";
    Host.RunUntil(Dropped + ReconnectInterval + 200);
    EXPECT_EQ(Host.OpenedPorts, std::vector<std::string>{"COM9"});

    Host.SettingsPresent = false;
    Host.RunUntil(Dropped + 2 * ReconnectInterval + 200);
    EXPECT_EQ(Host.OpenedPorts, std::vector<std::string>{"COM9"});
    EXPECT_FALSE(Host.Open);
    EXPECT_EQ(Host.Boxes.size(), 1u);
    EXPECT_EQ(Host.Warnings, 0);
    EXPECT_TRUE(Link.Reconnecting());
}

} // namespace
