// Keystroke output: the decisions and the key events the typing makes (through the keyboard seam,
// with the foreground, the integrity level and the layout answered by the test), and the real key
// events and text a focused window in another process receives.

#include "app/KeyboardInput.h"
#include "app/Unit1.h"
#include "tests/win/sink/KeySinkClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// ---- Through the seam ------------------------------------------------------------------------

// What a key types with Caps Lock on and no other modifier, and which keys are dead, as a layout
// table would say.
struct TFakeLayout {
    std::map<UINT, wchar_t> Typed;
    std::set<UINT> Dead;
};

// A US-like layout: digits, letters, the space bar and the punctuation keys give their characters;
// the keypad without Num Lock and the function, navigation and Windows keys give none.
TFakeLayout UsLikeLayout() {
    TFakeLayout Layout;
    for (UINT Key = '0'; Key <= '9'; ++Key)
        Layout.Typed[Key] = static_cast<wchar_t>(Key);
    for (UINT Key = 'A'; Key <= 'Z'; ++Key)
        Layout.Typed[Key] = static_cast<wchar_t>(Key);
    Layout.Typed[VK_SPACE] = L' ';
    const std::wstring Punctuation = L";=,-./`[\\]'";
    const UINT PunctuationKeys[] = {0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xC0, 0xDB, 0xDC, 0xDD, 0xDE};
    for (std::size_t i = 0; i < Punctuation.size(); ++i)
        Layout.Typed[PunctuationKeys[i]] = Punctuation[i];
    Layout.Typed[VK_MULTIPLY] = L'*';
    Layout.Typed[VK_ADD] = L'+';
    Layout.Typed[VK_SUBTRACT] = L'-';
    Layout.Typed[VK_DECIMAL] = L'.';
    Layout.Typed[VK_DIVIDE] = L'/';
    return Layout;
}

// A Russian-like layout: the letter and punctuation keys give Cyrillic letters, the digits stay.
TFakeLayout RussianLikeLayout() {
    TFakeLayout Layout = UsLikeLayout();
    const std::wstring Letters = L"ФИСВУАПРШОЛДЬТЩЗЙКЫЕГМЦЧНЯ";
    for (UINT Key = 'A'; Key <= 'Z'; ++Key)
        Layout.Typed[Key] = Letters[Key - 'A'];
    Layout.Typed[0xBA] = L'Ж';
    Layout.Typed[0xBC] = L'Б';
    Layout.Typed[0xBE] = L'Ю';
    Layout.Typed[0xC0] = L'Ё';
    Layout.Typed[0xDB] = L'Х';
    Layout.Typed[0xDD] = L'Ъ';
    Layout.Typed[0xDE] = L'Э';
    return Layout;
}

// A German-like layout: its accent keys are dead, and asking ToUnicodeEx about one would plant it.
TFakeLayout GermanLikeLayout() {
    TFakeLayout Layout = UsLikeLayout();
    Layout.Typed[0xBA] = L'Ü';
    Layout.Typed[0xC0] = L'Ö';
    Layout.Typed[0xDE] = L'Ä';
    Layout.Dead = {0xDC, 0xDD};
    return Layout;
}

const HWND OtherWindow = reinterpret_cast<HWND>(0x1234);
const DWORD OtherThread = 77;
const HKL FakeLayoutHandle = reinterpret_cast<HKL>(0x4190419);

struct TAnswers {
    HWND Foreground = OtherWindow;
    DWORD ForegroundProcess = 0; // 0: another process than this one
    bool HigherRights = false;
    TFakeLayout Layout = UsLikeLayout();
    std::vector<SHORT> CapsStates; // one per GetKeyState call, in order; then off
};

struct TRecorded {
    int KeyStateReads = 0;
    std::vector<TKeyStroke> Events;
    std::vector<UINT> DeadKeysAsked; // of ToUnicodeEx: each one would have been planted
    std::vector<std::string> Faults;
};

TAnswers Answers;
TRecorded Recorded;

HWND WINAPI FakeGetForegroundWindow() {
    return Answers.Foreground;
}

DWORD WINAPI FakeGetWindowThreadProcessId(HWND Window, LPDWORD ProcessId) {
    if (Window != Answers.Foreground)
        Recorded.Faults.push_back("asked about another window than the foreground");
    if (ProcessId)
        *ProcessId = Answers.ForegroundProcess ? Answers.ForegroundProcess : GetCurrentProcessId() + 4;
    return OtherThread;
}

