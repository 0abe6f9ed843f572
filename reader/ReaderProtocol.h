#pragma once
// The byte-level language spoken with the reader module: the block check and the command frame.
// Pure logic on byte strings; the reader link sends what is built here through the serial driver.

#include <cstddef>
#include <string>
#include <string_view>

// Every command frame begins with a tab, the letter A and the two characters where a reply
// carries the module ID.
inline constexpr std::string_view CommandPrefix = "\tA00";
inline constexpr char CommandStart = '\t';
inline constexpr char ReplyStart = '\n';
inline constexpr char FrameEnd = '\r';

// The longest reply frame the assembly keeps; one more character and the buffer is discarded.
inline constexpr std::size_t MaxReplyLength = 254;

// XOR of every byte, as exactly two upper-case hexadecimal digits ("00" for an empty text).
std::string GetBCC(std::string_view Text);

// The bytes as upper-case hexadecimal pairs separated by blanks ("09 41 30 30"), as the wire logs
// and the tools show frames.
std::string HexBytes(std::string_view Bytes);

// "\tA00" + Letter + Data + BCC of all that + "\r". Data is copied unchanged, without escaping.
std::string BuildCommandFrame(char Letter, std::string_view Data);
