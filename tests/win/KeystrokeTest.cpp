// Keystroke output: the calls the typing makes (through the keyboard seam) and the real key events
// a focused window in another process receives.

#include "app/KeyboardInput.h"
#include "app/Unit1.h"
#include "tests/win/sink/KeySinkClient.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// ---- Through the seam ------------------------------------------------------------------------

struct TRecordedInput {
    std::vector<SHORT> StatesToReport; // one per GetKeyState call, in order
    int KeyStateReads = 0;
    std::vector<TKeyStroke> Events;
};
TRecordedInput Recorded;

SHORT WINAPI FakeGetKeyState(int VirtualKey) {
    EXPECT_EQ(VirtualKey, VK_CAPITAL);
    const int Read = Recorded.KeyStateReads++;
    return Read < static_cast<int>(Recorded.StatesToReport.size()) ? Recorded.StatesToReport[Read] : 0;
}

VOID WINAPI FakeKeybdEvent(BYTE VirtualKey, BYTE ScanCode, DWORD Flags, ULONG_PTR ExtraInfo) {
    EXPECT_EQ(ExtraInfo, 0u);
    EXPECT_TRUE(Flags == 0 || Flags == KEYEVENTF_KEYUP) << "flags " << Flags;
    Recorded.Events.push_back(TKeyStroke{VirtualKey, ScanCode, (Flags & KEYEVENTF_KEYUP) != 0});
}

class KeystrokeSeam : public ::testing::Test {
protected:
    void SetUp() override {
        Saved = KeyboardInput;
        KeyboardInput.GetKeyState = FakeGetKeyState;
        KeyboardInput.KeybdEvent = FakeKeybdEvent;
        Recorded = TRecordedInput{};
    }
    void TearDown() override { KeyboardInput = Saved; }
    TKeyboardInput Saved;
};

// The key events are written out: with Caps Lock off a character is framed by two Caps Lock
// strokes, the first with scan code 1 and the second with 0; with Caps Lock on it is its own press
// and release.
constexpr unsigned Caps = VK_CAPITAL;

TEST_F(KeystrokeSeam, EmptyTextSendsNothingAndDoesNotReadCapsLock) {
    TfrmCardReader::SendToActiveWindow("");
    EXPECT_EQ(Recorded.KeyStateReads, 0);
    EXPECT_TRUE(Recorded.Events.empty());
}

// The toggle bit alone decides; the "pressed" high bit means nothing here. The state is read before
// every character, so a Caps Lock change during the text changes the framing from there on.
TEST_F(KeystrokeSeam, CapsLockIsReadBeforeEveryCharacterFromItsToggleBit) {
    Recorded.StatesToReport = {0, 1, static_cast<SHORT>(0x8000), static_cast<SHORT>(0x8001)};
    TfrmCardReader::SendToActiveWindow("12AB");

    const std::vector<TKeyStroke> Expected{
        {Caps, 1, false}, {Caps, 1, true}, {'1', 0, false}, {'1', 0, true},
        {Caps, 0, false}, {Caps, 0, true}, {'2', 0, false}, {'2', 0, true},
        {Caps, 1, false}, {Caps, 1, true}, {'A', 0, false}, {'A', 0, true},
        {Caps, 0, false}, {Caps, 0, true}, {'B', 0, false}, {'B', 0, true}};
    EXPECT_EQ(Recorded.KeyStateReads, 4);
    EXPECT_EQ(Recorded.Events, Expected);
}

// Codes above 0x7F are passed on unchanged (no sign extension into another key), and only the low
// byte of the scan-code argument reaches the event.
TEST_F(KeystrokeSeam, HighCodesAndScanCodesPassThroughAsBytes) {
    TfrmCardReader::SimulateKeystroke(0xBA, 0x1FF);
    Recorded.StatesToReport = {1};
    TfrmCardReader::SendToActiveWindow("\xDE");
    const std::vector<TKeyStroke> Expected{
        {0xBA, 0xFF, false}, {0xBA, 0xFF, true}, {0xDE, 0, false}, {0xDE, 0, true}};
    EXPECT_EQ(Recorded.Events, Expected);
}

// ---- Real key events at a focused window in another process ----------------------------------

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
    void Prepare(bool CapsOn) {
        Sink->Focus();
        ASSERT_EQ(GetForegroundWindow(), Sink->Window());
        SetCapsLock(CapsOn);
        ASSERT_EQ(CapsLockOn(), CapsOn);
        Sink->Report();
        Sink->Clear();
    }

    static std::unique_ptr<TKeySinkProcess> Sink;
};
std::unique_ptr<TKeySinkProcess> KeystrokeAtFocusedWindow::Sink;

struct TTypingCase {
    const char* Name;
    std::string Text;
    bool CapsLockOn;
    std::vector<TKeyStroke> Events;
    std::string Received;
};

void PrintTo(const TTypingCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

class KeystrokeTyping : public KeystrokeAtFocusedWindow, public ::testing::WithParamInterface<TTypingCase> {};

TEST_P(KeystrokeTyping, FocusedWindowReceivesTheKeysAndCapsLockIsRestored) {
    const TTypingCase& Case = GetParam();
    Prepare(Case.CapsLockOn);

    TfrmCardReader::SendToActiveWindow(Case.Text);
    const TKeySinkReport Report = Sink->Report();

    EXPECT_EQ(Report.Hook, Case.Events);
    EXPECT_EQ(Report.Messages, Case.Events);
    EXPECT_EQ(Report.Text, Case.Received);
    EXPECT_EQ(CapsLockOn(), Case.CapsLockOn);
    EXPECT_EQ(Report.CapsLock, Case.CapsLockOn);
}

const std::vector<TKeyStroke> DigitAndReturnCapsOff{
    {Caps, 1, false},      {Caps, 1, true},      {'1', 0, false},  {'1', 0, true},
    {Caps, 0, false},      {Caps, 0, true},      {Caps, 1, false}, {Caps, 1, true},
    {VK_RETURN, 0, false}, {VK_RETURN, 0, true}, {Caps, 0, false}, {Caps, 0, true}};
const std::vector<TKeyStroke> LettersCapsOn{{'A', 0, false}, {'A', 0, true}, {'B', 0, false}, {'B', 0, true}};
// Lower-case codes are the function keys' virtual keys: F1, no text.
const std::vector<TKeyStroke> LowerCaseCapsOff{{Caps, 1, false}, {Caps, 1, true},  {VK_F1, 0, false},
                                               {VK_F1, 0, true}, {Caps, 0, false}, {Caps, 0, true}};

INSTANTIATE_TEST_SUITE_P(
    Cards, KeystrokeTyping,
    ::testing::Values(TTypingCase{"DigitAndReturnCapsOff", "1\r", false, DigitAndReturnCapsOff, "1\r"},
                      TTypingCase{"LettersCapsOn", "AB", true, LettersCapsOn, "AB"},
                      TTypingCase{"LowerCaseBecomesAFunctionKey", "p", false, LowerCaseCapsOff, ""}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace
