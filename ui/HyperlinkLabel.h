#pragma once
// THyperlinkLabel: a text label that reads as a web link. It changes colour (and, if asked, style)
// while the pointer is over it, opens its target through the shell when clicked, and from the
// first successful opening on shows a visited colour.

#include "kit/Controls.h"
#include "kit/Graphics.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

class THyperlinkLabel : public TLabel {
public:
    explicit THyperlinkLabel(TComponent* AOwner);

    // Published properties, in their designed order. Each setter only stores the value: the label
    // shows a change at the next hover or navigation.
    const std::string& TargetURL() const { return FTargetURL; } // default ""; empty opens the caption
    void SetTargetURL(const std::string& Value) { FTargetURL = Value; }
    const std::string& HyperlinkPrefix() const { return FHyperlinkPrefix; } // default ""
    void SetHyperlinkPrefix(const std::string& Value) { FHyperlinkPrefix = Value; }
    TColor ClickedHyperlinkColor() const { return FClickedHyperlinkColor; } // default clPurple
    void SetClickedHyperlinkColor(TColor Value) { FClickedHyperlinkColor = Value; }
    bool UseClickedHyperlinkColor() const { return FUseClickedHyperlinkColor; } // default true
    void SetUseClickedHyperlinkColor(bool Value) { FUseClickedHyperlinkColor = Value; }
    TColor HoverColor() const { return FHoverColor; } // default clRed
    void SetHoverColor(TColor Value) { FHoverColor = Value; }
    bool UseHoverColor() const { return FUseHoverColor; } // default true
    void SetUseHoverColor(bool Value) { FUseHoverColor = Value; }
    TFontStyles HoverFontStyle() const { return FHoverFontStyle; } // default [fsUnderline]
    void SetHoverFontStyle(TFontStyles Value) { FHoverFontStyle = Value; }
    bool UseHoverFontStyle() const { return FUseHoverFontStyle; } // default false
    void SetUseHoverFontStyle(bool Value) { FUseHoverFontStyle = Value; }

    // The label's click event first, then Navigate.
    void Click() override;
    // Opens HyperlinkPrefix + TargetURL (or + the caption when TargetURL is empty) with the user's
    // default handler. Raises Exception when the label has no parent: the shell needs an owner
    // window. A refusal of the shell is ignored and leaves the colour as it is.
    void Navigate();

protected:
    void MouseEnter() override;
    void MouseLeave() override;

private:
    std::string FHyperlinkPrefix;
    TColor FClickedHyperlinkColor = clPurple;
    std::string FTargetURL;
    bool FUseClickedHyperlinkColor = true;
    bool FUseHoverColor = true;
    TColor FHoverColor = clRed;
    // What leaving the label brings back: the colour and style it had when the pointer entered,
    // or the clicked colour once a navigation has succeeded.
    TColor FSavedColor = 0;
    TFontStyles FSavedFontStyle;
    bool FUseHoverFontStyle = false;
    TFontStyles FHoverFontStyle{fsUnderline};
};

// The shell service behind Navigate, replaceable so that tests can see what is opened and play a
// refusal.
struct THyperlinkShell {
    HINSTANCE(WINAPI* Execute)
    (HWND Owner, LPCSTR Verb, LPCSTR File, LPCSTR Parameters, LPCSTR Directory,
     INT ShowCommand) = ::ShellExecuteA;
};
extern THyperlinkShell HyperlinkShell;
