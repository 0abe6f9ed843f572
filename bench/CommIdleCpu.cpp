// CPU cost of an open, idle serial driver: reader-sim on the port, nothing sent, receive ticks
// every 200 ms, the message loop blocking between them. Prints a table and one JSON line.
//
// Three views of the same interval: the process times Wine reports (GetProcessTimes), the Linux
// process behind them (/proc/self/stat through Wine's Z: drive), and the wineserver, which does
// part of the work of every timer and port query on the program's behalf.
#include "comm/CPDrv.h"
#include "kit/Application.h"
#include "tests/win/support/ReaderSim.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

double FileTimeMs(FILETIME F) {
    return (double(F.dwHighDateTime) * 4294967296.0 + F.dwLowDateTime) / 10000.0;
}

double ProcessCpuMs() {
    FILETIME Create, Exit, Kernel, User;
    GetProcessTimes(GetCurrentProcess(), &Create, &Exit, &Kernel, &User);
    return FileTimeMs(Kernel) + FileTimeMs(User);
}

// utime + stime of a Linux process in milliseconds, or -1 when it cannot be read.
double LinuxCpuMs(const std::string& Pid) {
    std::ifstream Stat("Z:\\proc\\" + Pid + "\\stat");
    std::string Text;
    if (!std::getline(Stat, Text))
        return -1;
    // Fields after the command name, which is in parentheses and may hold spaces.
    std::istringstream Fields(Text.substr(Text.rfind(')') + 2));
    std::string Field;
    unsigned long long UTime = 0, STime = 0;
    for (int I = 3; I <= 15 && Fields >> Field; ++I) {
        if (I == 14)
            UTime = std::strtoull(Field.c_str(), nullptr, 10);
        if (I == 15)
            STime = std::strtoull(Field.c_str(), nullptr, 10);
    }
    return (UTime + STime) * 10.0; // USER_HZ is 100 on Linux
}

// The wineserver of this prefix: other prefixes on the machine have their own.
std::string WineserverPid() {
    char Prefix[MAX_PATH] = {};
    GetEnvironmentVariableA("WINEPREFIX", Prefix, sizeof(Prefix));
    const std::string Wanted = std::string("WINEPREFIX=") + Prefix;
    WIN32_FIND_DATAA Found;
    HANDLE Find = FindFirstFileA("Z:\\proc\\*", &Found);
    if (Find == INVALID_HANDLE_VALUE)
        return {};
    std::string Pid;
    do {
        std::string Name = Found.cFileName;
        if (Name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream Comm("Z:\\proc\\" + Name + "\\comm");
        std::string Command;
        if (!std::getline(Comm, Command) || Command.rfind("wineserver", 0) != 0)
            continue;
        std::ifstream Environ("Z:\\proc\\" + Name + "\\environ", std::ios::binary);
        std::string Variable;
        while (std::getline(Environ, Variable, '\0'))
            if (Variable == Wanted) {
                Pid = Name;
                break;
            }
        if (!Pid.empty())
            break;
    } while (FindNextFileA(Find, &Found));
    FindClose(Find);
    return Pid;
}

} // namespace

int main(int argc, char** argv) {
    const double Seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
    const std::uint16_t PollingDelay = 200;

    TReaderSim Sim("COM5");
    TCommPortDriver Comm(nullptr);
    Comm.SetPortName(Sim.DevicePath());
    Comm.SetBaudRateValue(19200);
    Comm.SetParity(ptEVEN);
    Comm.SetHwFlow(hfNONE);
    Comm.SetPollingDelay(PollingDelay);
    unsigned long Ticks = 0, Events = 0;
    Comm.CommStatusQuery = [&](HANDLE H, DWORD* E, COMSTAT* S) {
        ++Ticks;
        return ClearCommError(H, E, S);
    };
    Comm.OnReceiveData = TReceiveDataEvent::Function([&](TObject*, void*, std::uint32_t) { ++Events; });
    if (!Comm.Connect()) {
        std::fprintf(stderr, "cannot open %s\n", Sim.DevicePath().c_str());
        return 1;
    }

    const std::string Server = WineserverPid();
    const double Cpu0 = ProcessCpuMs(), Linux0 = LinuxCpuMs("self"), Server0 = LinuxCpuMs(Server);
    const DWORD Start = GetTickCount(), Duration = static_cast<DWORD>(Seconds * 1000);
    for (;;) {
        const DWORD Elapsed = GetTickCount() - Start;
        if (Elapsed >= Duration)
            break;
        Application->ProcessMessages();
        Application->WaitForMessage(Duration - Elapsed);
    }
    const double WallMs = GetTickCount() - Start;
    const double CpuMs = ProcessCpuMs() - Cpu0, LinuxMs = LinuxCpuMs("self") - Linux0;
    const double ServerMs = Server.empty() ? -1 : LinuxCpuMs(Server) - Server0;
    Comm.Disconnect();

    const double Expected = WallMs / PollingDelay;
    std::printf("open idle driver, PollingDelay %u ms, %.1f s\n", PollingDelay, WallMs / 1000);
    std::printf("%-34s %10s %10s\n", "measure", "cpu ms", "% of core");
    std::printf("%-34s %10.1f %10.3f\n", "process (GetProcessTimes)", CpuMs, 100 * CpuMs / WallMs);
    std::printf("%-34s %10.1f %10.3f\n", "process (/proc/self/stat)", LinuxMs, 100 * LinuxMs / WallMs);
    if (ServerMs >= 0)
        std::printf("%-34s %10.1f %10.3f\n", "wineserver of the prefix (/proc)", ServerMs,
                    100 * ServerMs / WallMs);
    std::printf("receive ticks %lu (expected about %.0f), events %lu\n", Ticks, Expected, Events);
    std::printf("{\"bench\":\"comm_idle_cpu\",\"polling_delay_ms\":%u,\"wall_ms\":%.0f,\"ticks\":%lu,"
                "\"events\":%lu,\"process_cpu_ms\":%.1f,\"process_cpu_ratio\":%.5f,\"linux_cpu_ms\":%.1f,"
                "\"linux_cpu_ratio\":%.5f,\"wineserver_cpu_ms\":%.1f,\"wineserver_cpu_ratio\":%.5f}\n",
                PollingDelay, WallMs, Ticks, Events, CpuMs, CpuMs / WallMs, LinuxMs, LinuxMs / WallMs,
                ServerMs, ServerMs >= 0 ? ServerMs / WallMs : -1.0);
    std::fflush(stdout);
    return 0;
}
