// Typing: the keyboard-wedge half of the main window. A card ID becomes key strokes for the window
// in front, unless the keys would go astray there: then nothing at all is typed, and the caller
// learns why.

#include "app/Unit1.h"
#include "app/KeyboardInput.h"
#include "kit/UniqueHandle.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

TKeyboardInput KeyboardInput;

namespace {

// ToUnicodeEx leaves the keyboard state alone with this flag (honoured from Windows 10 1607; older
// versions ignore it, which is why dead keys are screened out before the question is asked).
constexpr UINT DoNotChangeKeyboardState = 4;
// MapVirtualKeyEx marks a dead key in the top bit of the character it maps a key to.
constexpr UINT DeadKeyBit = 0x80000000u;

// Below 0x20 and DEL: as virtual keys they are Backspace, Tab, Enter, Escape and the like, and no
// layout types them as characters.
bool HoldsControlCharacters(const std::string& CardID) {
    return std::any_of(CardID.begin(), CardID.end(), [](char Character) {
        const auto Code = static_cast<unsigned char>(Character);
        return Code < 0x20 || Code == 0x7F;
    });
}

// The card ID as the "Card ID:" field shows it: the characters of the ANSI code page, whose
// double-byte pages pair their bytes.
std::wstring ToWide(const std::string& Text) {
    const int Size = static_cast<int>(Text.size());
    const int Length = MultiByteToWideChar(CP_ACP, 0, Text.data(), Size, nullptr, 0);
    std::wstring Wide(static_cast<std::size_t>(std::max(Length, 0)), L'\0');
    if (Length > 0)
        MultiByteToWideChar(CP_ACP, 0, Text.data(), Size, Wide.data(), Length);
    return Wide;
}

// Whether the layout types Character from the character's own virtual key (its code) with Caps
// Lock on and no other modifier: the strokes that have always typed digits and upper-case letters.
// The question must not touch the user's keyboard: a dead key asked of ToUnicodeEx would be planted
// in the keyboard state, to land on the user's next key, so MapVirtualKeyEx screens dead keys out
// first and only a key that gives a character is asked.
bool OwnKeyTypes(wchar_t Character, HKL Layout) {
    if (Character > 0xFF)
        return false;
    const UINT Key = Character;
    const UINT Plain = KeyboardInput.MapVirtualKeyEx(Key, MAPVK_VK_TO_CHAR, Layout);
    if (Plain == 0 || (Plain & DeadKeyBit) != 0)
        return false;
    BYTE CapsLockOnly[256] = {};
    CapsLockOnly[VK_CAPITAL] = 1;
    const UINT Scan = KeyboardInput.MapVirtualKeyEx(Key, MAPVK_VK_TO_VSC, Layout);
    wchar_t Typed[4] = {};
    const int Count =
        KeyboardInput.ToUnicodeEx(Key, Scan, CapsLockOnly, Typed, 4, DoNotChangeKeyboardState, Layout);
    if (Count < 0) {
        // Dead only with Caps Lock: asked again, the key takes its own dead state back out.
        KeyboardInput.ToUnicodeEx(Key, Scan, CapsLockOnly, Typed, 4, DoNotChangeKeyboardState, Layout);
        return false;
    }
    return Count == 1 && Typed[0] == Character;
}

// One key of the card: its own virtual key, or, where the layout would type something else from
// it, the character itself as a Unicode packet.
struct TStroke {
    std::optional<BYTE> OwnKey;
    wchar_t Character = 0;
};

std::vector<TStroke> PlanStrokes(const std::string& CardID, HKL Layout) {
    std::vector<TStroke> Strokes;
    for (const wchar_t Character : ToWide(CardID)) {
        if (OwnKeyTypes(Character, Layout))
            Strokes.push_back({static_cast<BYTE>(Character), Character});
        else
            Strokes.push_back({std::nullopt, Character});
    }
    return Strokes;
}

// Every key goes out with Caps Lock on, so that letter keys give upper-case letters whatever the
// user's Caps Lock state, and that state is put back after each key. The state is read before every
// key: the user (or another program) may toggle it while a card is typed.
void TypeWithCapsLock(BYTE Key) {
    const bool CapsLockOn = (KeyboardInput.GetKeyState(VK_CAPITAL) & 1) != 0;
    if (!CapsLockOn)
        TfrmCardReader::SimulateKeystroke(VK_CAPITAL, 1);
    TfrmCardReader::SimulateKeystroke(Key, 0);
    if (!CapsLockOn)
        TfrmCardReader::SimulateKeystroke(VK_CAPITAL, 0);
}

// The mandatory integrity level of a process's token (its label's last sub-authority).
std::optional<DWORD> IntegrityLevel(HANDLE Process) {
    TUniqueHandle<TFileHandleTraits> Token;
    if (!OpenProcessToken(Process, TOKEN_QUERY, Token.Put()))
        return std::nullopt;
    DWORD Size = 0;
    GetTokenInformation(Token.Get(), TokenIntegrityLevel, nullptr, 0, &Size);
    if (Size < sizeof(TOKEN_MANDATORY_LABEL))
        return std::nullopt;
    std::vector<BYTE> Buffer(Size);
    if (!GetTokenInformation(Token.Get(), TokenIntegrityLevel, Buffer.data(), Size, &Size))
        return std::nullopt;
    const PSID Label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(Buffer.data())->Label.Sid;
    if (!Label || !IsValidSid(Label) || *GetSidSubAuthorityCount(Label) == 0)
        return std::nullopt;
    return *GetSidSubAuthority(Label, *GetSidSubAuthorityCount(Label) - 1u);
}

} // namespace