bool FakeRunsWithHigherRights(DWORD) {
    return Answers.HigherRights;
}

HKL WINAPI FakeGetKeyboardLayout(DWORD Thread) {
    if (Thread != OtherThread)
        Recorded.Faults.push_back("the layout of another thread than the window's");
    return FakeLayoutHandle;
}

UINT WINAPI FakeMapVirtualKeyEx(UINT Code, UINT MapType, HKL Layout) {
    if (Layout != FakeLayoutHandle)
        Recorded.Faults.push_back("MapVirtualKeyEx on another layout");
    if (MapType == MAPVK_VK_TO_VSC)
        return Code & 0x7F;
    if (MapType != MAPVK_VK_TO_CHAR)
        Recorded.Faults.push_back("MapVirtualKeyEx map type " + std::to_string(MapType));
    if (Answers.Layout.Dead.count(Code))
        return 0x80000000u | '^';
    const auto Found = Answers.Layout.Typed.find(Code);
    return Found == Answers.Layout.Typed.end() ? 0 : Found->second;
}

int WINAPI FakeToUnicodeEx(UINT VirtualKey, UINT, const BYTE* KeyState, LPWSTR Buffer, int BufferSize,
                           UINT Flags, HKL Layout) {
    if (Layout != FakeLayoutHandle)
        Recorded.Faults.push_back("ToUnicodeEx on another layout");
    if ((Flags & 4) == 0)
        Recorded.Faults.push_back("ToUnicodeEx may change the keyboard state");
    for (int Key = 0; Key < 256; ++Key)
        if (KeyState[Key] != (Key == VK_CAPITAL ? 1 : 0))
            Recorded.Faults.push_back("a key state besides Caps Lock: " + std::to_string(Key));
    if (Answers.Layout.Dead.count(VirtualKey)) {
        Recorded.DeadKeysAsked.push_back(VirtualKey);
        return -1;
    }
    const auto Found = Answers.Layout.Typed.find(VirtualKey);
    if (Found == Answers.Layout.Typed.end() || BufferSize < 1)
        return 0;
    Buffer[0] = Found->second;
    return 1;
}

SHORT WINAPI FakeGetKeyState(int VirtualKey) {
    EXPECT_EQ(VirtualKey, VK_CAPITAL);
    const std::size_t Read = Recorded.KeyStateReads++;
    return Read < Answers.CapsStates.size() ? Answers.CapsStates[Read] : 0;
}

VOID WINAPI FakeKeybdEvent(BYTE VirtualKey, BYTE ScanCode, DWORD Flags, ULONG_PTR ExtraInfo) {
    EXPECT_EQ(ExtraInfo, 0u);
    EXPECT_TRUE(Flags == 0 || Flags == KEYEVENTF_KEYUP) << "flags " << Flags;
    Recorded.Events.push_back(TKeyStroke{VirtualKey, ScanCode, (Flags & KEYEVENTF_KEYUP) != 0});
}

// A Unicode packet is recorded as the low-level hook sees it: the packet key with the character as
// its scan code.
UINT WINAPI FakeSendInput(UINT Count, LPINPUT Inputs, int Size) {
    EXPECT_EQ(Size, static_cast<int>(sizeof(INPUT)));
    for (UINT i = 0; i < Count; ++i) {
        const KEYBDINPUT& Key = Inputs[i].ki;
        EXPECT_EQ(Inputs[i].type, static_cast<DWORD>(INPUT_KEYBOARD));
        EXPECT_EQ(Key.wVk, 0);
        EXPECT_TRUE((Key.dwFlags & ~KEYEVENTF_KEYUP) == KEYEVENTF_UNICODE) << "flags " << Key.dwFlags;
        Recorded.Events.push_back(TKeyStroke{VK_PACKET, Key.wScan, (Key.dwFlags & KEYEVENTF_KEYUP) != 0});
    }
    return Count;
}

class KeystrokeSeam : public ::testing::Test {
protected:
    void SetUp() override {
        Saved = KeyboardInput;
        KeyboardInput = TKeyboardInput{FakeGetForegroundWindow,
                                       FakeGetWindowThreadProcessId,
                                       FakeRunsWithHigherRights,
                                       FakeGetKeyboardLayout,
                                       FakeMapVirtualKeyEx,
                                       FakeToUnicodeEx,
                                       FakeGetKeyState,
                                       FakeKeybdEvent,
                                       FakeSendInput};
        Answers = TAnswers{};
        Recorded = TRecorded{};
    }
    void TearDown() override {
        KeyboardInput = Saved;
        EXPECT_TRUE(Recorded.Faults.empty()) << Recorded.Faults.front();
        EXPECT_TRUE(Recorded.DeadKeysAsked.empty())
            << "a dead key asked of ToUnicodeEx: " << Recorded.DeadKeysAsked.front();
    }
    TKeyboardInput Saved;
};

// The key events are written out: with Caps Lock off a character is framed by two Caps Lock
// strokes, the first with scan code 1 and the second with 0; with Caps Lock on it is its own press
// and release. A character the layout does not give from its own key is a packet.
constexpr unsigned Caps = VK_CAPITAL;

TKeyStroke Packet(wchar_t Character, bool Up) {
    return {VK_PACKET, static_cast<unsigned>(Character), Up};
}

TEST_F(KeystrokeSeam, EmptyTextSendsNothingAndDoesNotReadCapsLock) {
    EXPECT_EQ(TfrmCardReader::SendToActiveWindow("", true), TypingOutcome::Typed);
    EXPECT_EQ(Recorded.KeyStateReads, 0);
    EXPECT_TRUE(Recorded.Events.empty());
}

// The toggle bit alone decides; the "pressed" high bit means nothing here. The state is read before
// every character, so a Caps Lock change during the text changes the framing from there on.
TEST_F(KeystrokeSeam, CapsLockIsReadBeforeEveryCharacterFromItsToggleBit) {
    Answers.CapsStates = {0, 1, static_cast<SHORT>(0x8000), static_cast<SHORT>(0x8001)};
    TfrmCardReader::SendToActiveWindow("12AB", false);

    const std::vector<TKeyStroke> Expected{
        {Caps, 1, false}, {Caps, 1, true}, {'1', 0, false}, {'1', 0, true},
        {Caps, 0, false}, {Caps, 0, true}, {'2', 0, false}, {'2', 0, true},
        {Caps, 1, false}, {Caps, 1, true}, {'A', 0, false}, {'A', 0, true},
        {Caps, 0, false}, {Caps, 0, true}, {'B', 0, false}, {'B', 0, true}};
    EXPECT_EQ(Recorded.KeyStateReads, 4);
    EXPECT_EQ(Recorded.Events, Expected);
}

// A code above 0x7F is its character in the ANSI code page, typed as itself; only the low byte of
// a key's scan-code argument reaches the event.
TEST_F(KeystrokeSeam, HighCodesAreTypedAsTheirCharacterAndScanCodesPassAsBytes) {
    TfrmCardReader::SimulateKeystroke(0xBA, 0x1FF);
    Answers.CapsStates = {1};
    TfrmCardReader::SendToActiveWindow("\xDE", false);
    wchar_t Thorn = 0;
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xDE", 1, &Thorn, 1), 1);
    const std::vector<TKeyStroke> Expected{
        {0xBA, 0xFF, false}, {0xBA, 0xFF, true}, Packet(Thorn, false), Packet(Thorn, true)};
    EXPECT_EQ(Recorded.Events, Expected);
}

// The first reason that applies decides, and a card that is not typed presses no key at all and
// does not even read Caps Lock.
struct TDecisionCase {
    const char* Name;
    std::string CardID;
    bool OwnWindow;
    bool NoWindow;
    bool HigherRights;
    TypingOutcome Expected;
};

void PrintTo(const TDecisionCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class KeystrokeDecision : public KeystrokeSeam, public ::testing::WithParamInterface<TDecisionCase> {};

TEST_P(KeystrokeDecision, TheFirstReasonThatAppliesWinsBeforeAnyKey) {
    const TDecisionCase& Case = GetParam();
    if (Case.OwnWindow)
        Answers.ForegroundProcess = GetCurrentProcessId();
    if (Case.NoWindow)
        Answers.Foreground = nullptr;
    Answers.HigherRights = Case.HigherRights;

    EXPECT_EQ(TfrmCardReader::SendToActiveWindow(Case.CardID, true), Case.Expected);
    if (Case.Expected == TypingOutcome::Typed) {
        EXPECT_EQ(Recorded.Events.size(), 18u);
    } else {
        EXPECT_TRUE(Recorded.Events.empty());
        EXPECT_EQ(Recorded.KeyStateReads, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, KeystrokeDecision,
    ::testing::Values(
        TDecisionCase{"ControlCharacterBeforeEverything", "1\x1B", true, false, true,
                      TypingOutcome::ControlCharacters},
        TDecisionCase{"DeleteIsAControlCharacter", "1\x7F", false, false, false,
                      TypingOutcome::ControlCharacters},
        TDecisionCase{"OwnWindowBeforeRights", "12", true, false, true, TypingOutcome::OwnWindowInFront},
        TDecisionCase{"NoWindow", "12", false, true, false, TypingOutcome::NoWindowInFront},
        TDecisionCase{"HigherRights", "12", false, false, true, TypingOutcome::HigherRights},
        TDecisionCase{"AnotherWindowAtOurLevel", "12", false, false, false, TypingOutcome::Typed}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// Over many random 8-bit card IDs and three layouts: a control character gives no event at all;
// otherwise every event is a character's own key framed by Caps Lock (exactly where the layout
// gives that character from it), a Unicode packet, or the suffix's Return, and what the events type
// is the card ID as the ANSI code page spells it.
std::wstring TypedByEvents(const std::vector<TKeyStroke>& Events, const TFakeLayout& Layout, bool CapsOn,
                           bool& Suffixed) {
    std::wstring Text;
    Suffixed = false;
    std::size_t At = 0;
    auto Take = [&](TKeyStroke Stroke) {
        EXPECT_LT(At, Events.size());
        if (At >= Events.size() || Events[At] != Stroke)
            throw std::runtime_error("unexpected event at " + std::to_string(At));
        ++At;
    };
    while (At < Events.size()) {
        const TKeyStroke First = Events[At];
        if (First.VirtualKey == VK_PACKET) {
            Take(Packet(static_cast<wchar_t>(First.ScanCode), false));
            Take(Packet(static_cast<wchar_t>(First.ScanCode), true));
            Text += static_cast<wchar_t>(First.ScanCode);
            continue;
        }
        if (!CapsOn)
            Take({Caps, 1, false}), Take({Caps, 1, true});
        const unsigned Key = Events.at(At).VirtualKey;
        Take({Key, 0, false});
        Take({Key, 0, true});
        if (!CapsOn)
            Take({Caps, 0, false}), Take({Caps, 0, true});
        if (Key == VK_RETURN) {
            EXPECT_EQ(At, Events.size()) << "Return before the end";
            Suffixed = true;
        } else {
            const auto Found = Layout.Typed.find(Key);
            if (Found == Layout.Typed.end())
                throw std::runtime_error("a key that types nothing: " + std::to_string(Key));
            Text += Found->second;
        }
    }
    return Text;
}

std::string Hex(const std::string& Bytes) {
    std::string Text;
    for (const char Byte : Bytes) {
        char Code[4];
        std::snprintf(Code, sizeof Code, "%02X ", static_cast<unsigned char>(Byte));
        Text += Code;
    }
    return Text;
}

TEST_F(KeystrokeSeam, EveryRandomCardIsTypedAsItselfOrNotAtAll) {
    std::mt19937 Random(20261208);
    const std::pair<const char*, TFakeLayout> Layouts[] = {{"US-like", UsLikeLayout()},
                                                           {"Russian-like", RussianLikeLayout()},
                                                           {"German-like", GermanLikeLayout()}};
    for (const auto& [Name, Layout] : Layouts) {
        for (int Card = 0; Card < 400; ++Card) {
            std::string CardID(1 + Random() % 12, '\0');
            // Most cards printable, so that the framing is exercised as much as the refusal.
            const bool AllowControls = Random() % 4 == 0;
            for (char& Byte : CardID)
                Byte = static_cast<char>(AllowControls ? 1 + Random() % 255 : 0x20 + Random() % 0xE0);
            const bool Suffix = Random() % 2 == 0;
            const bool CapsOn = Random() % 2 == 0;
            Answers = TAnswers{};
            Answers.Layout = Layout;
            Answers.CapsStates.assign(64, CapsOn ? 1 : 0);
            Recorded.Events.clear();
            Recorded.KeyStateReads = 0;
            SCOPED_TRACE(std::string(Name) + " card " + Hex(CardID));

            const TypingOutcome Outcome = TfrmCardReader::SendToActiveWindow(CardID, Suffix);
            const bool Controls = std::any_of(CardID.begin(), CardID.end(), [](char Byte) {
                return static_cast<unsigned char>(Byte) < 0x20 || Byte == 0x7F;
            });
            if (Controls) {
                EXPECT_EQ(Outcome, TypingOutcome::ControlCharacters);
                EXPECT_TRUE(Recorded.Events.empty());
                continue;
            }
            ASSERT_EQ(Outcome, TypingOutcome::Typed);
            std::wstring Expected(CardID.size(), L'\0');
            Expected.resize(MultiByteToWideChar(CP_ACP, 0, CardID.data(), static_cast<int>(CardID.size()),
                                                Expected.data(), static_cast<int>(Expected.size())));
            bool Suffixed = false;
            try {
                EXPECT_EQ(TypedByEvents(Recorded.Events, Layout, CapsOn, Suffixed), Expected);
            } catch (const std::exception& Error) {
                ADD_FAILURE() << Error.what();
            }
            EXPECT_EQ(Suffixed, Suffix);
            // A packet only where the character's own key would not type it: hex IDs on a layout
            // that has them keep their strokes.
            for (const TKeyStroke& Event : Recorded.Events) {
                if (Event.VirtualKey != VK_PACKET || Event.ScanCode > 0xFF)
                    continue;
                const auto Own = Layout.Typed.find(Event.ScanCode);
                EXPECT_FALSE(Own != Layout.Typed.end() &&
                             Own->second == static_cast<wchar_t>(Event.ScanCode) &&
                             !Layout.Dead.count(Event.ScanCode))
                    << "a packet for a character its own key types: " << Event.ScanCode;
            }
        }
    }
}

// ---- The real services, and real key events at a focused window in another process ----------

TEST(KeystrokeRights, ThisProcessIsNotAboveItselfAndAnUnknownOneCountsAsHigher) {
    EXPECT_FALSE(RunsWithHigherRights(GetCurrentProcessId()));
    // No process has this identifier (identifiers are multiples of 4): it cannot be opened.
    EXPECT_TRUE(RunsWithHigherRights(0xFFFFFFF3u));
}

bool CapsLockOn() {
    return (GetKeyState(VK_CAPITAL) & 1) != 0;
}

class KeystrokeAtFocusedWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Sink = std::make_unique<TKeySinkProcess>("Keystroke sink"); }
    static void TearDownTestSuite() {
        SetCapsLock(false);
        Sink.reset();
    }

    // Set from this process: a toggle injected by another process is not seen by our key state.
    static void SetCapsLock(bool On) {
        if (CapsLockOn() != On) {
            keybd_event(VK_CAPITAL, 0, 0, 0);
            keybd_event(VK_CAPITAL, 0, KEYEVENTF_KEYUP, 0);
        }
    }

    // Focus, Caps Lock, and an empty record: the report waits until the Caps Lock keys have landed.
    static void Prepare(TKeySinkProcess& Target, bool CapsOn) {
        Target.Focus();
        ASSERT_EQ(GetForegroundWindow(), Target.Window());
        SetCapsLock(CapsOn);
        ASSERT_EQ(CapsLockOn(), CapsOn);
        Target.Report();
        Target.Clear();
    }

    static std::unique_ptr<TKeySinkProcess> Sink;
};
std::unique_ptr<TKeySinkProcess> KeystrokeAtFocusedWindow::Sink;

struct TTypingCase {
    const char* Name;
    std::string CardID;
    bool Suffix;
    bool CapsLockOn;
    std::vector<TKeyStroke> Events;
    std::string Received;
};

void PrintTo(const TTypingCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

std::vector<TKeyStroke> PacketsAsPresses(std::vector<TKeyStroke> Events) {
    for (TKeyStroke& Event : Events)
        Event.Up = Event.Up && Event.VirtualKey != VK_PACKET;
    return Events;
}

class KeystrokeTyping : public KeystrokeAtFocusedWindow, public ::testing::WithParamInterface<TTypingCase> {};

TEST_P(KeystrokeTyping, FocusedWindowReceivesTheKeysAndCapsLockIsRestored) {
    const TTypingCase& Case = GetParam();
    Prepare(*Sink, Case.CapsLockOn);

    EXPECT_EQ(TfrmCardReader::SendToActiveWindow(Case.CardID, Case.Suffix), TypingOutcome::Typed);
    const TKeySinkReport Report = Sink->Report();

    EXPECT_EQ(Report.Messages, Case.Events);
    // The hook sees the same keys; Wine 8 reports a packet's release to it without LLKHF_UP, and
    // the window's messages above tell the two apart.
    EXPECT_EQ(PacketsAsPresses(Report.Hook), PacketsAsPresses(Case.Events));
    EXPECT_EQ(Report.Text, Case.Received);
    EXPECT_EQ(CapsLockOn(), Case.CapsLockOn);
    EXPECT_EQ(Report.CapsLock, Case.CapsLockOn);
}

const std::vector<TKeyStroke> DigitAndReturnCapsOff{
    {Caps, 1, false},      {Caps, 1, true},      {'1', 0, false},  {'1', 0, true},
    {Caps, 0, false},      {Caps, 0, true},      {Caps, 1, false}, {Caps, 1, true},
    {VK_RETURN, 0, false}, {VK_RETURN, 0, true}, {Caps, 0, false}, {Caps, 0, true}};
const std::vector<TKeyStroke> LettersCapsOn{{'A', 0, false}, {'A', 0, true}, {'B', 0, false}, {'B', 0, true}};
// Lower-case letters and punctuation whose codes are other keys (F1, the Windows key, Delete,
// Insert, keypad 2) go out as themselves; the keys their codes name are never pressed.
const std::vector<TKeyStroke> OtherKeysCodesCapsOff{
    Packet('p', false), Packet('p', true),  Packet('[', false), Packet('[', true),  Packet('.', false),
    Packet('.', true),  Packet('-', false), Packet('-', true),  Packet('b', false), Packet('b', true)};

INSTANTIATE_TEST_SUITE_P(
    Cards, KeystrokeTyping,
    ::testing::Values(TTypingCase{"DigitAndReturnCapsOff", "1", true, false, DigitAndReturnCapsOff, "1\r"},
                      TTypingCase{"LettersCapsOn", "AB", false, true, LettersCapsOn, "AB"},
                      TTypingCase{"OtherKeysCodesAreTypedAsThemselves", "p[.-b", false, false,
                                  OtherKeysCodesCapsOff, "p[.-b"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// A Unicode packet reaches a Unicode window in another process as exactly the character: the
// ANSI code page's characters of a card, and one that no 8-bit code page of this desk has.
TEST_F(KeystrokeAtFocusedWindow, UnicodeWindowReceivesExactlyTheCharacters) {
    TKeySinkProcess Wide("Unicode keystroke sink", true);
    Prepare(Wide, false);
    ASSERT_EQ(TfrmCardReader::SendToActiveWindow("\xE9\x80", false), TypingOutcome::Typed);
    TfrmCardReader::SimulateUnicodeKeystroke(L'Ж');
    std::wstring Expected(2, L'\0');
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xE9\x80", 2, Expected.data(), 2), 2);
    EXPECT_EQ(Wide.Report().WideText, Expected + L'Ж');
}

// The program's own window in front: not one key goes out, the sink behind it receives nothing.
TEST_F(KeystrokeAtFocusedWindow, OwnWindowInFrontGetsNoKey) {
    Prepare(*Sink, false);
    const HWND Own = CreateWindowA("STATIC", "Own window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 200, 100,
                                   nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(Own);
    SetForegroundWindow(Own);
    MSG Message;
    while (PeekMessageA(&Message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&Message);
    ASSERT_EQ(GetForegroundWindow(), Own);

    EXPECT_EQ(TfrmCardReader::SendToActiveWindow("12", true), TypingOutcome::OwnWindowInFront);
    DestroyWindow(Own);
    // The sink's hook sees every key injected anywhere, whichever window has the focus.
    EXPECT_TRUE(Sink->Report().Hook.empty());
}

} // namespace
