#pragma once
// Reply assembly: one step per receive event of the serial driver. The assembled text lives in a
// buffer the caller owns (the main window keeps it at unit level beside its other reader link
// data), so a step takes it by reference and leaves it as the outcome says.

#include <cstddef>
#include <string>
#include <string_view>

enum class ReplyOutcome {
    Nothing,     // the received bytes were all 0x00; the buffer is unchanged
    Incomplete,  // a frame has begun but does not end in 0x0D yet; the buffer holds it so far
    Discarded,   // too long, or not beginning with 0x0A; the buffer is empty
    CheckFailed, // complete, but the BCC does not match; the buffer is empty
    Frame,       // complete and checked; the buffer still holds it until the caller has acted
};

// The fields of a checked reply frame, held as opaque text.
struct TReplyFrame {
    std::string ModuleID;  // positions 3-4
    std::string ReplyCode; // position 5, or empty for a frame too short to carry one
    std::string Data;      // positions 6 .. L-3, empty when L is 8 or less
};

struct TReplyStep {
    ReplyOutcome Outcome = ReplyOutcome::Nothing;
    TReplyFrame Frame; // filled for ReplyOutcome::Frame only
};

// Runs one assembly step over DataSize received bytes.
TReplyStep AssembleReply(std::string& ReplyBuffer, const void* DataPtr, std::size_t DataSize);

inline TReplyStep AssembleReply(std::string& ReplyBuffer, std::string_view Received) {
    return AssembleReply(ReplyBuffer, Received.data(), Received.size());
}