bool RunsWithHigherRights(DWORD ProcessId) {
    const TUniqueHandle<TFileHandleTraits> Process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ProcessId));
    if (!Process)
        return true;
    const std::optional<DWORD> Theirs = IntegrityLevel(Process.Get());
    // The pseudo handle of this process needs no closing.
    const std::optional<DWORD> Ours = IntegrityLevel(GetCurrentProcess());
    return !Theirs || !Ours || *Theirs > *Ours;
}

// The decision comes first and is made once, before any key: a card goes out whole or not at all.
// No message is pumped and no delay inserted, so the strokes of one card ID are one uninterrupted
// run.
TypingOutcome TfrmCardReader::SendToActiveWindow(const std::string& CardID, bool SuffixCarriageReturn) {
    if (CardID.empty())
        return TypingOutcome::Typed;
    if (HoldsControlCharacters(CardID))
        return TypingOutcome::ControlCharacters;
    const HWND Front = KeyboardInput.GetForegroundWindow();
    if (!Front)
        return TypingOutcome::NoWindowInFront;
    DWORD ProcessId = 0;
    const DWORD Thread = KeyboardInput.GetWindowThreadProcessId(Front, &ProcessId);
    // Its own window would take the card as a user's keys: Enter presses the focused button.
    if (ProcessId == GetCurrentProcessId())
        return TypingOutcome::OwnWindowInFront;
    if (KeyboardInput.RunsWithHigherRights(ProcessId))
        return TypingOutcome::HigherRights;

    // The window's own layout decides what a key types there, not this thread's.
    for (const TStroke& Stroke : PlanStrokes(CardID, KeyboardInput.GetKeyboardLayout(Thread))) {
        if (Stroke.OwnKey)
            TypeWithCapsLock(*Stroke.OwnKey);
        else
            SimulateUnicodeKeystroke(Stroke.Character);
    }
    if (SuffixCarriageReturn)
        TypeWithCapsLock(VK_RETURN);
    return TypingOutcome::Typed;
}

// One press and one release, back to back. The system keeps the low byte of ScanCode.
void TfrmCardReader::SimulateKeystroke(BYTE Key, int ScanCode) {
    const BYTE Scan = static_cast<BYTE>(ScanCode & 0xFF);
    KeyboardInput.KeybdEvent(Key, Scan, 0, 0);
    KeyboardInput.KeybdEvent(Key, Scan, KEYEVENTF_KEYUP, 0);
}

// The character itself, whatever the layout: the window receives it as typed text, through the
// packet key, and no other key is pressed.
void TfrmCardReader::SimulateUnicodeKeystroke(wchar_t Character) {
    INPUT Inputs[2] = {};
    for (INPUT& Input : Inputs) {
        Input.type = INPUT_KEYBOARD;
        Input.ki.wScan = Character;
        Input.ki.dwFlags = KEYEVENTF_UNICODE;
    }
    Inputs[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    KeyboardInput.SendInput(2, Inputs, sizeof(INPUT));
}
