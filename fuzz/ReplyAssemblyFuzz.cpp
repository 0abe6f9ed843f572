// libFuzzer target for reply assembly. The input is a run of receive events, each a length byte
// followed by that many bytes (the last one takes what is left). Every step is replayed on a
// reference model written apart from the code under test, byte by byte and with its own block
// check, so that a wrong classification (a frame taken for a check failure, a lower-case check
// accepted, an off-by-one in the length bound) shows as a disagreement, not only as a broken
// invariant.

#include "reader/ReplyAssembler.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Require(bool Condition) {
    if (!Condition)
        std::abort();
}

// What one receive event should do, worked out without the protocol unit's helpers.
struct TModelStep {
    ReplyOutcome Outcome = ReplyOutcome::Nothing;
    std::string ModuleID;
    std::string ReplyCode;
    std::string Data;
};

class TReplyModel {
public:
    TModelStep Step(const std::string& Event) {
        std::string Kept;
        for (unsigned char Byte : Event)
            if (Byte != 0x00)
                Kept.push_back(static_cast<char>(Byte));
        TModelStep Result;
        if (Kept.empty())
            return Result;
        if (static_cast<unsigned char>(Kept[0]) == 0x0A)
            FBuffer = Kept;
        else
            FBuffer.append(Kept);
        if (FBuffer.length() >= 255 || static_cast<unsigned char>(FBuffer[0]) != 0x0A) {
            FBuffer.clear();
            Result.Outcome = ReplyOutcome::Discarded;
            return Result;
        }
        if (static_cast<unsigned char>(FBuffer[FBuffer.length() - 1]) != 0x0D) {
            Result.Outcome = ReplyOutcome::Incomplete;
            return Result;
        }
        const std::size_t L = FBuffer.length();
        if (L < 4 || !CheckMatches(L)) {
            FBuffer.clear();
            Result.Outcome = ReplyOutcome::CheckFailed;
            return Result;
        }
        Result.Outcome = ReplyOutcome::Frame;
        // Positions count from 1: module ID 3-4, code 5, data 6 .. L-3.
        Result.ModuleID = {FBuffer[2], FBuffer[3]};
        if (L >= 5)
            Result.ReplyCode = {FBuffer[4]};
        for (std::size_t Position = 6; L >= 3 && Position + 3 <= L; ++Position)
            Result.Data.push_back(FBuffer[Position - 1]);
        return Result;
    }

    const std::string& Buffer() const { return FBuffer; }
    void Clear() { FBuffer.clear(); }

private:
    bool CheckMatches(std::size_t L) const {
        unsigned Value = 0;
        for (std::size_t I = 0; I + 3 < L; ++I)
            Value ^= static_cast<unsigned char>(FBuffer[I]);
        char Expected[3];
        std::snprintf(Expected, sizeof Expected, "%02X", Value & 0xFF);
        return FBuffer[L - 3] == Expected[0] && FBuffer[L - 2] == Expected[1];
    }

    std::string FBuffer;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    std::string ReplyBuffer;
    TReplyModel Model;
    std::size_t At = 0;
    while (At < Size) {
        const std::size_t Length = std::min<std::size_t>(Data[At], Size - At - 1);
        ++At;
        const std::string Event(reinterpret_cast<const char*>(Data + At), Length);
        At += Length;
        const TReplyStep Step = AssembleReply(ReplyBuffer, Event.data(), Event.size());
        const TModelStep Expected = Model.Step(Event);
        Require(Step.Outcome == Expected.Outcome);
        Require(ReplyBuffer == Model.Buffer());
        if (Step.Outcome == ReplyOutcome::Frame) {
            Require(Step.Frame.ModuleID == Expected.ModuleID);
            Require(Step.Frame.ReplyCode == Expected.ReplyCode);
            Require(Step.Frame.Data == Expected.Data);
            // The reader link empties the buffer once it has acted on a frame.
            ReplyBuffer.clear();
            Model.Clear();
        }
    }
    return 0;
}
