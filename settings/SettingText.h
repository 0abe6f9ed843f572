#pragma once
// The text rules of the settings file: how an integer or a boolean is read from a value's text.
// Pure code, shared by the settings file access and the main window's port settings.

#include <cstdint>
#include <string>
#include <string_view>

// Reads a whole text as a 32-bit integer: leading blanks (spaces, tabs), an optional sign, then
// decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X". Anything else, nothing
// at all, or a number outside 32 bits is refused: returns false and leaves Value as it was.
bool TryStrToInt(std::string_view Text, int32_t& Value);

// The same rule for a number the program needs: raises EConvertError ("'abc' is not a valid
// integer value") when the text is not one.
int StrToInt(const std::string& Text);

// A stored boolean: any non-zero integer is true, zero false, and a text that is not wholly an
// integer gives the reader's default.
bool SettingTextToBool(std::string_view Text, bool Default);

// How a boolean is stored: "1" or "0".
inline const char* BoolToSettingText(bool Value) {
    return Value ? "1" : "0";
}
