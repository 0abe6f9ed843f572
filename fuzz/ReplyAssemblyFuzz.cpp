// libFuzzer target for reply assembly. The input is a run of receive events, each a length byte
// followed by that many bytes (the last one takes what is left). After every step the outcome must
// agree with the buffer it leaves, and the buffer must stay within its bound.

#include "reader/ReaderProtocol.h"
#include "reader/ReplyAssembler.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Require(bool Condition) {
    if (!Condition)
        std::abort();
}

void CheckStep(const std::string& Before, const std::string& Event, const TReplyStep& Step,
               const std::string& After) {
    Require(After.size() <= MaxReplyLength);
    Require(After.find('\0') == std::string::npos);
    switch (Step.Outcome) {
    case ReplyOutcome::Nothing:
        Require(Event.find_first_not_of('\0') == std::string::npos);
        Require(After == Before);
        break;
    case ReplyOutcome::Incomplete:
        Require(!After.empty() && After.front() == ReplyStart && After.back() != FrameEnd);
        break;
    case ReplyOutcome::Discarded:
    case ReplyOutcome::CheckFailed:
        Require(After.empty());
        break;
    case ReplyOutcome::Frame: {
        const std::size_t L = After.size();
        Require(L >= 4 && After.front() == ReplyStart && After.back() == FrameEnd);
        Require(After.substr(L - 3, 2) == GetBCC(After.substr(0, L - 3)));
        Require(Step.Frame.ModuleID == After.substr(2, 2));
        Require(Step.Frame.ReplyCode == (L >= 5 ? After.substr(4, 1) : ""));
        Require(Step.Frame.Data == (L > 8 ? After.substr(5, L - 8) : ""));
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    std::string ReplyBuffer;
    std::size_t At = 0;
    while (At < Size) {
        const std::size_t Length = std::min<std::size_t>(Data[At], Size - At - 1);
        ++At;
        const std::string Event(reinterpret_cast<const char*>(Data + At), Length);
        At += Length;
        const std::string Before = ReplyBuffer;
        const TReplyStep Step = AssembleReply(ReplyBuffer, Event.data(), Event.size());
        CheckStep(Before, Event, Step, ReplyBuffer);
        // The reader link empties the buffer once it has acted on a frame.
        if (Step.Outcome == ReplyOutcome::Frame)
            ReplyBuffer.clear();
    }
    return 0;
}
