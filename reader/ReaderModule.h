#pragma once
// The module's side of the protocol: reply frames, and command frames taken out of a byte stream.
// Cardwick itself never needs this; reader-sim and the tests that play the module do.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// "\n" + Status + ModuleID + ReplyCode + Data + BCC + "\r". Status is the character the program
// does not examine.
std::string BuildReplyFrame(char Status, std::string_view ModuleID, char ReplyCode, std::string_view Data);

struct TCommandEvent {
    enum TKind {
        Command,  // a complete frame with a matching BCC
        BadFrame, // a complete frame that is too short or fails its BCC
        Stray,    // bytes outside any frame, or a partial frame that a new tab abandoned
    };
    TKind Kind = Stray;
    std::string Bytes; // exactly as received
    char Letter = 0;   // Command only
    std::string Data;  // Command only
};

// Splits received bytes into command frames: a tab begins a frame, a carriage return ends it.
class TCommandReader {
public:
    // A frame that grows past this without ending is dropped as stray bytes, so line noise
    // cannot make the reader grow without bound.
    static constexpr std::size_t MaxCommandLength = 1024;

    std::vector<TCommandEvent> Feed(std::string_view Received);

private:
    std::string Partial;
    std::string StrayBytes;
    bool InFrame = false;

    void FlushStray(std::vector<TCommandEvent>& Events);
    void Complete(std::vector<TCommandEvent>& Events);
};
