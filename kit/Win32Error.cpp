#include "kit/Win32Error.h"

namespace {

std::string Describe(DWORD Code, const std::string& What) {
    // A call that failed without saying why leaves 0, whose text ("completed successfully") would
    // mislead.
    if (Code == ERROR_SUCCESS)
        return What;
    const std::string Reason = EWin32Error::SystemMessage(Code);
    const std::string Number = "(error " + std::to_string(Code) + ")";
    return Reason.empty() ? What + " " + Number : What + ": " + Reason + " " + Number;
}

} // namespace

EWin32Error::EWin32Error(DWORD Code, const std::string& What)
    : Exception(Describe(Code, What)), FErrorCode(Code) {}

std::string EWin32Error::SystemMessage(DWORD Code) {
    char Text[512];
    const DWORD Length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        Code, 0, Text, sizeof Text, nullptr);
    std::string Message(Text, Length);
    while (!Message.empty() && (Message.back() == '\r' || Message.back() == '\n' || Message.back() == ' '))
        Message.pop_back();
    return Message;
}
