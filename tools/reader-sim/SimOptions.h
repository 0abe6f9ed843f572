#pragma once
// reader-sim's command line: who the simulated module is, how fast it answers, and which faults
// it shows.

#include <string>
#include <vector>

struct TSimOptions {
    std::string Device;   // an existing serial device instead of a new pty
    std::string Link;     // symlink pointed at the pty while running
    std::string LogPath;  // one line per frame, both directions
    std::string StopFile; // ends the run when it appears
    double MaxSeconds = 900;
    std::string Lifeline; // a FIFO made here; the run ends once its writer has closed it

    unsigned Baud = 19200;
    std::string ModuleID = "01";
    std::string FactoryCode = "30571846";
    std::string Version = "2.31";
    std::vector<std::string> Cards; // the card script, in order; an empty entry is a poll without card
    bool Cycle = false;
    int DelayMs = 5;

    // Faults.
    bool Silent = false;
    long SilentAfter = -1;
    bool NoVersion = false;
    bool BadBCC = false;
    bool LowerBCC = false;
    int SplitPieces = 1;
    int SplitGapMs = 50;
    int Junk = 0;
    int Oversize = 0;
    int LateMs = 0;
    long CloseAfter = -1;
    long CloseAfterMs = -1;
    std::string FaultLetters;       // the reply faults touch only replies to these commands; empty: all
    std::vector<long> FaultReplies; // ... and only these replies, numbered from 1; empty: all

    bool FaultApplies(char Letter, long ReplyNumber) const;
};

// Parses argv; prints the help or an error and exits on --help or a bad argument.
TSimOptions ParseSimOptions(int argc, char** argv);
