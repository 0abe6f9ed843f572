#include "ui/HyperlinkLabel.h"

#include "kit/Exceptions.h"

#include <cstdint>

THyperlinkShell HyperlinkShell;

THyperlinkLabel::THyperlinkLabel(TComponent* AOwner) : TLabel(AOwner) {
    Font()->SetColor(clBlue);
    Font()->SetStyle(TFontStyles{fsUnderline});
    SetCursor(crHandPoint);
    SetClickedHyperlinkColor(clPurple);
    SetUseClickedHyperlinkColor(true);
    SetHoverColor(clRed);
    SetUseHoverColor(true);
    SetHoverFontStyle(TFontStyles{fsUnderline});
    SetUseHoverFontStyle(false);
}

void THyperlinkLabel::Click() {
    TLabel::Click();
    Navigate();
}

void THyperlinkLabel::Navigate() {
    if (!Parent())
        throw Exception("THyperlinkLabel.Navigate() Parent must be assigned.");
    const std::string Address = FHyperlinkPrefix + (FTargetURL.empty() ? Caption() : FTargetURL);
    HINSTANCE Result =
        HyperlinkShell.Execute(Parent()->Handle(), "open", Address.c_str(), nullptr, nullptr, SW_SHOW);
    // The shell's old convention: a value above 32 is success, anything else an error code.
    if (reinterpret_cast<std::intptr_t>(Result) > 32 && FUseClickedHyperlinkColor) {
        // The saved colour too, so that leaving the label keeps the visited colour.
        FSavedColor = FClickedHyperlinkColor;
        Font()->SetColor(FClickedHyperlinkColor);
    }
}

void THyperlinkLabel::MouseEnter() {
    // Saved whatever the flags say: a flag switched on while the pointer is inside still finds the
    // colour to go back to.
    FSavedColor = Font()->Color();
    FSavedFontStyle = Font()->Style();
    if (FUseHoverColor)
        Font()->SetColor(FHoverColor);
    if (FUseHoverFontStyle)
        Font()->SetStyle(FHoverFontStyle);
    TLabel::MouseEnter();
}

void THyperlinkLabel::MouseLeave() {
    if (FUseHoverColor)
        Font()->SetColor(FSavedColor);
    if (FUseHoverFontStyle)
        Font()->SetStyle(FSavedFontStyle);
    TLabel::MouseLeave();
}
