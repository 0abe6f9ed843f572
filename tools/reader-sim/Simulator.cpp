// reader-sim: a proximity card reader module on a pseudo-terminal, for tests, benchmarks and for
// trying Cardwick without hardware. One thread, one poll loop; every reply is a scheduled write so
// that delays, split replies and the closing of the line keep their order on the wire.

#include "reader/ReaderModule.h"
#include "reader/ReaderProtocol.h"
#include "tools/reader-sim/SimOptions.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr std::int64_t NsPerMs = 1'000'000;
constexpr std::int64_t TickNs = 50 * NsPerMs;

volatile std::sig_atomic_t StopSignal = 0;

void OnSignal(int Signal) {
    StopSignal = Signal;
}

std::int64_t NowNs() {
    timespec T{};
    clock_gettime(CLOCK_MONOTONIC, &T);
    return std::int64_t{T.tv_sec} * 1'000'000'000 + T.tv_nsec;
}

std::optional<speed_t> SpeedOf(unsigned Baud) {
    static const std::pair<unsigned, speed_t> Speeds[] = {
        {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
        {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
        {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const auto& [Rate, Speed] : Speeds)
        if (Rate == Baud)
            return Speed;
    return std::nullopt;
}

class TFd {
public:
    explicit TFd(int Fd = -1) : Fd(Fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() { Reset(); }
    int Get() const { return Fd; }
    void Reset(int New = -1) {
        if (Fd >= 0)
            close(Fd);
        Fd = New;
    }

private:
    int Fd;
};

[[noreturn]] void Die(const std::string& What) {
    std::fprintf(stderr, "reader-sim: %s: %s\n", What.c_str(), std::strerror(errno));
    std::exit(1);
}

// One line per frame, flushed at once, so a test can read the log while the run goes on.
class TWireLog {
public:
    void Open(const std::string& Path) {
        if (!Path.empty() && !(File.reset(std::fopen(Path.c_str(), "w")), File))
            Die("cannot open log " + Path);
    }
    void Frame(const char* Direction, std::string_view Bytes) {
        if (!File)
            return;
        std::fprintf(File.get(), "%lld %s%s%s\n", static_cast<long long>(NowNs()), Direction,
                     Bytes.empty() ? "" : " ", HexBytes(Bytes).c_str());
        std::fflush(File.get());
    }
    void Note(const std::string& Text) {
        if (!File)
            return;
        std::fprintf(File.get(), "%lld NOTE %s\n", static_cast<long long>(NowNs()), Text.c_str());
        std::fflush(File.get());
    }

private:
    std::unique_ptr<FILE, int (*)(FILE*)> File{nullptr, &std::fclose};
};

class TSimulator {
public:
    explicit TSimulator(TSimOptions Options) : O(std::move(Options)) {}
    int Run();

private:
    TSimOptions O;
    speed_t Speed = B19200;
    TFd Master;
    TFd Slave; // held open so that the line stays up while the client closes and reopens it
    TFd Lifeline;
    bool IsPty = false;
    std::string DevicePath;
    bool Linked = false;
    TWireLog Log;
    TCommandReader Reader;
    std::multimap<std::int64_t, std::string> Pending;
    std::int64_t LastScheduled = 0;
    long Answered = 0;
    std::size_t NextCard = 0;
    bool LineClosed = false;

    void OpenLine();
    void PlugLink();
    void Unplug();
    void ClearParity();
    void OnBytes(std::string_view Bytes);
    void OnCommand(const TCommandEvent& Command);
    std::string ReplyData(char Letter);
    std::string BuildReply(char Letter, std::string Data, bool Faulty);
    void Schedule(const std::string& Bytes, std::int64_t At);
    void WriteDue(std::int64_t Now);
    void CloseLine(const std::string& Why);
};

void TSimulator::OpenLine() {
    if (O.Device.empty()) {
        Master.Reset(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK));
        if (Master.Get() < 0 || grantpt(Master.Get()) != 0 || unlockpt(Master.Get()) != 0)
            Die("cannot open a pty");
        DevicePath = ptsname(Master.Get());
        Slave.Reset(open(DevicePath.c_str(), O_RDWR | O_NOCTTY));
        if (Slave.Get() < 0)
            Die("cannot open " + DevicePath);
        IsPty = true;
    } else {
        Master.Reset(open(O.Device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
        if (Master.Get() < 0)
            Die("cannot open " + O.Device);
        DevicePath = O.Device;
    }
    // Raw from the start: an echoing line would hand every command back to the client.
    termios T{};
    if (tcgetattr(Master.Get(), &T) != 0)
        Die("tcgetattr");
    cfmakeraw(&T);
    cfsetispeed(&T, Speed);
    cfsetospeed(&T, Speed);
    if (tcsetattr(Master.Get(), TCSANOW, &T) != 0)
        Die("tcsetattr");
}

void TSimulator::PlugLink() {
    if (O.Link.empty())
        return;
    // Replace atomically: a client opening the port meanwhile finds either the old or the new line.
    const std::string Temp = O.Link + ".reader-sim." + std::to_string(getpid());
    unlink(Temp.c_str());
    if (symlink(DevicePath.c_str(), Temp.c_str()) != 0 || rename(Temp.c_str(), O.Link.c_str()) != 0)
        Die("cannot link " + O.Link);
    Linked = true;
}

// Only our own link goes: a newer reader-sim may already have been plugged in on the same port.
void TSimulator::Unplug() {
    if (!Linked)
        return;
    Linked = false;
    char Target[4096];
    const ssize_t N = readlink(O.Link.c_str(), Target, sizeof Target - 1);
    if (N >= 0 && std::string_view(Target, static_cast<std::size_t>(N)) == DevicePath)
        unlink(O.Link.c_str());
}

// A pty cannot carry parity, yet an even-parity setting leaves input checking on in the pty's one
// termios, and the next even-parity open of the port is then refused. Undo it from our side.
void TSimulator::ClearParity() {
    termios T{};
    if (!IsPty || tcgetattr(Master.Get(), &T) != 0)
        return;
    if ((T.c_cflag & (PARENB | PARODD)) == 0 && (T.c_iflag & (INPCK | PARMRK)) == 0)
        return;
    T.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
    T.c_iflag &= ~static_cast<tcflag_t>(INPCK | PARMRK);
    tcsetattr(Master.Get(), TCSANOW, &T);
}

void TSimulator::OnBytes(std::string_view Bytes) {
    for (const TCommandEvent& Event : Reader.Feed(Bytes)) {
        switch (Event.Kind) {
        case TCommandEvent::Command:
            Log.Frame("RX", Event.Bytes);
            OnCommand(Event);
            break;
        case TCommandEvent::BadFrame:
            Log.Frame("RX", Event.Bytes);
            Log.Note("frame check failed, not answered");
            break;
        case TCommandEvent::Stray:
            Log.Note("stray bytes " + HexBytes(Event.Bytes));
            break;
        }
    }
}

void TSimulator::OnCommand(const TCommandEvent& Command) {
    // A module at another rate receives garbage, recognises no command and stays silent.
    termios T{};
    if (tcgetattr(Master.Get(), &T) == 0 && cfgetospeed(&T) != Speed) {
        Log.Note("line speed differs from " + std::to_string(O.Baud) + ", not answered");
        return;
    }
    // Closed at the next command rather than right after the last reply: a hang-up flushes what
    // the client has not read yet, and a reply is only of use once it has been read.
    if (O.CloseAfter >= 0 && Answered >= O.CloseAfter) {
        CloseLine("closed after " + std::to_string(Answered) + " replies");
        return;
    }
    if (O.Silent || (O.SilentAfter >= 0 && Answered >= O.SilentAfter) ||
        (O.NoVersion && Command.Letter == 'V')) {
        Log.Note("silent, not answered");
        return;
    }
    const bool Faulty = O.FaultApplies(Command.Letter, Answered + 1);
    const std::string Reply = BuildReply(Command.Letter, ReplyData(Command.Letter), Faulty);
    ++Answered;

    const int Pieces = Faulty ? O.SplitPieces : 1;
    const std::int64_t Ready = NowNs() + (O.DelayMs + (Faulty ? O.LateMs : 0)) * NsPerMs;
    std::int64_t At = std::max(Ready, LastScheduled);
    const bool HeldBack = Ready < LastScheduled;
    const std::size_t Size = Reply.size() / static_cast<std::size_t>(Pieces);
    std::size_t Start = 0;
    for (int I = 0; I < Pieces && Start < Reply.size(); ++I) {
        const std::size_t Length = I + 1 == Pieces ? Reply.size() - Start : std::max<std::size_t>(Size, 1);
        Schedule(Reply.substr(Start, Length), At);
        Start += Length;
        At += O.SplitGapMs * NsPerMs;
    }
    // The next reply keeps one more gap after the last piece, so that a client reading at
    // intervals shorter than the gap never finds the end of a split reply and the next reply
    // together; a reply held back behind a split one keeps the gap too, so that two commands
    // that came during a split reply are not answered in one burst.
    if (Pieces > 1 || HeldBack)
        LastScheduled = std::max(LastScheduled, At);
}

std::string TSimulator::ReplyData(char Letter) {
    switch (Letter) {
    case 'B':
        return O.FactoryCode;
    case 'V':
        return O.Version;
    case 'F':
        if (NextCard >= O.Cards.size()) {
            if (!O.Cycle || O.Cards.empty())
                return {};
            NextCard = 0;
        }
        return O.Cards[NextCard++];
    default:
        return {};
    }
}

std::string TSimulator::BuildReply(char Letter, std::string Data, bool Faulty) {
    if (Faulty && O.Oversize > 0 && Data.size() + 8 < static_cast<std::size_t>(O.Oversize)) {
        while (Data.size() + 8 < static_cast<std::size_t>(O.Oversize))
            Data += static_cast<char>('0' + Data.size() % 10);
    }
    std::string Frame = BuildReplyFrame('0', O.ModuleID, Letter, Data);
    const std::size_t Bcc = Frame.size() - 3;
    if (Faulty && O.LowerBCC) {
        // Digits alone look the same in either case; the status character is free to choose.
        for (char Status = '0'; Status <= 'Z'; ++Status) {
            Frame = BuildReplyFrame(Status, O.ModuleID, Letter, Data);
            if (Frame[Bcc] >= 'A' || Frame[Bcc + 1] >= 'A')
                break;
        }
        for (std::size_t I = Bcc; I < Bcc + 2; ++I)
            Frame[I] = static_cast<char>(std::tolower(static_cast<unsigned char>(Frame[I])));
    }
    if (Faulty && O.BadBCC) {
        const unsigned Value = std::strtoul(Frame.substr(Bcc, 2).c_str(), nullptr, 16) ^ 0x5Au;
        const std::string Wrong = GetBCC(std::string(1, static_cast<char>(Value)));
        Frame.replace(Bcc, 2, Wrong);
    }
    if (Faulty && O.Junk > 0) {
        // Printable junk: never a line feed (which would start a reply) nor a null (which is dropped).
        std::string Junk;
        for (int I = 0; I < O.Junk; ++I)
            Junk += static_cast<char>('!' + (I * 37) % 90);
        Frame.insert(0, Junk);
    }
    return Frame;
}

void TSimulator::Schedule(const std::string& Bytes, std::int64_t At) {
    Pending.emplace(At, Bytes);
    LastScheduled = std::max(LastScheduled, At);
}

void TSimulator::WriteDue(std::int64_t Now) {
    while (!LineClosed && !Pending.empty() && Pending.begin()->first <= Now) {
        const std::string Bytes = std::move(Pending.begin()->second);
        Pending.erase(Pending.begin());
        const ssize_t N = write(Master.Get(), Bytes.data(), Bytes.size());
        if (N < 0 && errno != EAGAIN) {
            Log.Note(std::string("write failed: ") + std::strerror(errno));
            continue;
        }
        const std::size_t Done = static_cast<std::size_t>(std::max<ssize_t>(N, 0));
        if (Done > 0)
            Log.Frame("TX", std::string_view(Bytes).substr(0, Done));
        // The client is not reading: keep the rest for a moment later, in its place.
        if (Done < Bytes.size()) {
            Pending.emplace_hint(Pending.begin(), Now + 5 * NsPerMs, Bytes.substr(Done));
            return;
        }
    }
}

void TSimulator::CloseLine(const std::string& Why) {
    Log.Note(Why + ": line closed");
    Slave.Reset();
    Master.Reset();
    Unplug();
    LineClosed = true;
}

int TSimulator::Run() {
    const auto Rate = SpeedOf(O.Baud);
    if (!Rate) {
        std::fprintf(stderr, "reader-sim: unsupported baud rate %u\n", O.Baud);
        return 2;
    }
    Speed = *Rate;
    Log.Open(O.LogPath);
    OpenLine();
    PlugLink();
    if (!O.Lifeline.empty()) {
        // Opened before anyone can know of it, so the writer's open never waits for a reader.
        unlink(O.Lifeline.c_str());
        if (mkfifo(O.Lifeline.c_str(), 0600) != 0)
            Die("cannot make " + O.Lifeline);
        Lifeline.Reset(open(O.Lifeline.c_str(), O_RDONLY | O_NONBLOCK));
        if (Lifeline.Get() < 0)
            Die("cannot open " + O.Lifeline);
    }
    std::printf("READY %s\n", DevicePath.c_str());
    std::fflush(stdout);
    Log.Note("ready on " + DevicePath + " at " + std::to_string(O.Baud));

    const std::int64_t Start = NowNs();
    const std::int64_t End = Start + static_cast<std::int64_t>(O.MaxSeconds * 1e9);
    const std::int64_t CloseAt = O.CloseAfterMs >= 0 ? Start + O.CloseAfterMs * NsPerMs : INT64_MAX;
    std::int64_t NextTick = Start;
    std::string Reason = "stopped";
    bool ReportedHangup = false;

    while (!LineClosed) {
        if (StopSignal) {
            Reason = "signal " + std::to_string(StopSignal);
            break;
        }
        const std::int64_t Now = NowNs();
        if (Now >= End) {
            Reason = "time limit";
            break;
        }
        if (Now >= CloseAt) {
            CloseLine("closed after " + std::to_string(O.CloseAfterMs) + " ms");
            break;
        }
        if (Now >= NextTick) {
            ClearParity();
            if (!O.StopFile.empty() && access(O.StopFile.c_str(), F_OK) == 0) {
                Reason = "stop file";
                break;
            }
            NextTick = Now + TickNs;
        }
        WriteDue(Now);
        if (LineClosed)
            break;

        std::int64_t Wake = std::min({NextTick, End, CloseAt});
        if (!Pending.empty())
            Wake = std::min(Wake, Pending.begin()->first);
        const std::int64_t Wait = std::max<std::int64_t>(Wake - NowNs(), 0);
        const timespec Timeout{static_cast<time_t>(Wait / 1'000'000'000),
                               static_cast<long>(Wait % 1'000'000'000)};
        // A FIFO reports a hang-up only once a writer has come and gone.
        pollfd Fds[2] = {{Master.Get(), POLLIN, 0}, {Lifeline.Get(), POLLIN, 0}};
        const int Ready = ppoll(Fds, Lifeline.Get() >= 0 ? 2 : 1, &Timeout, nullptr);
        if (Ready < 0) {
            if (errno == EINTR)
                continue;
            Die("poll");
        }
        if (Fds[1].revents & (POLLERR | POLLHUP)) {
            Reason = "lifeline closed";
            break;
        }
        if (Fds[0].revents & POLLIN) {
            char Buffer[4096];
            const ssize_t N = read(Master.Get(), Buffer, sizeof Buffer);
            if (N > 0)
                OnBytes(std::string_view(Buffer, static_cast<std::size_t>(N)));
        } else if (Fds[0].revents & (POLLHUP | POLLERR)) {
            // A serial device that went away; wait for the stop conditions without spinning.
            if (!ReportedHangup)
                Log.Note("line hung up");
            ReportedHangup = true;
            usleep(20'000);
        }
    }
    if (!LineClosed) {
        Log.Note(Reason);
        Unplug();
    }
    if (Lifeline.Get() >= 0) {
        Lifeline.Reset();
        unlink(O.Lifeline.c_str());
    }
    Log.Note("exit");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    TSimOptions Options = ParseSimOptions(argc, argv);

    // Never outlive the test or script that started us. A program that Wine starts is detached
    // (its parent exits at once), so the Windows tests hold a lifeline instead.
    if (Options.Lifeline.empty()) {
        const pid_t Parent = getppid();
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != Parent)
            return 0;
    }
    struct sigaction Action {};
    Action.sa_handler = OnSignal;
    sigaction(SIGTERM, &Action, nullptr);
    sigaction(SIGINT, &Action, nullptr);
    sigaction(SIGHUP, &Action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    return TSimulator(std::move(Options)).Run();
}
