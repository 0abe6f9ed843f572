#include "tools/reader-sim/SimOptions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

namespace {

constexpr const char* HelpText = R"(usage: reader-sim [options]

Plays a proximity card reader module on a pseudo-terminal (or a serial device) and prints
"READY <device path>" once it listens. It answers command frames: B with its factory code,
V with its version, F with the next card ID of its script (an empty card ID once the script is
used up), A and any other command with an empty reply. It answers only while the line runs at
its baud rate, as a real module would.

Line and lifetime:
  --device PATH        use this serial device instead of a new pty
  --link PATH          point the symlink PATH at the pty while running (replaced atomically,
                       removed at exit)
  --baud N             the module's baud rate (default 19200)
  --log FILE           log every frame: "<monotonic ns> RX|TX <hex bytes>", and NOTE lines
  --stop-file PATH     stop when PATH exists
  --max-seconds N      stop after N seconds (default 900)
  --lifeline PATH      make a FIFO at PATH and stop once the process that opened it for
                       writing has closed it (or died)

The module:
  --module-id XX       module ID of every reply (default 01)
  --factory-code TEXT  reply to B (default 30571846)
  --version TEXT       reply to V (default 2.31)
  --cards A,B,...      card IDs answered to F in turn; an empty entry answers without a card
  --generate N         append N distinct generated card IDs to the script
  --cycle              start the script again once it is used up
  --delay MS           reply delay after the end of a command (default 5)

Faults:
  --silent             never answer
  --silent-after N     answer N commands, then nothing
  --no-version         do not answer V
  --bad-bcc            replies carry a wrong BCC
  --lower-bcc          replies carry their BCC in lower case (the status character is chosen
                       so that the BCC has a letter in it)
  --split N            write every reply in N pieces
  --split-gap MS       pause between the pieces, and after the last one before the next reply
                       (default 50)
  --junk N             write N junk bytes before every reply
  --oversize N         pad every reply's data so the frame is N bytes long
  --late MS            answer MS milliseconds later than --delay says
  --close-after N      answer N commands, then close the line (a pulled adapter) when the
                       next command comes
  --close-after-ms MS  close the line MS milliseconds after start
  --fault-only LETTERS apply the reply faults (bad/lower BCC, split, junk, oversize, late) only to
                       replies to these commands, e.g. --fault-only F
  --fault-at N,M,...   apply them only to these replies, numbered from 1 in the order they are
                       answered (B is 1, V is 2, the first F is 3 when connecting)
)";

[[noreturn]] void Fail(const std::string& Message) {
    std::fprintf(stderr, "reader-sim: %s (try --help)\n", Message.c_str());
    std::exit(2);
}

long ToNumber(const std::string& Name, const std::string& Text, long Min) {
    char* End = nullptr;
    const long Value = std::strtol(Text.c_str(), &End, 10);
    if (Text.empty() || *End != '\0' || Value < Min)
        Fail(Name + " needs a whole number of at least " + std::to_string(Min) + ", not '" + Text + "'");
    return Value;
}

std::vector<std::string> SplitList(const std::string& Text) {
    std::vector<std::string> Items;
    std::string::size_type Start = 0;
    for (;;) {
        const auto Comma = Text.find(',', Start);
        Items.push_back(Text.substr(Start, Comma - Start));
        if (Comma == std::string::npos)
            return Items;
        Start = Comma + 1;
    }
}

// Distinct, card-like numbers: an odd step modulo 10^10 never repeats within 10^10 draws.
void GenerateCards(std::vector<std::string>& Cards, long Count) {
    unsigned long long Value = 4100000000ULL;
    for (long I = 0; I < Count; ++I) {
        Value = (Value + 2654435761ULL) % 10000000000ULL;
        char Text[16];
        std::snprintf(Text, sizeof Text, "%010llu", Value);
        Cards.emplace_back(Text);
    }
}

} // namespace

