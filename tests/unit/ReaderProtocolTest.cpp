// The reader command protocol: frames as bytes on the wire, and reply assembly over receive events.

#include "reader/ReaderModule.h"
#include "reader/ReaderProtocol.h"
#include "reader/ReplyAssembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A reply with a correct BCC whose whole length is Length bytes.
std::string ReplyOfLength(std::size_t Length, char Code = 'F') {
    return BuildReplyFrame('0', "01", Code, std::string(Length - 8, '7'));
}

TEST(ReaderProtocol, BlockCheckIsTwoUpperCaseDigits) {
    EXPECT_EQ(GetBCC(""), "00");
    EXPECT_EQ(GetBCC("\x0A"), "0A");
    EXPECT_EQ(GetBCC("\xFF"), "FF");
    EXPECT_EQ(GetBCC("\xAB\xAB"), "00");
    EXPECT_EQ(GetBCC(std::string("\x01\x00\x02", 3)), "03");
    EXPECT_EQ(GetBCC("\tA00B"), "0A");
}

TEST(ReaderProtocol, CommandFramesAreTheBytesOnTheWire) {
    struct {
        char Letter;
        std::string Data;
        std::string Bytes;
    } const Cases[] = {
        {'B', "", "09 41 30 30 42 30 41 0D"},
        {'V', "", "09 41 30 30 56 31 45 0D"},
        {'F', "", "09 41 30 30 46 30 45 0D"},
        {'A', "X", "09 41 30 30 41 58 35 31 0D"},
        // Data goes out unchanged, frame characters included.
        {'A', "\r\n", "09 41 30 30 41 0D 0A 30 45 0D"},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(HexBytes(BuildCommandFrame(Case.Letter, Case.Data)), Case.Bytes)
            << Case.Letter << " " << Case.Data;
}

struct TAssemblyCase {
    const char* Name;
    std::vector<std::string> Events;
    std::vector<ReplyOutcome> Outcomes; // one per event
    std::string BufferAfter;
    TReplyFrame Frame; // checked when the last outcome is Frame
};

using O = ReplyOutcome;
using namespace std::string_literals;

const std::string CardReply = BuildReplyFrame('0', "07", 'F', "0012345678");

const TAssemblyCase AssemblyCases[] = {
    {"WholeReplyInOneEvent", {CardReply}, {O::Frame}, CardReply, {"07", "F", "0012345678"}},
    {"ThreePiecesHandledOnceAtTheLast",
     {CardReply.substr(0, 1), CardReply.substr(1, 6), CardReply.substr(7)},
     {O::Incomplete, O::Incomplete, O::Frame},
     CardReply,
     {"07", "F", "0012345678"}},
    {"NullBytesOnlyLeaveAPartialFrameAlone",
     {CardReply.substr(0, 5), "\0\0\0"s, CardReply.substr(5)},
     {O::Incomplete, O::Nothing, O::Frame},
     CardReply,
     {"07", "F", "0012345678"}},
    {"NullBytesInsideAFrameAreRemovedBeforeTheCheck",
     {"\0"s + CardReply.substr(0, 4) + "\0\0"s + CardReply.substr(4) + "\0"s},
     {O::Frame},
     CardReply,
     {"07", "F", "0012345678"}},
    // The block check of "\n001F123" is 4D: the same digits in lower case fail.
    {"UpperCaseBlockCheckPasses", {"\n001F1234D\r"}, {O::Frame}, "\n001F1234D\r", {"01", "F", "123"}},
    {"LowerCaseBlockCheckFails", {"\n001F1234d\r"}, {O::CheckFailed}, "", {}},
    {"WrongBlockCheckFails", {"\n001F12300\r"}, {O::CheckFailed}, "", {}},
    {"EightCharactersGiveEmptyData", {ReplyOfLength(8)}, {O::Frame}, ReplyOfLength(8), {"01", "F", ""}},
    {"LongestFrameIsAccepted",
     {ReplyOfLength(254)},
     {O::Frame},
     ReplyOfLength(254),
     {"01", "F", std::string(246, '7')}},
    {"OneCharacterLongerIsDiscarded", {ReplyOfLength(255)}, {O::Discarded}, "", {}},
    {"TooLongOverSeveralEvents",
     {ReplyOfLength(255).substr(0, 200), ReplyOfLength(255).substr(200)},
     {O::Incomplete, O::Discarded},
     "",
     {}},
    {"BytesAfterACompleteFrameKeepItOpenAndFailTheCheckLater",
     {CardReply + "\n00", "1B3057184673\r"},
     {O::Incomplete, O::CheckFailed},
     "",
     {}},
    {"BytesWithoutABeginningAreDiscarded", {"0012345678\r"}, {O::Discarded}, "", {}},
    {"LineFeedInsideAnEventStartsNothing", {"X" + CardReply}, {O::Discarded}, "", {}},
    {"LineFeedAtTheStartOfAnEventAbandonsAPartialFrame",
     {CardReply.substr(0, 9), CardReply},
     {O::Incomplete, O::Frame},
     CardReply,
     {"07", "F", "0012345678"}},
    {"CarriageReturnInsideDoesNotEndAFrame", {"\n00\r1F"}, {O::Incomplete}, "\n00\r1F", {}},
    {"TooShortToCarryABlockCheck", {"\n\r"}, {O::CheckFailed}, "", {}},
    // Four characters can check out; positions 3-4 are then the block check's last digit and the end.
    {"FourCharacterFrameHasNoReplyCode", {"\n0A\r"}, {O::Frame}, "\n0A\r", {"A\r", "", ""}},
    {"UnknownReplyCodeIsStillAFrame",
     {BuildReplyFrame('S', "42", 'A', "")},
     {O::Frame},
     BuildReplyFrame('S', "42", 'A', ""),
     {"42", "A", ""}},
};

class ReplyAssembly : public testing::TestWithParam<TAssemblyCase> {};

void PrintTo(const TAssemblyCase& Case, std::ostream* Out) {
    *Out << Case.Name;
}

TEST_P(ReplyAssembly, OutcomesAndBuffer) {
    const TAssemblyCase& Case = GetParam();
    ASSERT_EQ(Case.Events.size(), Case.Outcomes.size());
    std::string ReplyBuffer;
    TReplyStep Step;
    for (std::size_t I = 0; I < Case.Events.size(); ++I) {
        Step = AssembleReply(ReplyBuffer, Case.Events[I]);
        EXPECT_EQ(Step.Outcome, Case.Outcomes[I]) << "event " << I;
        EXPECT_LE(ReplyBuffer.size(), MaxReplyLength);
    }
    EXPECT_EQ(HexBytes(ReplyBuffer), HexBytes(Case.BufferAfter));
    if (Case.Outcomes.back() == O::Frame) {
        EXPECT_EQ(Step.Frame.ModuleID, Case.Frame.ModuleID);
        EXPECT_EQ(Step.Frame.ReplyCode, Case.Frame.ReplyCode);
        EXPECT_EQ(Step.Frame.Data, Case.Frame.Data);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReplyAssembly, testing::ValuesIn(AssemblyCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(ReplyAssembly, StepReadsExactlyTheCountGiven) {
    const std::string Frame = BuildReplyFrame('0', "01", 'B', "77");
    const std::string Block = Frame + "garbage beyond the count";
    std::string ReplyBuffer;
    EXPECT_EQ(AssembleReply(ReplyBuffer, Block.data(), Frame.size()).Outcome, ReplyOutcome::Frame);
    EXPECT_EQ(AssembleReply(ReplyBuffer, Block.data(), 0).Outcome, ReplyOutcome::Nothing);
}

TEST(ReaderModule, CommandsAreTakenFromAByteStream) {
    TCommandReader Reader;
    std::vector<TCommandEvent> Frames;
    std::string Stray;
    const std::string Stream = "noise" + BuildCommandFrame('B', "") +
                               BuildCommandFrame('A', "X").substr(0, 4) + BuildCommandFrame('A', "RUN") +
                               "\tA00F00\r";
    // Fed a byte at a time, as a slow line delivers it.
    for (char C : Stream)
        for (auto& Event : Reader.Feed(std::string(1, C)))
            if (Event.Kind == TCommandEvent::Stray)
                Stray += Event.Bytes;
            else
                Frames.push_back(std::move(Event));

    EXPECT_EQ(Stray, "noise\tA00"); // the abandoned start of a frame is stray too
    ASSERT_EQ(Frames.size(), 3u);
    EXPECT_EQ(Frames[0].Kind, TCommandEvent::Command);
    EXPECT_EQ(Frames[0].Letter, 'B');
    EXPECT_EQ(Frames[1].Kind, TCommandEvent::Command);
    EXPECT_EQ(Frames[1].Letter, 'A');
    EXPECT_EQ(Frames[1].Data, "RUN");
    EXPECT_EQ(Frames[2].Kind, TCommandEvent::BadFrame);
    EXPECT_EQ(Frames[2].Bytes, "\tA00F00\r");
}

TEST(ReaderModule, EndlessFrameIsDroppedNotHoarded) {
    TCommandReader Reader;
    auto Events = Reader.Feed("\tA00F" + std::string(TCommandReader::MaxCommandLength, 'x'));
    ASSERT_EQ(Events.size(), 1u);
    EXPECT_EQ(Events[0].Kind, TCommandEvent::Stray);
    Events = Reader.Feed(BuildCommandFrame('V', ""));
    ASSERT_EQ(Events.size(), 1u);
    EXPECT_EQ(Events[0].Letter, 'V');
}

} // namespace
