#include "settings/SettingText.h"

#include "kit/Exceptions.h"

namespace {

bool IsBlank(char C) {
    return C == ' ' || C == '\t';
}

int DigitValue(char C, unsigned Base) {
    if (C >= '0' && C <= '9')
        return C - '0';
    if (Base == 16 && C >= 'a' && C <= 'f')
        return C - 'a' + 10;
    if (Base == 16 && C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    return -1;
}

} // namespace

bool TryStrToInt(std::string_view Text, int32_t& Value) {
    size_t I = 0;
    while (I < Text.size() && IsBlank(Text[I]))
        ++I;

    bool Negative = false;
    if (I < Text.size() && (Text[I] == '+' || Text[I] == '-')) {
        Negative = Text[I] == '-';
        ++I;
    }

    unsigned Base = 10;
    if (I < Text.size() && (Text[I] == '$' || Text[I] == 'x' || Text[I] == 'X')) {
        Base = 16;
        ++I;
    } else if (I + 1 < Text.size() && Text[I] == '0' && (Text[I + 1] == 'x' || Text[I + 1] == 'X')) {
        Base = 16;
        I += 2;
    }
    if (I == Text.size())
        return false;

    // A hexadecimal text spells the 32 bits themselves, so "$FFFFFFFF" is -1; a decimal one must
    // fit the signed range.
    const uint64_t Limit = Base == 16 ? 0xFFFFFFFFu : (Negative ? 2147483648u : 2147483647u);
    uint64_t Magnitude = 0;
    for (; I < Text.size(); ++I) {
        const int Digit = DigitValue(Text[I], Base);
        if (Digit < 0)
            return false;
        Magnitude = Magnitude * Base + static_cast<unsigned>(Digit);
        // Checked per digit: the magnitude never gets near 64 bits, however many digits follow.
        if (Magnitude > Limit)
            return false;
    }

    uint32_t Bits = static_cast<uint32_t>(Magnitude);
    if (Negative)
        Bits = 0u - Bits;
    Value = static_cast<int32_t>(Bits);
    return true;
}

int StrToInt(const std::string& Text) {
    int32_t Value = 0;
    if (!TryStrToInt(Text, Value))
        throw EConvertError("'" + Text + "' is not a valid integer value");
    return Value;
}

bool SettingTextToBool(std::string_view Text, bool Default) {
    int32_t Value = 0;
    if (!TryStrToInt(Text, Value))
        return Default;
    return Value != 0;
}
