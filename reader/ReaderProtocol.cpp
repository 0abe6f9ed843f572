#include "reader/ReaderProtocol.h"

std::string GetBCC(std::string_view Text) {
    unsigned char Value = 0;
    for (char C : Text)
        Value ^= static_cast<unsigned char>(C);
    static constexpr char Digits[] = "0123456789ABCDEF";
    return {Digits[Value >> 4], Digits[Value & 0x0F]};
}

std::string HexBytes(std::string_view Bytes) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string Text;
    Text.reserve(Bytes.size() * 3);
    for (unsigned char C : Bytes) {
        if (!Text.empty())
            Text += ' ';
        Text += Digits[C >> 4];
        Text += Digits[C & 0x0F];
    }
    return Text;
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
