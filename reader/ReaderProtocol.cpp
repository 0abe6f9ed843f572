#include "reader/ReaderProtocol.h"

std::string GetBCC(std::string_view Text) {
    unsigned char Value = 0;
    for (char C : Text)
        Value ^= static_cast<unsigned char>(C);
    static constexpr char Digits[] = "0123456789ABCDEF";
    return {Digits[Value >> 4], Digits[Value & 0x0F]};
}

std::string BuildCommandFrame(char Letter, std::string_view Data) {
    std::string Frame;
    Frame.reserve(CommandPrefix.size() + 1 + Data.size() + 3);
    Frame += CommandPrefix;
    Frame += Letter;
    Frame += Data;
    Frame += GetBCC(Frame);
    Frame += FrameEnd;
    return Frame;
}
