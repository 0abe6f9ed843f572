// A Win32 failure in the component layer says why: the system's own reason travels with the error.
#include "kit/Controls.h"
#include "kit/Forms.h"
#include "kit/Win32Error.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A control of a window class that nobody registered: making its window fails for real.
class TUnregisteredControl : public TControl {
public:
    using TControl::TControl;

protected:
    void CreateParams(TCreateParams& Params) const override {
        TControl::CreateParams(Params);
        Params.ClassName = "Cardwick.NoSuchClass";
    }
};

// The system's text for a code, read here on its own rather than through the class under test.
std::string SystemText(DWORD Code) {
    char Text[512];
    DWORD Length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, Code,
                                  0, Text, sizeof Text, nullptr);
    while (Length > 0 && (Text[Length - 1] == '\r' || Text[Length - 1] == '\n' || Text[Length - 1] == ' '))
        --Length;
    return std::string(Text, Length);
}

TEST(KitWin32Error, AWindowThatCannotBeMadeCarriesTheSystemsReason) {
    TForm Form(nullptr);
    Form.Handle();
    TUnregisteredControl Control(nullptr);
    Control.SetName("Orphan");
    try {
        Control.SetParent(&Form);
        FAIL() << "a window of an unregistered class was made";
    } catch (const EWin32Error& E) {
        // Windows says it cannot find the window class; Wine, that the class does not exist.
        EXPECT_TRUE(E.ErrorCode() == ERROR_CANNOT_FIND_WND_CLASS ||
                    E.ErrorCode() == ERROR_CLASS_DOES_NOT_EXIST)
            << E.ErrorCode();
        const std::string Reason = SystemText(E.ErrorCode());
        ASSERT_FALSE(Reason.empty());
        const std::string What = E.what();
        // The layer's own words first, as before, then the system's.
        EXPECT_EQ(What, "Cannot create the window of 'Orphan': " + Reason + " (error " +
                            std::to_string(E.ErrorCode()) + ")");
    }
    EXPECT_FALSE(Control.HandleAllocated());
}

} // namespace
