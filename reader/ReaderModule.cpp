#include "reader/ReaderModule.h"

#include "reader/ReaderProtocol.h"

std::string BuildReplyFrame(char Status, std::string_view ModuleID, char ReplyCode, std::string_view Data) {
    std::string Frame;
    Frame += ReplyStart;
    Frame += Status;
    Frame += ModuleID;
    Frame += ReplyCode;
    Frame += Data;
    Frame += GetBCC(Frame);
    Frame += FrameEnd;
    return Frame;
}

std::vector<TCommandEvent> TCommandReader::Feed(std::string_view Received) {
    std::vector<TCommandEvent> Events;
    for (char C : Received) {
        if (C == CommandStart) {
            if (InFrame)
                StrayBytes += Partial;
            FlushStray(Events);
            Partial.assign(1, C);
            InFrame = true;
        } else if (!InFrame) {
            StrayBytes += C;
        } else {
            Partial += C;
            if (C == FrameEnd) {
                Complete(Events);
            } else if (Partial.size() > MaxCommandLength) {
                StrayBytes += Partial;
                Partial.clear();
                InFrame = false;
            }
        }
    }
    FlushStray(Events);
    return Events;
}

void TCommandReader::FlushStray(std::vector<TCommandEvent>& Events) {
    if (StrayBytes.empty())
        return;
    TCommandEvent Event;
    Event.Kind = TCommandEvent::Stray;
    Event.Bytes = std::move(StrayBytes);
    StrayBytes.clear();
    Events.push_back(std::move(Event));
}

void TCommandReader::Complete(std::vector<TCommandEvent>& Events) {
    FlushStray(Events);
    TCommandEvent Event;
    Event.Bytes = std::move(Partial);
    Partial.clear();
    InFrame = false;
    // Tab, "A", two address characters, letter, BCC, carriage return: 8 bytes at least. The
    // address is not checked: the module answers whatever address the program uses.
    const std::string_view Frame = Event.Bytes;
    const std::size_t L = Frame.size();
    if (L >= 8 && Frame.substr(L - 3, 2) == GetBCC(Frame.substr(0, L - 3))) {
        Event.Kind = TCommandEvent::Command;
        Event.Letter = Frame[4];
        Event.Data = Frame.substr(5, L - 8);
    } else {
        Event.Kind = TCommandEvent::BadFrame;
    }
    Events.push_back(std::move(Event));
}