bool TSimOptions::FaultApplies(char Letter, long ReplyNumber) const {
    return (FaultLetters.empty() || FaultLetters.find(Letter) != std::string::npos) &&
           (FaultReplies.empty() ||
            std::find(FaultReplies.begin(), FaultReplies.end(), ReplyNumber) != FaultReplies.end());
}

TSimOptions ParseSimOptions(int argc, char** argv) {
    TSimOptions O;
    for (int I = 1; I < argc; ++I) {
        std::string Name = argv[I];
        std::string Value;
        bool HasValue = false;
        if (const auto Eq = Name.find('='); Name.rfind("--", 0) == 0 && Eq != std::string::npos) {
            Value = Name.substr(Eq + 1);
            Name.resize(Eq);
            HasValue = true;
        }
        auto Arg = [&]() -> std::string {
            if (HasValue)
                return Value;
            if (I + 1 >= argc)
                Fail(Name + " needs a value");
            return argv[++I];
        };
        auto Number = [&](long Min) { return ToNumber(Name, Arg(), Min); };

        if (Name == "--help" || Name == "-h") {
            std::fputs(HelpText, stdout);
            std::exit(0);
        } else if (Name == "--device") {
            O.Device = Arg();
        } else if (Name == "--link") {
            O.Link = Arg();
        } else if (Name == "--baud") {
            O.Baud = static_cast<unsigned>(Number(1));
        } else if (Name == "--log") {
            O.LogPath = Arg();
        } else if (Name == "--stop-file") {
            O.StopFile = Arg();
        } else if (Name == "--max-seconds") {
            O.MaxSeconds = static_cast<double>(Number(1));
        } else if (Name == "--lifeline") {
            O.Lifeline = Arg();
        } else if (Name == "--module-id") {
            O.ModuleID = Arg();
            if (O.ModuleID.size() != 2)
                Fail("--module-id needs exactly two characters");
        } else if (Name == "--factory-code") {
            O.FactoryCode = Arg();
        } else if (Name == "--version") {
            O.Version = Arg();
        } else if (Name == "--cards") {
            for (auto& Card : SplitList(Arg()))
                O.Cards.push_back(std::move(Card));
        } else if (Name == "--generate") {
            GenerateCards(O.Cards, Number(1));
        } else if (Name == "--cycle") {
            O.Cycle = true;
        } else if (Name == "--delay") {
            O.DelayMs = static_cast<int>(Number(0));
        } else if (Name == "--silent") {
            O.Silent = true;
        } else if (Name == "--silent-after") {
            O.SilentAfter = Number(0);
        } else if (Name == "--no-version") {
            O.NoVersion = true;
        } else if (Name == "--bad-bcc") {
            O.BadBCC = true;
        } else if (Name == "--lower-bcc") {
            O.LowerBCC = true;
        } else if (Name == "--split") {
            O.SplitPieces = static_cast<int>(Number(1));
        } else if (Name == "--split-gap") {
            O.SplitGapMs = static_cast<int>(Number(0));
        } else if (Name == "--junk") {
            O.Junk = static_cast<int>(Number(0));
        } else if (Name == "--oversize") {
            O.Oversize = static_cast<int>(Number(8));
        } else if (Name == "--late") {
            O.LateMs = static_cast<int>(Number(0));
        } else if (Name == "--close-after") {
            O.CloseAfter = Number(0);
        } else if (Name == "--close-after-ms") {
            O.CloseAfterMs = Number(0);
        } else if (Name == "--fault-only") {
            O.FaultLetters = Arg();
        } else if (Name == "--fault-at") {
            for (const auto& Item : SplitList(Arg()))
                O.FaultReplies.push_back(ToNumber(Name, Item, 1));
        } else {
            Fail("unknown option '" + Name + "'");
        }
    }
    if (O.Cycle && O.Cards.empty())
        Fail("--cycle needs a card script (--cards or --generate)");
    return O;
}
