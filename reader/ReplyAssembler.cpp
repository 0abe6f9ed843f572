#include "reader/ReplyAssembler.h"

#include "reader/ReaderProtocol.h"

namespace {

TReplyStep Outcome(ReplyOutcome Value) {
    TReplyStep Step;
    Step.Outcome = Value;
    return Step;
}

} // namespace

TReplyStep AssembleReply(std::string& ReplyBuffer, const void* DataPtr, std::size_t DataSize) {
    // Null bytes are line noise, never part of a frame nor covered by its check.
    const char* Received = static_cast<const char*>(DataPtr);
    std::string Work;
    Work.reserve(DataSize);
    for (std::size_t I = 0; I < DataSize; ++I)
        if (Received[I] != '\0')
            Work += Received[I];
    if (Work.empty())
        return Outcome(ReplyOutcome::Nothing);

    // Only a line feed at the start of an event begins a reply; a partial frame held before is
    // abandoned without a word.
    if (Work.front() == ReplyStart)
        ReplyBuffer = std::move(Work);
    else
        ReplyBuffer += Work;

    if (ReplyBuffer.size() > MaxReplyLength || ReplyBuffer.front() != ReplyStart) {
        ReplyBuffer.clear();
        return Outcome(ReplyOutcome::Discarded);
    }
    // Only the last character ends a frame: a carriage return inside it does not.
    if (ReplyBuffer.back() != FrameEnd)
        return Outcome(ReplyOutcome::Incomplete);

    const std::size_t L = ReplyBuffer.size();
    const std::string_view Buffer = ReplyBuffer;
    if (L < 4 || Buffer.substr(L - 3, 2) != GetBCC(Buffer.substr(0, L - 3))) {
        ReplyBuffer.clear();
        return Outcome(ReplyOutcome::CheckFailed);
    }

    TReplyStep Step = Outcome(ReplyOutcome::Frame);
    Step.Frame.ModuleID = Buffer.substr(2, 2);
    if (L >= 5)
        Step.Frame.ReplyCode = Buffer.substr(4, 1);
    if (L > 8)
        Step.Frame.Data = Buffer.substr(5, L - 8);
    return Step;
}
